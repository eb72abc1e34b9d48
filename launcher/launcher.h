// The launcher's main routine: unpack the package's image and tool into the system directory
// and start the tool there.
#pragma once

#include <string>
#include <string_view>

#include "os_files.h"

namespace veltran {

// Exit codes. After a failure nothing of the package is started and no autorun.bin is left in
// the system directory, so a stale image can never be flashed unattended.
inline constexpr int kLauncherDone = 0;           // installed and started, or nothing to install
inline constexpr int kLauncherDamagedEntry = 1;   // an image or tool entry is damaged or unusable
inline constexpr int kLauncherStagingFailed = 2;  // the private staging folder or a file in it
inline constexpr int kLauncherPlacingFailed = 3;  // writing, moving or an attribute call failed
// The system directory is refused: not absolute, or someone besides the administrator could
// change it or a folder above it; or it cannot be opened.
inline constexpr int kLauncherUnsafeDirectory = 4;
// The file holding the archive could not be opened as the very file that is running.
inline constexpr int kLauncherNotTheRunningFile = 5;

// The system calls of the main routine. The OS back end implements them for real; tests
// replace the directories, the waits and the start of the tool, and make steps fail.
class LauncherSystem : public os::NameSource {
 public:
  virtual std::string CurrentDirectory() = 0;
  // The file of the running program itself, never another file found under its name; empty
  // when that cannot be made sure of.
  virtual os::File OpenOwnImage() = 0;
  // Opened once, before anything is extracted; every later step goes through it. Empty when
  // the directory is refused.
  virtual os::Directory OpenSystemDirectory() = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
  virtual bool ChangeDirectory(const std::string& path) = 0;
  // Opens "veltran.exe" in the system directory without parameters; the tool inherits the
  // current directory. Never waits for it.
  virtual void OpenTool(const os::Directory& systemDirectory) = 0;

  // The installation steps; each OS does them through os_files.h.
  virtual bool EnterDirectory(const os::Directory& directory);
  virtual bool RemoveLeftovers(const os::Directory& directory);
  virtual os::StagingFolder CreateStaging(const os::Directory& parent);
  virtual os::PendingFile WritePending(const os::File& staged, const os::Directory& directory,
                                       const os::FileStamp& stamp);
  virtual bool MakeReplaceable(const os::Directory& directory, std::string_view target);
  virtual bool MovePending(os::PendingFile& pending, std::string_view target);
  virtual bool RemoveNameVariants(const os::Directory& directory, std::string_view name,
                                  bool keepExact);
  std::uint64_t NextName() override { return os::RandomNumber(); }
};

// The last three characters, upper-cased, are "BIN".
bool IsImageEntryName(std::string_view name);

// One pass over the package; returns one of the exit codes above.
int RunLauncher(LauncherSystem& system);

// The real system of the running OS.
LauncherSystem& OsLauncherSystem();

// Hardening done before anything else runs (on Windows: DLLs only from the system directory).
void PrepareProcess();

}  // namespace veltran
