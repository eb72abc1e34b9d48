// The ASPI back end over the test manager DLL, which answers with the virtual machine's drives.
// The manager reads its scenario once per process, so each test here runs in a process of its
// own (see CMakeLists.txt) and sets the scenario before the first call.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "drive/aspi_win.h"
#include "drive/catalogue.h"
#include "drive/identify.h"
#include "drive/transport.h"
#include "support/virtual_rig.h"
#include "system/system.h"
#include "virtual/machine.h"

namespace veltran {
namespace {

std::string Scenario(const std::string& name) {
  return std::string(VELTRAN_WINE_SCENARIOS) + "/" + name;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Where the manager of this test writes its trace. The manager keeps the file open until the
// process ends, so the file is removed before a run rather than after it.
std::filesystem::path ManagerTracePath(const std::string& test) {
  auto path = std::filesystem::temp_directory_path() /
              ("veltran-manager-" + test + "-" + std::to_string(sizeof(void*) * 8) + ".trace");
  std::filesystem::remove(path);
  return path;
}

// Tells the manager, which has not been called yet in this process, what to read.
void ConfigureManager(const std::string& scenario, const std::filesystem::path& trace) {
  // Once loaded the manager stays, with the scenario it read first.
  ASSERT_EQ(GetModuleHandleA(aspi::kLibraryName), nullptr)
      << "run each AspiFreshManager test in a process of its own (--gtest_filter)";
  ASSERT_EQ(_putenv_s("VELTRAN_SCENARIO", scenario.c_str()), 0);
  ASSERT_EQ(_putenv_s("VELTRAN_TRACE", trace.string().c_str()), 0);
}

// The test manager's own report on its scenario; nothing when the manager in use is another one
// (Wine has an ASPI manager of its own).
std::optional<std::string> ManagerError() {
  using ErrorFn = const char*(__cdecl*)();
  HMODULE manager = GetModuleHandleA(aspi::kLibraryName);
  if (manager == nullptr) return std::nullopt;
  auto error = reinterpret_cast<ErrorFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(manager, "VeltranManagerError")));
  if (error == nullptr) return std::nullopt;
  return std::string(error());
}

struct Identified {
  u8 device;
  std::string listEntry;
  DriveIdentity identity;
};

// What the flash tool's start-up and a change of drive do with every drive: scan, list entry,
// identification, and the diagnostic page of a manual image open (data sent to the drive).
std::vector<Identified> ScanAndIdentify(DriveTransport& transport, Clock& clock) {
  auto buffer = std::make_unique<CommandBuffer>();
  DriveIdentity identity;
  DriveContext ctx{transport, clock, *buffer, identity};
  std::vector<Identified> found;
  const u8 count = transport.ScanDrives();
  for (u8 device = 0; device < count; ++device) {
    EXPECT_EQ(ctx.Send(device, Command::kInquiryList), kStatusGood);
    const std::string entry(reinterpret_cast<const char*>(&(*buffer)[8]), 28);
    TakeListEntryIdentity(identity, entry);
    IdentifySelectedDrive(ctx, device);
    ProbeDiagnosticPage(ctx, device);
    found.push_back({device, entry, identity});
  }
  return found;
}

void ExpectSameIdentities(const std::vector<Identified>& aspi,
                          const std::vector<Identified>& expected) {
  ASSERT_EQ(aspi.size(), expected.size());
  for (std::size_t i = 0; i < aspi.size(); ++i) {
    SCOPED_TRACE("drive " + std::to_string(i));
    EXPECT_EQ(aspi[i].device, expected[i].device);
    EXPECT_EQ(aspi[i].listEntry, expected[i].listEntry);
    const DriveIdentity& a = aspi[i].identity;
    const DriveIdentity& e = expected[i].identity;
    EXPECT_EQ(a.DriveIdent.view(), e.DriveIdent.view());
    EXPECT_EQ(a.DriveRevision.view(), e.DriveRevision.view());
    EXPECT_EQ(a.DrivePrefix.view(), e.DrivePrefix.view());
    EXPECT_EQ(a.DrivePrefixReported, e.DrivePrefixReported);
    EXPECT_EQ(a.BootModeDrive, e.BootModeDrive);
    EXPECT_EQ(a.ComVariantDrive, e.ComVariantDrive);
  }
}

TEST(AspiFreshManager, ScanAndIdentificationMatchTheVirtualMachineByteForByte) {
  const std::string scenario = Scenario("aspi_two_adapters.json");
  const auto managerTrace = ManagerTracePath("identify");
  const auto aspiTrace = testing::TempPath("veltran-aspi-trace");
  const auto virtualTrace = testing::TempPath("veltran-virtual-trace");
  ConfigureManager(scenario, managerTrace);

  std::vector<Identified> throughAspi;
  {
    Trace trace(aspiTrace.string());
    VirtualClock clock;
    DriveTransport transport(MakeHostBackend(kPlatformWin9x), trace);
    throughAspi = ScanAndIdentify(transport, clock);
  }
  std::vector<Identified> inProcess;
  {
    Trace trace(virtualTrace.string());
    VirtualMachine machine(LoadScenarioFile(scenario));
    DriveTransport transport(MakeVirtualBackend(machine), trace);
    inProcess = ScanAndIdentify(transport, machine.clock());
  }

  ExpectSameIdentities(throughAspi, inProcess);
  // Two host adapters, eight targets each, LUN 0 only: five optical drives answer.
  EXPECT_EQ(throughAspi.size(), 5u);
  const std::string traced = ReadFile(aspiTrace);
  EXPECT_EQ(traced, ReadFile(virtualTrace));
  EXPECT_EQ(traced, ReadFile(managerTrace)) << "the manager numbers devices as the scan does";

  std::size_t probes = 0;
  for (const std::string& line : testing::ReadLines(aspiTrace)) {
    if (line.find(" 120000002400 ") != std::string::npos) ++probes;
  }
  EXPECT_EQ(probes, 16u);
  EXPECT_NE(traced.find(" in 8 04 "), std::string::npos) << "a check condition was traced";
  EXPECT_NE(traced.find(" in 96 02 "), std::string::npos) << "an aborted request was traced";
  EXPECT_NE(traced.find("1d0000000800 out 8 01"), std::string::npos) << "data went out";

  for (const auto& path : {aspiTrace, virtualTrace}) std::filesystem::remove(path);
}

TEST(AspiFreshManager, MachineWithoutDrivesOffersNoCandidates) {
  const auto managerTrace = ManagerTracePath("no-drives");
  ConfigureManager(Scenario("aspi_no_drives.json"), managerTrace);
  AspiBackend backend;
  EXPECT_EQ(backend.BeginScan(), 0u);
  EXPECT_EQ(ManagerError(), std::optional<std::string>(""));
  EXPECT_TRUE(testing::ReadLines(managerTrace).empty());
}

TEST(AspiFreshManager, UnusableScenarioOffersNoCandidates) {
  ConfigureManager(Scenario("aspi_unknown_key.json"), ManagerTracePath("unusable"));
  Trace trace;
  DriveTransport transport(MakeHostBackend(kPlatformWin9x), trace);
  EXPECT_EQ(transport.ScanDrives(), 0);
  const std::optional<std::string> error = ManagerError();
  ASSERT_TRUE(error.has_value()) << "the test manager was not loaded";
  EXPECT_NE(error->find("aspi_unknown_key.json"), std::string::npos) << *error;
  EXPECT_NE(error->find("unknown key \"adapter_name\""), std::string::npos) << *error;
}

}  // namespace
}  // namespace veltran
