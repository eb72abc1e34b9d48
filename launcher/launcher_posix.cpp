// The launcher's system calls on Linux. The system directory is $UNFURLER_SYSTEM_DIR, else
// /var/lib/veltran, and only one root alone can change; the tool is started as a detached
// process with that directory current.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
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
// copy installed as VELTRAN.exe. The listing is read through the directory's handle.
std::string FindIgnoringCase(const os::Directory& directory, const char* name) {
  const int listing =
      ::openat(static_cast<int>(directory.handle.get()), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listing < 0 ? nullptr : ::fdopendir(listing);
  if (!dir) {
    if (listing >= 0) ::close(listing);
    return std::string();
  }
  std::string found;
  while (const dirent* item = ::readdir(dir)) {
    if (SameLettersIgnoringCase(item->d_name, name)) {
      found = item->d_name;
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

  // Only an absolute setting counts: the start folder belongs to whoever wrote it.
  os::Directory OpenSystemDirectory() override {
    const char* configured = std::getenv("UNFURLER_SYSTEM_DIR");
    os::Directory directory =
        os::OpenTrustedDirectory(configured && *configured ? configured : kDefaultSystemDirectory);
    // One run at a time: a run's leftovers are removed only while no other run is placing files.
    if (directory.valid() && ::flock(static_cast<int>(directory.handle.get()), LOCK_EX) != 0) {
      return os::Directory();
    }
    return directory;
  }

  void Sleep(unsigned milliseconds) override {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }

  bool ChangeDirectory(const std::string& path) override { return os::ChangeDirectory(path); }

  // Started through the directory's handle (/proc/self/fd/N/NAME), so no rename of the path
  // can put another program in its place.
  void OpenTool(const os::Directory& systemDirectory) override {
    const std::string name = FindIgnoringCase(systemDirectory, "veltran.exe");
    if (name.empty()) return;
    const std::string path =
        "/proc/self/fd/" + std::to_string(systemDirectory.handle.get()) + "/" + name;
    std::string shown = systemDirectory.path + "/" + name;
    char* argv[] = {shown.data(), nullptr};
    pid_t child = 0;
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    posix_spawn(&child, path.c_str(), nullptr, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
  }
};

}  // namespace

LauncherSystem& OsLauncherSystem() {
  static PosixLauncherSystem system;
  return system;
}

void PrepareProcess() {}

}  // namespace veltran
