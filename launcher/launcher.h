// The launcher's main routine: unpack the package's image and tool into the system directory
// and start the tool there.
#pragma once

#include <string>
#include <string_view>

namespace veltran {

// The system calls of the main routine. The OS back end implements them for real; tests
// replace the directories, the waits and the start of the tool.
class LauncherSystem {
 public:
  virtual ~LauncherSystem() = default;
  virtual std::string CurrentDirectory() = 0;
  virtual std::string OwnPath() = 0;
  virtual std::string SystemDirectory() = 0;
  virtual bool CopyFileOver(const std::string& from, const std::string& to) = 0;
  virtual bool ClearReadOnly(const std::string& path) = 0;
  virtual void MakeRunnable(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  virtual void Sleep(unsigned milliseconds) = 0;
  virtual bool ChangeDirectory(const std::string& path) = 0;
  // Opens "veltran.exe" in the system directory without parameters; the tool inherits the
  // current directory. Never waits for it.
  virtual void OpenTool(const std::string& systemDirectory) = 0;
  virtual std::string JoinPath(const std::string& directory, std::string_view name) = 0;
};

// The last three characters, upper-cased, are "BIN".
bool IsImageEntryName(std::string_view name);

// One pass over the package; the exit code is always 0.
int RunLauncher(LauncherSystem& system);

// The real system of the running OS.
LauncherSystem& OsLauncherSystem();

// Hardening done before anything else runs (on Windows: DLLs only from the system directory).
void PrepareProcess();

}  // namespace veltran
