// The ASPI back end: the request block it hands the manager, its wait for a status that arrives
// later, the sense bytes of SS_ERR, and what happens when the manager cannot be used.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "drive/aspi_win.h"
#include "drive/transport.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

using aspi::SRB_ExecSCSICmd;

// A manager for one test at a time: the entry point is a plain function, so the behaviour
// lives in a variable.
std::function<void(SRB_ExecSCSICmd&)> g_manager;
int g_calls = 0;

std::uint32_t __cdecl FakeSend(void* request) {
  ++g_calls;
  auto& srb = *static_cast<SRB_ExecSCSICmd*>(request);
  g_manager(srb);
  return srb.SRB_Status;
}

class AspiRequest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_calls = 0;
    data_.fill(0xA5);
  }
  void TearDown() override { g_manager = nullptr; }

  CommandRequest Request(u8 direction, u32 length = 8) {
    return CommandRequest{cdb_.data(), 12, data_.data(), length, direction};
  }

  std::array<u8, 12> cdb_{0xFF, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA};
  std::array<u8, 64> data_{};
};

TEST_F(AspiRequest, CarriesTheCommandAsTheManagerReadsIt) {
  SRB_ExecSCSICmd seen{};
  g_manager = [&](SRB_ExecSCSICmd& srb) {
    seen = srb;
    srb.SRB_Status = aspi::SS_COMP;
  };
  ASSERT_EQ(AspiExecute(FakeSend, 3, 6, Request(kDataIn, 8)).status, aspi::SS_COMP);
  EXPECT_EQ(seen.SRB_Cmd, aspi::SC_EXEC_SCSI_CMD);
  EXPECT_EQ(seen.SRB_HaId, 3);
  EXPECT_EQ(seen.SRB_Target, 6);
  EXPECT_EQ(seen.SRB_Lun, 0);
  EXPECT_EQ(seen.SRB_Flags, aspi::SRB_DIR_IN);
  EXPECT_EQ(seen.SRB_BufLen, 8u);
  EXPECT_EQ(seen.SRB_BufPointer, data_.data());
  EXPECT_EQ(seen.SRB_SenseLen, 14);
  EXPECT_EQ(seen.SRB_CDBLen, 12);
  EXPECT_EQ(seen.SRB_PostProc, nullptr);
  EXPECT_EQ(std::memcmp(seen.CDBByte, cdb_.data(), 12), 0);
  EXPECT_EQ(seen.CDBByte[12], 0) << "the block is cleared before it is filled";
  EXPECT_EQ(seen.SRB_Hdr_Rsvd, 0u);

  // Any direction but 0 sends data to the drive.
  ASSERT_EQ(AspiExecute(FakeSend, 0, 0, Request(7, 0)).status, aspi::SS_COMP);
  EXPECT_EQ(seen.SRB_Flags, aspi::SRB_DIR_OUT);
  EXPECT_EQ(seen.SRB_BufLen, 0u);
  EXPECT_EQ(seen.SRB_BufPointer, data_.data()) << "the buffer travels even without data";
}

TEST_F(AspiRequest, WaitsForAStatusThatAnotherThreadSetsLater) {
  std::thread completer;
  std::atomic<bool> dataWritten{false};
  g_manager = [&](SRB_ExecSCSICmd& srb) {
    completer = std::thread([&srb, &dataWritten, this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      data_[0] = 0x05;
      dataWritten = true;
      *static_cast<volatile u8*>(&srb.SRB_Status) = aspi::SS_COMP;
    });
  };
  const auto start = std::chrono::steady_clock::now();
  const u8 status = AspiExecute(FakeSend, 0, 0, Request(kDataIn)).status;
  const auto waited = std::chrono::steady_clock::now() - start;
  completer.join();
  EXPECT_EQ(status, aspi::SS_COMP);
  EXPECT_TRUE(dataWritten);
  EXPECT_EQ(data_[0], 0x05);
  EXPECT_GE(waited, std::chrono::milliseconds(100));
}

