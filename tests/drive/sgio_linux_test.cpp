// The Linux back end without a drive: the SG_IO header and result, what the OS says about a
// refused call, and the reopen that takes or gives back exclusive use, on files and FIFOs.
#include "drive/sgio_linux.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "support/temp_files.h"

namespace veltran {
namespace {

const std::array<u8, 6> kInquiry{0x12, 0, 0, 0, 0x24, 0};

struct TimeoutCase {
  u32 seconds;
  unsigned milliseconds;
};

void PrintTo(const TimeoutCase& c, std::ostream* os) { *os << c.seconds << " s"; }

class SgIoHeaderTimeout : public ::testing::TestWithParam<TimeoutCase> {};

TEST_P(SgIoHeaderTimeout, IsTheRequestsInMillisecondsCappedAtWhatTheHeaderHolds) {
  std::array<u8, 36> data{};
  std::array<u8, 32> sense{};
  CommandRequest request{kInquiry.data(), 6, data.data(), 36, kDataIn};
  request.timeoutSeconds = GetParam().seconds;
  const sg_io_hdr_t hdr = MakeSgIoHeader(request, sense.data(), 32);
  EXPECT_EQ(hdr.timeout, GetParam().milliseconds);
}

INSTANTIATE_TEST_SUITE_P(Seconds, SgIoHeaderTimeout,
                         ::testing::Values(TimeoutCase{60, 60000}, TimeoutCase{1, 1000},
                                           TimeoutCase{3600, 3600000},
                                           TimeoutCase{4294967, 4294967000u},
                                           TimeoutCase{4294968, UINT_MAX},
                                           TimeoutCase{UINT32_MAX, UINT_MAX}));

TEST(SgIoHeader, CarriesTheCommandBufferAndDirection) {
  std::array<u8, 36> data{};
  std::array<u8, 32> sense{};
  const sg_io_hdr_t in = MakeSgIoHeader(
      CommandRequest{kInquiry.data(), 6, data.data(), 36, kDataIn}, sense.data(), 32);
  EXPECT_EQ(in.interface_id, 'S');
  EXPECT_EQ(in.dxfer_direction, SG_DXFER_FROM_DEV);
  EXPECT_EQ(in.cmd_len, 6);
  EXPECT_EQ(in.cmdp, kInquiry.data());
  EXPECT_EQ(in.dxferp, data.data());
  EXPECT_EQ(in.dxfer_len, 36u);
  EXPECT_EQ(in.sbp, sense.data());
  EXPECT_EQ(in.mx_sb_len, 32);
  EXPECT_EQ(in.timeout, kDefaultTimeoutSeconds * 1000);
  const sg_io_hdr_t out =
      MakeSgIoHeader(CommandRequest{kInquiry.data(), 6, data.data(), 8, 7}, sense.data(), 32);
  EXPECT_EQ(out.dxfer_direction, SG_DXFER_TO_DEV);
  const sg_io_hdr_t none =
      MakeSgIoHeader(CommandRequest{kInquiry.data(), 6, data.data(), 0, kDataIn}, sense.data(), 32);
  EXPECT_EQ(none.dxfer_direction, SG_DXFER_NONE);
}

struct ResultCase {
  unsigned short hostStatus;
  unsigned short driverStatus;
  unsigned char scsiStatus;
  u8 expected;
  bool timedOut;
};

void PrintTo(const ResultCase& c, std::ostream* os) {
  *os << "host " << c.hostStatus << " driver " << c.driverStatus << " status " << int{c.scsiStatus};
}

class SgIoResultTable : public ::testing::TestWithParam<ResultCase> {};

// The sense data say ILLEGAL REQUEST with ILI set, ASC 24h, ASCQ 01h, in `written` bytes.
void ExpectResult(const ResultCase& c, std::array<u8, 32> sense, unsigned char written) {
  SCOPED_TRACE(::testing::Message() << "sense format " << std::hex << int{sense[0]});
  std::array<u8, 16> data;
  data.fill(0xA5);
  const CommandRequest request{kInquiry.data(), 6, data.data(), 16, kDataIn};
  sg_io_hdr_t hdr = MakeSgIoHeader(request, sense.data(), 32);
  hdr.host_status = c.hostStatus;
  hdr.driver_status = c.driverStatus;
  hdr.status = c.scsiStatus;
  hdr.sb_len_wr = written;

  const CommandResult result = SgIoResult(hdr, request);
  EXPECT_EQ(result.status, c.expected);
  EXPECT_EQ(result.timedOut, c.timedOut);
  const bool failed = c.expected == kStatusCallFailed;
  EXPECT_EQ(result.os.code, 0u);
  EXPECT_EQ(result.os.hostStatus, failed ? c.hostStatus : 0u);
  EXPECT_EQ(result.os.driverStatus, failed ? c.driverStatus : 0u);
  const bool senseReturned = c.expected == kStatusCheck;
  EXPECT_EQ(data[2], senseReturned ? 0x05 : 0xA5) << "the key alone, without the ILI bit";
  EXPECT_EQ(data[12], senseReturned ? 0x24 : 0xA5);
  EXPECT_EQ(data[13], senseReturned ? 0x01 : 0xA5);
  EXPECT_EQ(data[3], 0xA5);
}

TEST_P(SgIoResultTable, StatusTimeOutAndOsErrorFollowTheHeader) {
  ExpectResult(GetParam(), {0x70, 0x00, 0x25, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, 18);
  // What the kernel's SCSI target sends when it fails a command itself.
  ExpectResult(GetParam(), {0x72, 0x05, 0x24, 0x01, 0, 0, 0, 0}, 8);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, SgIoResultTable,
    ::testing::Values(ResultCase{0, 0, 0, kStatusGood, false},
                      ResultCase{0, 0x08, 0x02, kStatusCheck, false},  // sense present: no failure
                      ResultCase{0, 0x18, 0x02, kStatusCheck, false},  // suggestion bits ignored
                      ResultCase{0, 0, 0x08, kStatusCheck, false},     // BUSY
                      ResultCase{0x07, 0, 0, kStatusCallFailed, false},       // DID_ERROR
                      ResultCase{0x01, 0, 0, kStatusCallFailed, false},       // DID_NO_CONNECT
                      ResultCase{0x03, 0x08, 0x02, kStatusCallFailed, true},  // DID_TIME_OUT
                      ResultCase{0x03, 0, 0, kStatusCallFailed, true},
                      ResultCase{0, 0x06, 0, kStatusCallFailed, true},      // DRIVER_TIMEOUT
                      ResultCase{0, 0x0E, 0x02, kStatusCallFailed, true},   // ... with sense
                      ResultCase{0, 0x26, 0, kStatusCallFailed, true},      // ... with a suggestion
                      ResultCase{0, 0x01, 0x02, kStatusCallFailed, false},  // DRIVER_BUSY
                      ResultCase{0, 0x04, 0, kStatusCallFailed, false}));   // DRIVER_ERROR

struct ResidualCase {
  int resid;
  unsigned dxferLength;
  unsigned short hostStatus;
  u32 expected;
};

void PrintTo(const ResidualCase& c, std::ostream* os) {
  *os << "resid " << c.resid << " of " << c.dxferLength << " host " << c.hostStatus;
}

class SgIoResidual : public ::testing::TestWithParam<ResidualCase> {};

TEST_P(SgIoResidual, IsTheKernelsCountWithinTheLength) {
  const ResidualCase& c = GetParam();
  std::array<u8, 96> data{};
  std::array<u8, 32> sense{};
  const CommandRequest request{kInquiry.data(), 6, data.data(), c.dxferLength, kDataIn};
  sg_io_hdr_t hdr = MakeSgIoHeader(request, sense.data(), 32);
  hdr.resid = c.resid;
  hdr.host_status = c.hostStatus;
  EXPECT_EQ(SgIoResult(hdr, request).residual, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, SgIoResidual,
    ::testing::Values(ResidualCase{0, 96, 0, 0}, ResidualCase{60, 96, 0, 60},  // 36 of 96 sent
                      ResidualCase{96, 96, 0, 96},                             // nothing moved
                      ResidualCase{96, 96, 0x03, 96},  // a time-out tells it too
                      ResidualCase{-4, 96, 0, 0}, ResidualCase{200, 96, 0, 96}));

TEST(SendSgIo, CallTheKernelRefusesKeepsItsErrnoAndLeavesTheBuffer) {
  testing::TempFile file("veltran-not-sg");
  testing::WriteFile(file.path(), {1, 2, 3});
  FileDescriptor fd(::open(file.path().c_str(), O_RDWR | O_CLOEXEC));
  ASSERT_TRUE(fd);
  std::array<u8, 36> data;
  data.fill(0xA5);
  const CommandRequest request{kInquiry.data(), 6, data.data(), 36, kDataIn};

  CommandResult result = SendSgIo(fd.get(), request);
  EXPECT_EQ(result.status, kStatusCallFailed);
  EXPECT_TRUE(result.os.code == ENOTTY || result.os.code == EINVAL) << result.os.code;
  EXPECT_EQ(result.os.hostStatus, 0u);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(data[0], 0xA5);

  result = SendSgIo(-1, request);
  EXPECT_EQ(result.status, kStatusCallFailed);
  EXPECT_EQ(result.os.code, static_cast<u32>(EBADF));
  EXPECT_EQ(result.os.Describe(), "os " + std::to_string(EBADF));
}

// Writes through the descriptor and reads the bytes back: the descriptor is usable.
bool RoundTrips(const FileDescriptor& fd) {
  if (::write(fd.get(), "ping", 4) != 4) return false;
  ::lseek(fd.get(), 0, SEEK_SET);  // a FIFO has no position: the bytes are next anyway
  char back[4] = {};
  return ::read(fd.get(), back, 4) == 4 && std::string(back, 4) == "ping";
}

enum class NodeKind { kFile, kFifo };

class ReopenOnNode : public ::testing::TestWithParam<NodeKind> {
 protected:
  void SetUp() override {
    if (GetParam() == NodeKind::kFifo) {
      ASSERT_EQ(::mkfifo(node_.path().c_str(), 0600), 0);
    } else {
      testing::WriteFile(node_.path(), {});
    }
    fd_ = FileDescriptor(OpenNode(path(), DeviceOpenFlags(false)));
    ASSERT_TRUE(fd_);
  }
  std::string path() const { return node_.path().string(); }

  testing::TempFile node_{"veltran-node"};
  FileDescriptor fd_;
};

TEST_P(ReopenOnNode, ExclusiveOpenClosesTheOwnDescriptorFirstAndAsksForOExcl) {
  std::vector<int> flags;
  const int before = fd_.get();
  bool ownClosed = false;
  const NodeOpener recording = [&](const std::string& p, int f) {
    flags.push_back(f);
    ownClosed = ::fcntl(before, F_GETFD) == -1 && errno == EBADF;
    return OpenNode(p, f);
  };
  EXPECT_TRUE(ReopenNode(fd_, path(), true, recording));
  EXPECT_TRUE(ownClosed);
  EXPECT_TRUE(RoundTrips(fd_));
  EXPECT_TRUE(ReopenNode(fd_, path(), false, recording));
  EXPECT_TRUE(RoundTrips(fd_));
  ASSERT_EQ(flags.size(), 2u);
  EXPECT_EQ(flags[0], O_RDWR | O_NONBLOCK | O_CLOEXEC | O_EXCL);
  EXPECT_EQ(flags[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
  EXPECT_TRUE(::fcntl(fd_.get(), F_GETFD) & FD_CLOEXEC);
}

TEST_P(ReopenOnNode, RefusedExclusiveOpenLeavesTheDeviceOpenAndSaysFalse) {
  std::vector<int> flags;
  // What the sg driver does while another program holds the node open.
  const NodeOpener busy = [&](const std::string& p, int f) {
    flags.push_back(f);
    if (f & O_EXCL) {
      errno = EBUSY;
      return -1;
    }
    return OpenNode(p, f);
  };
  EXPECT_FALSE(ReopenNode(fd_, path(), true, busy));
  ASSERT_TRUE(fd_);
  EXPECT_TRUE(RoundTrips(fd_));
  EXPECT_EQ(flags, (std::vector<int>{DeviceOpenFlags(true), DeviceOpenFlags(false)}));
}

INSTANTIATE_TEST_SUITE_P(Nodes, ReopenOnNode, ::testing::Values(NodeKind::kFile, NodeKind::kFifo));

TEST(ReopenNode, NodeThatIsGoneFailsBothWays) {
  testing::TempFile gone("veltran-gone");
  for (bool exclusive : {true, false}) {
    FileDescriptor fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    EXPECT_FALSE(ReopenNode(fd, gone.path().string(), exclusive)) << exclusive;
    EXPECT_FALSE(fd);
  }
}

}  // namespace
}  // namespace veltran
