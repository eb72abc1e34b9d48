// Linux in place of Windows: no registry, /proc for the process list, SIGKILL, and a reboot
// request through logind.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "system/system.h"

extern char** environ;

namespace veltran {
namespace {

// The executable name as the process list gives it: the program path of its command line
// (Wine processes show their Windows path there), else the kernel's short name.
std::string ProcessName(const std::filesystem::path& dir) {
  std::ifstream cmdline(dir / "cmdline", std::ios::binary);
  std::string argv0;
  std::getline(cmdline, argv0, '\0');
  if (!argv0.empty()) return argv0;
  std::ifstream comm(dir / "comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

class LinuxSystem final : public SystemInterface {
 public:
  std::uint32_t PlatformId() override { return kPlatformLinux; }

  RegistryRead ReadRegistry(std::string_view, std::string_view, std::size_t) override {
    return {};  // no registry: no key ever opens
  }

  std::optional<std::vector<ProcessEntry>> ListProcesses() override {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it("/proc", ec);
    if (ec) return std::nullopt;
    std::vector<ProcessEntry> list;
    for (const auto& entry : it) {
      const std::string name = entry.path().filename().string();
      if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
      const auto pid = static_cast<std::uint32_t>(std::stoul(name));
      if (pid == static_cast<std::uint32_t>(::getpid())) continue;
      std::string exe = ProcessName(entry.path());
      if (!exe.empty()) list.push_back({pid, std::move(exe)});
    }
    std::sort(list.begin(), list.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; });
    return list;
  }

  TerminateOutcome TerminateProcess(const ProcessEntry& process) override {
    return ::kill(static_cast<pid_t>(process.pid), SIGKILL) == 0 ? TerminateOutcome::kTerminated
                                                                 : TerminateOutcome::kOpenFailed;
  }

  // logind decides whether this user may restart; there is no privilege to enable first.
  bool EnableShutdownPrivilege() override { return true; }

  bool RequestRestart() override {
    char systemctl[] = "systemctl";
    char reboot[] = "reboot";
    char* argv[] = {systemctl, reboot, nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "systemctl", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  Clock& clock() override { return clock_; }

 private:
  SystemClock clock_;
};

}  // namespace

std::unique_ptr<SystemInterface> MakeHostSystem() { return std::make_unique<LinuxSystem>(); }

}  // namespace veltran