TEST_F(AspiRequest, ErrorStatusReturnsSenseKeyAscAndAscqOnlyInEitherFormat) {
  // UNIT ATTENTION, MEDIUM MAY HAVE CHANGED: fixed format (with ILI beside the key), then
  // descriptor format; the rest of the sense area is noise the manager left.
  const std::array<std::array<u8, 14>, 2> senses{{
      {0x70, 0x11, 0x26, 0x13, 0x14, 0x15, 0x16, 0x0A, 0x18, 0x19, 0x1A, 0x1B, 0x28, 0x00},
      {0x72, 0x06, 0x28, 0x00, 0x14, 0x15, 0x16, 0x00, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D},
  }};
  for (const auto& sense : senses) {
    data_.fill(0xA5);
    g_manager = [&sense](SRB_ExecSCSICmd& srb) {
      std::memset(srb.SenseArea, 0x77, sizeof srb.SenseArea);
      std::memcpy(srb.SenseArea, sense.data(), sense.size());
      srb.SRB_Status = aspi::SS_ERR;
    };
    const CommandResult result = AspiExecute(FakeSend, 0, 1, Request(kDataIn, 0));
    ASSERT_EQ(result.status, kStatusCheck);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ((std::array<u8, 3>{data_[2], data_[12], data_[13]}),
              (std::array<u8, 3>{0x06, 0x28, 0x00}))
        << "format " << int{sense[0]};
    for (std::size_t i : {0u, 1u, 3u, 11u, 14u}) EXPECT_EQ(data_[i], 0xA5) << "byte " << i;
  }
}

struct OtherStatus {
  u8 srbStatus;
  u8 hostAdapterStatus;
  bool timedOut;
};

TEST_F(AspiRequest, OtherStatusesPassUnchangedLeaveTheBufferAloneAndSayWhenTimedOut) {
  for (const OtherStatus& c :
       {OtherStatus{aspi::SS_NO_DEVICE, 0, false}, OtherStatus{aspi::SS_ABORTED, 0, true},
        OtherStatus{aspi::SS_ABORTED, aspi::HASTAT_COMMAND_TIMEOUT, true},
        OtherStatus{u8{0x11}, aspi::HASTAT_TIMEOUT, true},
        OtherStatus{u8{0x11}, 0x11, false}}) {  // selection time-out
    g_manager = [c](SRB_ExecSCSICmd& srb) {
      std::memset(srb.SenseArea, 0x77, sizeof srb.SenseArea);
      srb.SRB_HaStat = c.hostAdapterStatus;
      srb.SRB_Status = c.srbStatus;
    };
    const CommandResult result = AspiExecute(FakeSend, 0, 2, Request(kDataIn));
    EXPECT_EQ(result.status, c.srbStatus);
    EXPECT_EQ(result.timedOut, c.timedOut) << int{c.srbStatus} << " " << int{c.hostAdapterStatus};
    EXPECT_EQ(result.os.hostStatus, c.hostAdapterStatus);
    EXPECT_EQ(result.residual, 0u) << "the request asks for no residual count";
    EXPECT_EQ(data_[2], 0xA5);
    EXPECT_EQ(data_[12], 0xA5);
  }
}

TEST_F(AspiRequest, CdbLongerThanTheBlockHoldsIsNotSent) {
  std::array<u8, 17> longCdb{};
  g_manager = [](SRB_ExecSCSICmd& srb) { srb.SRB_Status = aspi::SS_COMP; };
  const CommandRequest request{longCdb.data(), 17, data_.data(), 0, kDataIn};
  EXPECT_NE(AspiExecute(FakeSend, 0, 0, request).status, kStatusGood);
  EXPECT_EQ(g_calls, 0);
}

TEST(AspiManagerLoading, MissingLibraryOffersNoCandidatesAndSendsNothing) {
  const auto tracePath = testing::TempPath("veltran-aspi-missing");
  {
    Trace trace(tracePath.string());
    DriveTransport transport(std::make_unique<AspiBackend>("veltran-no-such-manager.dll"), trace);
    EXPECT_EQ(transport.ScanDrives(), 0);
    std::array<u8, 36> data{};
    const std::array<u8, 6> cdb{0x12, 0, 0, 0, 0x24, 0};
    EXPECT_EQ(transport.ExecuteCommand(0, CommandRequest{cdb.data(), 6, data.data(), 36}),
              kStatusCallFailed);
  }
  EXPECT_TRUE(testing::ReadLines(tracePath).empty());
  std::filesystem::remove(tracePath);
}

TEST(AspiManagerLoading, LibraryWithoutTheEntryPointsOffersNoCandidates) {
  AspiBackend backend("kernel32.dll");
  EXPECT_EQ(backend.BeginScan(), 0u);
  std::array<u8, 36> data{};
  const std::array<u8, 6> cdb{0x12, 0, 0, 0, 0x24, 0};
  EXPECT_EQ(backend.Execute(0, CommandRequest{cdb.data(), 6, data.data(), 36, kDataIn}).status,
            kStatusCallFailed);
  // The manager offers neither a lock nor the transfer mode.
  EXPECT_EQ(backend.SetExclusive(0, true), std::nullopt);
  EXPECT_FALSE(backend.TransferMode(0).offered);
}

}  // namespace
}  // namespace veltran
