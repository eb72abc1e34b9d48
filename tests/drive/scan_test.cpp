// Drive discovery and the command statuses, through the virtual back end and the trace.
#include <gtest/gtest.h>

#include "drive/catalogue.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

using testing::NtDrive;
using testing::VirtualRig;

std::string Inquiry(int peripheral, const std::string& product = "CDW/DVD GA-W837C") {
  return R"({"peripheral": )" + std::to_string(peripheral) +
         R"(, "vendor": "BRELMONT", "product": ")" + product +
         R"(", "revision": "NA00", "prefix": "NA "})";
}

std::string ListEntry(VirtualRig& rig, u8 device) {
  EXPECT_EQ(rig.ctx().Send(device, Command::kInquiryList), kStatusGood);
  return std::string(reinterpret_cast<const char*>(&rig.buffer()[8]), 28);
}

TEST(NtScan, MachineWithoutDrivesFindsNothingAndSendsNothing) {
  VirtualRig rig(R"({"platform": "nt", "drives": []})");
  EXPECT_EQ(rig.transport().ScanDrives(), 0);
  EXPECT_TRUE(rig.TraceLines().empty());
}

TEST(NtScan, RejectedLettersLeaveNoGapInDeviceIndices) {
  VirtualRig rig(R"({"platform": "nt", "drives": [
    {"letter": "h", "inquiry": )" +
                 Inquiry(5, "THIRD") + R"(},
    {"letter": "d", "inquiry": )" +
                 Inquiry(0x25, "QUALIFIED") + R"(},
    {"letter": "c", "inquiry": )" +
                 Inquiry(0, "A DISK") + R"(},
    {"letter": "f", "inquiry": )" +
                 Inquiry(5, "SECOND") + R"(, "disc": true}]})");
  ASSERT_EQ(rig.transport().ScanDrives(), 2);
  // Letters in order c, d, f, h: the two rejected candidates are probed with index 0.
  EXPECT_EQ(rig.CommandsTraced(),
            (std::vector<std::string>{"0 120000002400 01", "0 120000002400 01", "0 120000002400 01",
                                      "1 120000002400 01"}));
  EXPECT_EQ(ListEntry(rig, 0).substr(8, 16), "SECOND          ");
  EXPECT_EQ(ListEntry(rig, 1).substr(8, 16), "THIRD           ");
}

TEST(NtScan, FailedScanInquiryIsNotFound) {
  VirtualRig rig(
      NtDrive(Inquiry(5), R"("faults": [{"at": 1, "status": "check", "sense": [2, 4, 1]}])"));
  EXPECT_EQ(rig.transport().ScanDrives(), 0);
  EXPECT_EQ(rig.CommandsTraced(), std::vector<std::string>{"0 120000002400 04"});
}

TEST(NtScan, DeviceAtOrBeyondTheCountIsRefusedWithoutSending) {
  VirtualRig rig(NtDrive(Inquiry(5)));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.ClearTrace();
  EXPECT_EQ(rig.ctx().Send(1, Command::kInquiry), kStatusCallFailed);
  EXPECT_TRUE(rig.TraceLines().empty());
}

TEST(AspiScan, NumbersDevicesByAdapterThenTargetAndProbesEveryTarget) {
  VirtualRig rig(R"({"platform": "9x", "drives": [
    {"host_adapter": 1, "target": 0, "inquiry": )" +
                 Inquiry(5, "ON ADAPTER ONE") + R"(},
    {"host_adapter": 0, "target": 5, "lun": 1, "inquiry": )" +
                 Inquiry(5, "AT LUN ONE") + R"(},
    {"host_adapter": 0, "target": 3, "inquiry": )" +
                 Inquiry(5, "ON ADAPTER ZERO") + R"(}]})");
  ASSERT_EQ(rig.transport().ScanDrives(), 2);
  const auto traced = rig.CommandsTraced();
  ASSERT_EQ(traced.size(), 16u);              // two adapters, eight targets each
  EXPECT_EQ(traced[0], "0 120000002400 82");  // no device at 0:0
  EXPECT_EQ(traced[3], "0 120000002400 01");
  EXPECT_EQ(traced[4], "1 120000002400 82");
  EXPECT_EQ(traced[5], "1 120000002400 82");  // the drive at LUN 1 never answers
  EXPECT_EQ(traced[8], "1 120000002400 01");
  EXPECT_EQ(traced[15], "2 120000002400 82");
  EXPECT_EQ(ListEntry(rig, 0).substr(8, 16), "ON ADAPTER ZERO ");
  EXPECT_EQ(ListEntry(rig, 1).substr(8, 16), "ON ADAPTER ONE  ");
}

struct FaultCase {
  const char* name;
  const char* platform;
  const char* fault;
  u8 status;
  std::array<u8, 3> sense;  // buffer bytes 2, 12, 13 afterwards
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class CommandStatus : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CommandStatus, FaultGivesStatusAndSenseBytes) {
  const FaultCase& c = GetParam();
  const std::string drive = std::string(c.platform) == "nt" ? R"("letter": "e", )"
                                                            : R"("host_adapter": 0, "target": 1, )";
  VirtualRig rig(std::string(R"({"platform": ")") + c.platform + R"(", "drives": [{)" + drive +
                 R"("inquiry": )" + Inquiry(5) + R"(, "faults": [)" + c.fault + "]}]}");
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.buffer().fill(0xEE);
  EXPECT_EQ(rig.ctx().Send(0, Command::kTestUnitReady), c.status);
  EXPECT_EQ((std::array<u8, 3>{rig.buffer()[2], rig.buffer()[12], rig.buffer()[13]}), c.sense);
}

INSTANTIATE_TEST_SUITE_P(
    BothBackEnds, CommandStatus,
    ::testing::Values(
        FaultCase{
            "NtCheck", "nt", R"({"at": 2, "status": "check", "sense": [6, 41, 0]})", 4, {6, 41, 0}},
        FaultCase{"AspiCheck",
                  "9x",
                  R"({"at": 2, "status": "check", "sense": [6, 41, 0]})",
                  4,
                  {6, 41, 0}},
        FaultCase{"NtBusy", "nt", R"({"at": 2, "status": "busy"})", 4, {0, 0, 0}},
        FaultCase{"AspiBusy", "9x", R"({"at": 2, "status": "busy"})", 4, {0, 0, 0}},
        FaultCase{
            "NtTransport", "nt", R"({"at": 2, "status": "transport"})", 0xFF, {0xEE, 0xEE, 0xEE}},
        FaultCase{
            "AspiTransport", "9x", R"({"at": 2, "status": "transport"})", 0x02, {0xEE, 0xEE, 0xEE}},
        // No fault: an empty drive answers TEST UNIT READY with NOT READY, MEDIUM NOT PRESENT.
        FaultCase{"NtNoDisc", "nt", R"({"at": 99, "status": "busy"})", 4, {2, 0x3A, 0}}),
    [](const ::testing::TestParamInfo<FaultCase>& c) { return std::string(c.param.name); });

TEST(CommandStatus, CommandWithoutDataStillCarriesTheBufferAndDirectionIn) {
  VirtualRig rig(NtDrive(Inquiry(5), R"("disc": true)"));
  ASSERT_EQ(rig.transport().ScanDrives(), 1);
  rig.ClearTrace();
  EXPECT_EQ(rig.ctx().Send(0, Command::kTestUnitReady), kStatusGood);
  EXPECT_EQ(rig.TraceLines(), std::vector<std::string>{"scsi 0 000000000000 in 0 01 00000000"});
}

}  // namespace
}  // namespace veltran
