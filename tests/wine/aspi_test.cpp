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
  ASSERT_EQ(AspiExecute(FakeSend, 3, 6, Request(kDataIn, 8)), aspi::SS_COMP);
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
  ASSERT_EQ(AspiExecute(FakeSend, 0, 0, Request(7, 0)), aspi::SS_COMP);
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
  const u8 status = AspiExecute(FakeSend, 0, 0, Request(kDataIn));
  const auto waited = std::chrono::steady_clock::now() - start;
  completer.join();
  EXPECT_EQ(status, aspi::SS_COMP);
  EXPECT_TRUE(dataWritten);
  EXPECT_EQ(data_[0], 0x05);
  EXPECT_GE(waited, std::chrono::milliseconds(100));
}

TEST_F(AspiRequest, ErrorStatusCopiesSenseKeyAscAndAscqOnly) {
  g_manager = [](SRB_ExecSCSICmd& srb) {
    for (u8 i = 0; i < sizeof srb.SenseArea; ++i) srb.SenseArea[i] = static_cast<u8>(0x10 + i);
    srb.SRB_Status = aspi::SS_ERR;
  };
  ASSERT_EQ(AspiExecute(FakeSend, 0, 1, Request(kDataIn, 0)), kStatusCheck);
  EXPECT_EQ(data_[2], 0x12);
  EXPECT_EQ(data_[12], 0x1C);
  EXPECT_EQ(data_[13], 0x1D);
  for (std::size_t i : {0u, 1u, 3u, 11u, 14u}) EXPECT_EQ(data_[i], 0xA5) << "byte " << i;
}

TEST_F(AspiRequest, OtherStatusesPassUnchangedAndLeaveTheBufferAlone) {
  for (u8 status : {aspi::SS_NO_DEVICE, aspi::SS_ABORTED, u8{0x11}}) {
    g_manager = [status](SRB_ExecSCSICmd& srb) {
      std::memset(srb.SenseArea, 0x77, sizeof srb.SenseArea);
      srb.SRB_Status = status;
    };
    OsError error{5, 1, 1};  // left over from an earlier command
    CommandRequest request = Request(kDataIn);
    request.osError = &error;
    EXPECT_EQ(AspiExecute(FakeSend, 0, 2, request), status);
    EXPECT_FALSE(error.any()) << "the status byte is all the manager tells";
    EXPECT_EQ(data_[2], 0xA5);
    EXPECT_EQ(data_[12], 0xA5);
  }
}

TEST_F(AspiRequest, CdbLongerThanTheBlockHoldsIsNotSent) {
  std::array<u8, 17> longCdb{};
  g_manager = [](SRB_ExecSCSICmd& srb) { srb.SRB_Status = aspi::SS_COMP; };
  const CommandRequest request{longCdb.data(), 17, data_.data(), 0, kDataIn};
  EXPECT_NE(AspiExecute(FakeSend, 0, 0, request), kStatusGood);
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
    EXPECT_EQ(transport.ExecuteCommand(0, cdb.data(), 6, data.data(), 36, kDataIn),
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
  EXPECT_EQ(backend.Execute(0, CommandRequest{cdb.data(), 6, data.data(), 36, kDataIn}),
            kStatusCallFailed);
  // The manager offers neither a lock nor the transfer mode.
  EXPECT_EQ(backend.SetExclusive(0, true), std::nullopt);
  EXPECT_FALSE(backend.TransferMode(0).offered);
}

}  // namespace
}  // namespace veltran
