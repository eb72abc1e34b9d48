// The Linux stand-ins for the process list and termination, against a real child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "app/preparation.h"

extern char** environ;

namespace veltran {
namespace {

// Starts `sleep` under another program name, as a Windows program under Wine shows its path.
pid_t StartDisguisedSleeper(const char* shownName) {
  char seconds[] = "30";
  char* argv[] = {const_cast<char*>(shownName), seconds, nullptr};
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawnp(&pid, "sleep", nullptr, nullptr, argv, environ), 0);
  return pid;
}

TEST(LinuxSystem, KillsAChildFoundByTheTailOfItsProgramPath) {
  auto system = MakeHostSystem();
  const pid_t child = StartDisguisedSleeper("C:\\windows\\VTKILLME.EXE");
  // The child shows its new name once it has started.
  for (int i = 0; i < 200; ++i) {
    const auto list = system->ListProcesses();
    ASSERT_TRUE(list.has_value());
    if (std::any_of(list->begin(), list->end(), [&](const ProcessEntry& p) {
          return p.pid == static_cast<std::uint32_t>(child) && p.exeName.ends_with("VTKILLME.EXE");
        })) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Trace trace;
  EXPECT_EQ(KillProcessByName(*system, trace, "vtkillme.exe"), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGKILL);
  EXPECT_EQ(KillProcessByName(*system, trace, "vtkillme.exe"), 0);
}

TEST(LinuxSystem, HasNoRegistryAndIsNotTheNtPlatform) {
  auto system = MakeHostSystem();
  EXPECT_EQ(system->PlatformId(), kPlatformLinux);
  EXPECT_FALSE(
      system->ReadRegistry("Hardware\\DeviceMap\\Scsi\\Scsi Port 0", "DMAEnabled", 4).keyOpened);
}

}  // namespace
}  // namespace veltran
