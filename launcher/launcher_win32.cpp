// The launcher's system calls on Windows.
#include <windows.h>

#include <string>
#include <vector>

#include "launcher.h"
#include "os_files.h"

namespace veltran {
namespace {

std::wstring SystemDirectoryW() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const UINT n = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

// Started from download folders: a DLL planted beside the package must never be loaded. Where
// SetDefaultDllDirectories is missing, the program's own folder cannot be taken out of the
// search; so the current directory is, and every DLL loaded at run time is named by its full
// path in the system directory.
void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");  // always loaded: no search
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetDllDirectoryW(L"");
}

// shell32 is loaded by its full path, and the DLLs it needs from its own folder first.
void ShellOpen(const std::string& path) {
  using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
  const std::wstring directory = SystemDirectoryW();
  if (directory.empty()) return;
  const std::wstring library = directory + L"\\shell32.dll";
  HMODULE shell = LoadLibraryExW(library.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!shell) return;
  auto execute = reinterpret_cast<ShellExecuteFn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "ShellExecuteA")));
  if (execute) execute(nullptr, "open", path.c_str(), nullptr, nullptr, SW_SHOW);
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

  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
  bool ChangeDirectory(const std::string& path) override { return os::ChangeDirectory(path); }

  void OpenTool(const std::string& systemDirectory) override {
    const std::string path = JoinPath(systemDirectory, "veltran.exe");
    ShellOpen(path);
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
