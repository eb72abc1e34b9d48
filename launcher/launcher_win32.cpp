// The launcher's system calls on Windows.
#include <windows.h>
// shellapi.h builds on windows.h.
#include <shellapi.h>

#include <vector>

#include "launcher.h"
#include "os_files.h"

namespace veltran {
namespace {

// Started from download folders: a DLL planted beside the package must never be loaded.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryA("");  // also takes the current directory out of the search where that exists
}

class WindowsLauncherSystem final : public LauncherSystem {
 public:
  std::string CurrentDirectory() override { return os::CurrentDirectory(); }

  std::string OwnPath() override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return std::string();
      if (n < buffer.size()) return std::string(buffer.data(), n);
      buffer.resize(buffer.size() * 2);
    }
  }

  std::string SystemDirectory() override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const UINT n = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
      if (n == 0) return std::string();
      if (n < buffer.size()) return std::string(buffer.data(), n);
      buffer.resize(n + 1);
    }
  }

  bool CopyFileOver(const std::string& from, const std::string& to) override {
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
  }
  bool ClearReadOnly(const std::string& path) override { return os::ClearReadOnly(path); }
  void MakeRunnable(const std::string&) override {}
  bool RemoveFile(const std::string& path) override { return os::RemoveFile(path); }
  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
  bool ChangeDirectory(const std::string& path) override { return os::ChangeDirectory(path); }

  void OpenTool(const std::string& systemDirectory) override {
    const std::string path = JoinPath(systemDirectory, "veltran.exe");
    ShellExecuteA(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOW);
  }

  std::string JoinPath(const std::string& directory, std::string_view name) override {
    std::string path = directory;
    path += '\\';
    path += name;
    return path;
  }
};

}  // namespace

LauncherSystem& OsLauncherSystem() {
  static WindowsLauncherSystem system;
  return system;
}

void PrepareProcess() { RestrictDllSearch(); }

}  // namespace veltran
