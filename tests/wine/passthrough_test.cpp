// The pass-through back end: the request block as the storage stack reads it, the statuses it
// gives, and a scan under Wine, which has no optical drive to offer.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "drive/passthrough_win.h"
#include "drive/transport.h"
#include "support/virtual_rig.h"
#include "system/system.h"

namespace veltran {
namespace {

const std::array<u8, 12> kVendorIdentify{0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0xAA};

TEST(PassThroughRequest, CarriesTheCommandAsTheStorageStackReadsIt) {
  std::array<u8, 16> data{};
  const PassThroughRequest block =
      MakePassThroughRequest(CommandRequest{kVendorIdentify.data(), 12, data.data(), 8, kDataIn});
  const SCSI_PASS_THROUGH_DIRECT& h = block.header;
  EXPECT_EQ(h.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
  EXPECT_EQ(h.SenseInfoOffset, offsetof(PassThroughRequest, sense));
  EXPECT_EQ(h.SenseInfoLength, 24);
  EXPECT_EQ(h.PathId, 0);
  EXPECT_EQ(h.TargetId, 1);
  EXPECT_EQ(h.Lun, 0);
  EXPECT_EQ(h.CdbLength, 12);
  EXPECT_EQ(h.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(h.DataTransferLength, 8u);
  EXPECT_EQ(h.TimeOutValue, kDefaultTimeoutSeconds);
  EXPECT_EQ(h.DataBuffer, data.data());
  EXPECT_EQ(std::memcmp(h.Cdb, kVendorIdentify.data(), 12), 0);
  EXPECT_EQ(h.ScsiStatus, 0);
  // The sense area lies inside the block that goes to the call both ways.
  EXPECT_LE(h.SenseInfoOffset + h.SenseInfoLength, sizeof(PassThroughRequest));
}

TEST(PassThroughRequest, DirectionZeroReadsEvenWithoutDataAndAnyOtherWrites) {
  std::array<u8, 16> data{};
  const std::array<u8, 6> testUnitReady{};
  const PassThroughRequest none =
      MakePassThroughRequest(CommandRequest{testUnitReady.data(), 6, data.data(), 0, kDataIn});
  EXPECT_EQ(none.header.DataIn, SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(none.header.DataTransferLength, 0u);
  EXPECT_EQ(none.header.DataBuffer, data.data());
  const PassThroughRequest out =
      MakePassThroughRequest(CommandRequest{testUnitReady.data(), 6, data.data(), 8, 9});
  EXPECT_EQ(out.header.DataIn, SCSI_IOCTL_DATA_OUT);
}

TEST(PassThroughRequest, TimeOutIsTheRequestsInSeconds) {
  std::array<u8, 16> data{};
  for (const u32 seconds : {1u, 60u, 600u, 7200u, 0xFFFFFFFFu}) {
    CommandRequest request{kVendorIdentify.data(), 12, data.data(), 8, kDataOut};
    request.timeoutSeconds = seconds;
    EXPECT_EQ(MakePassThroughRequest(request).header.TimeOutValue, seconds);
  }
}

// What the driver leaves in the block: the SCSI status, the count it moved, the sense area.
PassThroughRequest Finished(const CommandRequest& request, UCHAR scsiStatus, ULONG moved) {
  PassThroughRequest block = MakePassThroughRequest(request);
  block.header.ScsiStatus = scsiStatus;
  block.header.DataTransferLength = moved;
  // NOT READY, MEDIUM NOT PRESENT - TRAY OPEN, with FILEMARK set beside the key.
  const u8 sense[] = {0x70, 0, 0x82, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x3A, 0x02};
  std::memcpy(block.sense, sense, sizeof sense);
  return block;
}

struct ResultCase {
  const char* name;
  bool callSucceeded;
  DWORD error;
  UCHAR scsiStatus;
  ULONG moved;  // of 16 requested
  u8 status;
  bool timedOut;
  u32 residual;
};

class PassThroughResultTable : public ::testing::TestWithParam<ResultCase> {};

TEST_P(PassThroughResultTable, FollowsTheCallTheScsiStatusAndTheCountMoved) {
  const ResultCase& c = GetParam();
  std::array<u8, 16> data;
  data.fill(0xA5);
  const CommandRequest request{kVendorIdentify.data(), 12, data.data(), 16, kDataIn};
  const CommandResult result = PassThroughResult(c.callSucceeded, c.error,
                                                 Finished(request, c.scsiStatus, c.moved), request);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.timedOut, c.timedOut);
  EXPECT_EQ(result.residual, c.residual);
  EXPECT_EQ(result.os.code, c.callSucceeded ? 0u : c.error);
  const bool senseReturned = c.status == kStatusCheck;
  EXPECT_EQ((std::array<u8, 3>{data[2], data[12], data[13]}),
            senseReturned ? (std::array<u8, 3>{0x02, 0x3A, 0x02})
                          : (std::array<u8, 3>{0xA5, 0xA5, 0xA5}));
  for (std::size_t i : {0u, 1u, 3u, 11u, 14u}) EXPECT_EQ(data[i], 0xA5) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, PassThroughResultTable,
    ::testing::Values(
        ResultCase{"Good", true, 0, 0, 16, kStatusGood, false, 0},
        ResultCase{"GoodShort", true, 0, 0, 10, kStatusGood, false, 6},
        ResultCase{"CheckCondition", true, 0, 0x02, 0, kStatusCheck, false, 16},
        ResultCase{"BusyCountsAsCheck", true, 0, 0x08, 16, kStatusCheck, false, 0},
        ResultCase{"SemTimeout", false, ERROR_SEM_TIMEOUT, 0, 16, kStatusCallFailed, true, 0},
        ResultCase{"Timeout", false, ERROR_TIMEOUT, 0, 16, kStatusCallFailed, true, 0},
        ResultCase{"WaitTimeout", false, WAIT_TIMEOUT, 0, 16, kStatusCallFailed, true, 0},
        ResultCase{"IoDevice", false, ERROR_IO_DEVICE, 0, 16, kStatusCallFailed, false, 0},
        ResultCase{"InvalidFunction", false, ERROR_INVALID_FUNCTION, 0, 16, kStatusCallFailed,
                   false, 0}),
    [](const ::testing::TestParamInfo<ResultCase>& c) { return std::string(c.param.name); });

TEST(PassThroughResult, SenseInDescriptorFormatGivesTheSameBytes) {
  std::array<u8, 16> data;
  data.fill(0xA5);
  const CommandRequest request{kVendorIdentify.data(), 12, data.data(), 16, kDataIn};
  PassThroughRequest block = Finished(request, 0x02, 16);
  const u8 descriptor[] = {0x72, 0x02, 0x3A, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(block.sense, descriptor, sizeof descriptor);
  EXPECT_EQ(PassThroughResult(true, 0, block, request).status, kStatusCheck);
  EXPECT_EQ((std::array<u8, 3>{data[2], data[12], data[13]}), (std::array<u8, 3>{2, 0x3A, 2}));
}

TEST(PassThroughExecute, CallOnSomethingThatIsNoDeviceFailsWithoutTouchingTheBuffer) {
  const auto path = testing::TempPath("veltran-not-a-device");
  std::ofstream(path) << "plain file";
  DeviceHandle file{CreateFileA(path.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)};
  ASSERT_TRUE(file);
  std::array<u8, 36> data;
  data.fill(0xA5);
  const std::array<u8, 6> inquiry{0x12, 0, 0, 0, 0x24, 0};
  const CommandRequest request{inquiry.data(), 6, data.data(), 36, kDataIn};
  CommandResult result = PassThroughExecute(file.get(), request);
  EXPECT_EQ(result.status, kStatusCallFailed);
  EXPECT_NE(result.os.code, 0u) << "the system said why";
  EXPECT_FALSE(result.timedOut);
  result = PassThroughExecute(INVALID_HANDLE_VALUE, request);
  EXPECT_EQ(result.status, kStatusCallFailed);
  EXPECT_EQ(result.os.code, static_cast<u32>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(result.os.Describe(), "os 6");
  EXPECT_EQ(data[0], 0xA5);
  EXPECT_EQ(data[2], 0xA5);
  file.Reset();
  std::filesystem::remove(path);
}

TEST(PassThroughExecute, CdbLongerThanTheBlockHoldsIsRefusedWithoutAnOsError) {
  std::array<u8, 17> longCdb{};
  std::array<u8, 16> data{};
  const CommandResult result =
      PassThroughExecute(INVALID_HANDLE_VALUE, CommandRequest{longCdb.data(), 17, data.data(), 0});
  EXPECT_EQ(result.status, kStatusCallFailed);
  EXPECT_FALSE(result.os.any()) << "nothing was sent, so the system said nothing";
}

template <typename T>
std::vector<u8> Bytes(const T& value) {
  const auto* first = reinterpret_cast<const u8*>(&value);
  return std::vector<u8>(first, first + sizeof value);
}

TEST(ExclusiveAccessRequest, LockAndUnlockCarryTheBytesTheDriverReads) {
  std::vector<u8> lock(72, 0);
  lock[0] = 1;  // lock the device
  lock[4] = 1;  // even with a volume mounted
  for (std::size_t i = 0; i < 7; ++i) lock[8 + i] = static_cast<u8>("VELTRAN"[i]);
  EXPECT_EQ(Bytes(MakeExclusiveLockRequest(kExclusiveCallerName)), lock);
  EXPECT_EQ(Bytes(MakeExclusiveUnlockRequest()), (std::vector<u8>{2, 0, 0, 0, 0, 0, 0, 0}));

  // A name longer than the structure holds keeps its terminator.
  const cdrom::ExclusiveLock cut = MakeExclusiveLockRequest(std::string(80, 'A'));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.CallerName)), std::string(63, 'A'));
}

TEST(ExclusiveAccessUnderWine, IsRefusedOnHandlesThatAreNoDrive) {
  const auto path = testing::TempPath("veltran-not-a-drive");
  std::ofstream(path) << "plain file";
  DeviceHandle file{CreateFileA(path.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)};
  ASSERT_TRUE(file);
  for (const bool on : {true, false}) {
    EXPECT_FALSE(SetCdromExclusive(file.get(), on)) << on;
    EXPECT_FALSE(SetCdromExclusive(INVALID_HANDLE_VALUE, on)) << on;
  }
  file.Reset();
  std::filesystem::remove(path);
}

// A drive that another program holds stops a download; a driver that does not know the lock
// request (Wine's) only means there is no lock to take.
TEST(ExclusiveLock, OnlyAnInUseRefusalMeansAnotherProgramHoldsTheDrive) {
  const struct {
    bool succeeded;
    DWORD error;
    std::optional<bool> answer;
  } rows[] = {
      {true, ERROR_SUCCESS, true},
      {false, ERROR_ACCESS_DENIED, false},
      {false, ERROR_SHARING_VIOLATION, false},
      {false, ERROR_LOCK_VIOLATION, false},
      {false, ERROR_DRIVE_LOCKED, false},
      {false, ERROR_BUSY, false},
      {false, ERROR_INVALID_PARAMETER, std::nullopt},
      {false, ERROR_NOT_SUPPORTED, std::nullopt},
      {false, ERROR_INVALID_FUNCTION, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ExclusiveLockAnswer(row.succeeded, row.error), row.answer) << row.error;
  }
}

TEST(PassThroughUnderWine, ScanFindsNoDriveAndSendsNothing) {
  const auto tracePath = testing::TempPath("veltran-passthrough-trace");
  {
    Trace trace(tracePath.string());
    DriveTransport transport(MakeHostBackend(kPlatformNT), trace);
    EXPECT_EQ(transport.ScanDrives(), 0);
    std::array<u8, 96> data{};
    const std::array<u8, 6> inquiry{0x12, 0, 0, 0, 0x60, 0};
    EXPECT_EQ(transport.ExecuteCommand(0, CommandRequest{inquiry.data(), 6, data.data(), 96}),
              kStatusCallFailed);
  }
  EXPECT_TRUE(testing::ReadLines(tracePath).empty());
  std::filesystem::remove(tracePath);
}

TEST(PassThroughUnderWine, EveryLetterIsACandidateAndNoneIsOpened) {
  PassThroughBackend backend;
  ASSERT_EQ(backend.BeginScan(), 26u);
  std::array<u8, 36> data{};
  const std::array<u8, 6> inquiry{0x12, 0, 0, 0, 0x24, 0};
  const CommandRequest request{inquiry.data(), 6, data.data(), 36, kDataIn};
  for (unsigned letter = 0; letter < 26; ++letter) {
    EXPECT_FALSE(backend.Probe(letter, request).has_value()) << char('a' + letter);
  }
  backend.Accept(0);  // nothing was probed successfully: nothing to keep
  EXPECT_EQ(backend.Execute(0, request).status, kStatusCallFailed);
  // The lock is offered, but there is no device to take it on; the mode is not offered.
  EXPECT_EQ(backend.SetExclusive(0, true), std::optional<bool>(false));
  EXPECT_FALSE(backend.TransferMode(0).offered);
}

}  // namespace
}  // namespace veltran
