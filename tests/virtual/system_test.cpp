// Ending a process by name and restarting, against the virtual system, with the trace they leave.
#include <gtest/gtest.h>

#include "app/preparation.h"
#include "support/virtual_rig.h"

namespace veltran {
namespace {

struct KillRun {
  int result;
  std::vector<std::string> trace;
  std::vector<bool> running;
};

KillRun Kill(const std::string& processes, const std::string& wanted = "directcd.exe") {
  testing::VirtualRig rig(R"({"processes": )" + processes + "}");
  auto system = MakeVirtualSystem(rig.machine());
  KillRun run{KillProcessByName(*system, rig.trace(), wanted), rig.TraceLines(), {}};
  for (std::size_t i = 0; i < rig.machine().scenario().processes.size(); ++i) {
    run.running.push_back(rig.machine().IsRunning(i));
  }
  return run;
}

TEST(KillProcessByName, MatchesTheLastTwelveCharactersWithoutRegardToCase) {
  EXPECT_EQ(Kill(R"(["explorer.exe", "DirectCD.EXE"])").running, (std::vector<bool>{true, false}));
  const KillRun path = Kill(R"(["C:\\Program Files\\Roxo\\DIRECTCD.exe"])");
  EXPECT_EQ(path.result, 1);
  EXPECT_EQ(path.trace, std::vector<std::string>{"kill C:\\Program Files\\Roxo\\DIRECTCD.exe"});
  EXPECT_EQ(Kill(R"(["notdirectcd.exe"])").result, 1);
}

TEST(KillProcessByName, ShorterOrDifferentNamesNeverMatch) {
  const KillRun run = Kill(R"(["directcd.ex", "directcd.exe.bak", "irectcd.exe"])");
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.trace.empty());
  EXPECT_EQ(run.running, (std::vector<bool>{true, true, true}));
}

TEST(KillProcessByName, OnlyTheFirstOfTwoMatchesIsTerminated) {
  const KillRun run = Kill(R"(["directcd.exe", "DIRECTCD.EXE"])");
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.running, (std::vector<bool>{false, true}));
}

TEST(KillProcessByName, FirstMatchThatCannotBeOpenedEndsTheSearch) {
  const KillRun run = Kill(R"([{"name": "directcd.exe", "openable": false}, "directcd.exe"])");
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(run.trace.empty());
  EXPECT_EQ(run.running, (std::vector<bool>{true, true}));
}

struct RestartCase {
  const char* scenario;
  int result;
  std::vector<std::string> trace;
  int requests;
};

TEST(RestartWindows, PrivilegeAndAnswerDecideTheResult) {
  const RestartCase cases[] = {
      {R"({"platform": "nt", "restart": "accept"})", 1, {"restart accepted"}, 1},
      {R"({"platform": "nt", "restart": "refuse"})", 0, {"restart refused"}, 1},
      {R"({"platform": "nt", "shutdown_privilege": false})", 0, {}, 0},
      // Without NT there is no privilege to enable: the request goes out directly.
      {R"({"platform": "9x", "shutdown_privilege": false})", 1, {"restart accepted"}, 1},
  };
  for (const RestartCase& c : cases) {
    testing::VirtualRig rig(c.scenario);
    auto system = MakeVirtualSystem(rig.machine());
    EXPECT_EQ(RestartWindows(*system, rig.trace()), c.result) << c.scenario;
    EXPECT_EQ(rig.TraceLines(), c.trace) << c.scenario;
    EXPECT_EQ(rig.machine().restartRequests(), c.requests) << c.scenario;
  }
}

TEST(VirtualRegistry, KeysIgnoreCaseAndValuesMustFitTheBuffer) {
  testing::VirtualRig rig(R"({"registry": {
    "Hardware\\DeviceMap\\Scsi\\Scsi Port 0": {"DMAEnabled": 3, "DeviceName": "CdRom0"}}})");
  auto system = MakeVirtualSystem(rig.machine());
  const RegistryRead dma =
      system->ReadRegistry("HARDWARE\\DEVICEMAP\\SCSI\\SCSI PORT 0", "DMAEnabled", 4);
  EXPECT_TRUE(dma.keyOpened);
  EXPECT_EQ(dma.value, (std::vector<std::uint8_t>{3, 0, 0, 0}));
  const RegistryRead name =
      system->ReadRegistry("Hardware\\DeviceMap\\Scsi\\Scsi Port 0", "DeviceName", 6);
  EXPECT_TRUE(name.keyOpened);
  EXPECT_FALSE(name.value.has_value());  // "CdRom0" and its terminator take 7 bytes
  const RegistryRead absent =
      system->ReadRegistry("Hardware\\DeviceMap\\Scsi\\Scsi Port 1", "DMAEnabled", 4);
  EXPECT_FALSE(absent.keyOpened);
}

}  // namespace
}  // namespace veltran
