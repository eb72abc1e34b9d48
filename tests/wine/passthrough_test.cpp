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

TEST(PassThroughResult, StatusFollowsTheCallAndTheScsiStatus) {
  PassThroughRequest block{};
  for (std::size_t i = 0; i < sizeof block.sense; ++i) block.sense[i] = static_cast<u8>(0x40 + i);
  std::array<u8, 16> data;

  data.fill(0xA5);
  EXPECT_EQ(PassThroughResult(false, block, data.data()), kStatusCallFailed);
  EXPECT_EQ(data[2], 0xA5);

  block.header.ScsiStatus = 0;
  EXPECT_EQ(PassThroughResult(true, block, data.data()), kStatusGood);
  EXPECT_EQ(data[2], 0xA5) << "good status copies no sense";

  block.header.ScsiStatus = 0x08;  // BUSY: any non-zero status counts
  EXPECT_EQ(PassThroughResult(true, block, data.data()), kStatusCheck);
  EXPECT_EQ(data[2], 0x42);
  EXPECT_EQ(data[12], 0x4C);
  EXPECT_EQ(data[13], 0x4D);
  for (std::size_t i : {0u, 1u, 3u, 11u, 14u}) EXPECT_EQ(data[i], 0xA5) << "byte " << i;
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
  OsError error;
  CommandRequest request{inquiry.data(), 6, data.data(), 36, kDataIn};
  request.osError = &error;
  EXPECT_EQ(PassThroughExecute(file.get(), request), kStatusCallFailed);
  EXPECT_NE(error.code, 0u) << "the system said why";
  EXPECT_EQ(PassThroughExecute(INVALID_HANDLE_VALUE, request), kStatusCallFailed);
  EXPECT_EQ(error.code, static_cast<u32>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(error.Describe(), "os 6");
  EXPECT_EQ(data[0], 0xA5);
  EXPECT_EQ(data[2], 0xA5);
  file.Reset();
  std::filesystem::remove(path);
}

TEST(PassThroughExecute, CdbLongerThanTheBlockHoldsIsRefusedWithoutAnOsError) {
  std::array<u8, 17> longCdb{};
  std::array<u8, 16> data{};
  OsError error{5, 0, 0};  // left over from an earlier command
  CommandRequest request{longCdb.data(), 17, data.data(), 0, kDataIn};
  request.osError = &error;
  EXPECT_EQ(PassThroughExecute(INVALID_HANDLE_VALUE, request), kStatusCallFailed);
  EXPECT_FALSE(error.any()) << "nothing was sent, so the system said nothing";
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

TEST(PassThroughUnderWine, ScanFindsNoDriveAndSendsNothing) {
  const auto tracePath = testing::TempPath("veltran-passthrough-trace");
  {
    Trace trace(tracePath.string());
    DriveTransport transport(MakeHostBackend(kPlatformNT), trace);
    EXPECT_EQ(transport.ScanDrives(), 0);
    std::array<u8, 96> data{};
    const std::array<u8, 6> inquiry{0x12, 0, 0, 0, 0x60, 0};
    EXPECT_EQ(transport.ExecuteCommand(0, inquiry.data(), 6, data.data(), 96, kDataIn),
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
  EXPECT_EQ(backend.Execute(0, request), kStatusCallFailed);
  // The lock is offered, but there is no device to take it on; the mode is not offered.
  EXPECT_EQ(backend.SetExclusive(0, true), std::optional<bool>(false));
  EXPECT_FALSE(backend.TransferMode(0).offered);
}

}  // namespace
}  // namespace veltran
