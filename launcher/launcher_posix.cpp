// The launcher's system calls on Linux. The system directory is $UNFURLER_SYSTEM_DIR, else
// /var/lib/veltran; the tool is started as a detached process with that directory current.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "common/ascii.h"
#include "launcher.h"
#include "os_files.h"

extern char** environ;

namespace veltran {
namespace {

constexpr const char* kDefaultSystemDirectory = "/var/lib/veltran";

// The tool's fixed name is looked up ignoring case, as Windows would: "veltran.exe" finds the
// copy installed as VELTRAN.exe.
std::string FindIgnoringCase(const std::string& directory, const char* name) {
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return std::string();
  std::string found;
  while (const dirent* item = ::readdir(dir)) {
    if (SameLettersIgnoringCase(item->d_name, name)) {
      found = directory + "/" + item->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

class PosixLauncherSystem final : public LauncherSystem {
 public:
  std::string CurrentDirectory() override { return os::CurrentDirectory(); }

  // The link itself is opened, not the name it shows: that name may meanwhile hold another file
  // (or read "NAME (deleted)"), while the link always leads to the running program.
  os::File OpenOwnImage() override { return os::OpenForReading("/proc/self/exe"); }

  // A relative setting counts from the directory the launcher was started in; the tool is
  // started after that directory has been left.
  std::string SystemDirectory() override {
    const char* configured = std::getenv("UNFURLER_SYSTEM_DIR");
    std::string directory = configured && *configured ? configured : kDefaultSystemDirectory;
    if (directory.front() == '/') return directory;
    const std::string current = os::CurrentDirectory();
    return current.empty() ? std::string() : JoinPath(current, directory);
  }

  void Sleep(unsigned milliseconds) override {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  bool ChangeDirectory(const std::string& path) override { return os::ChangeDirectory(path); }

  void OpenTool(const std::string& systemDirectory) override {
    std::string path = FindIgnoringCase(systemDirectory, "veltran.exe");
    if (path.empty()) return;
    char* argv[] = {path.data(), nullptr};
    pid_t child = 0;
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn(&child, path.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
  }

  std::string JoinPath(const std::string& directory, std::string_view name) override {
    std::string path = directory;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path;
  }
};

}  // namespace

LauncherSystem& OsLauncherSystem() {
  static PosixLauncherSystem system;
  return system;
}

void PrepareProcess() {}

}  // namespace veltran
