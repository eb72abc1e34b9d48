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

std::wstring ModulePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

// The current name of the file mapped as this program's image, in the kernel's spelling
// (\Device\HarddiskVolume1\...); it follows renames of the running file.
std::wstring MappedImageName() {
  using GetMappedFileNameFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto query = kernel ? reinterpret_cast<GetMappedFileNameFn>(reinterpret_cast<void*>(
                            GetProcAddress(kernel, "K32GetMappedFileNameW")))
                      : nullptr;
  if (!query) return std::wstring();
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = query(GetCurrentProcess(), GetModuleHandleW(nullptr), buffer.data(),
                          static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n + 1 < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring HandleName(HANDLE file, DWORD volumeForm) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(
        file, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED | volumeForm);
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    buffer.resize(n + 1);
  }
}

bool SameName(const std::wstring& a, std::size_t aFrom, const std::wstring& b, std::size_t bFrom) {
  if (a.size() < aFrom || b.size() < bFrom || a.size() - aFrom != b.size() - bFrom) return false;
  const int length = static_cast<int>(a.size() - aFrom);
  return length > 0 && CompareStringOrdinal(a.c_str() + aFrom, length, b.c_str() + bFrom, length,
                                            TRUE) == CSTR_EQUAL;
}

// Windows names the mapped file by its volume device (\Device\HarddiskVolume1\...); Wine by
// its drive letter in the kernel's namespace (\??\C:\...). The open file is named the same way.
bool IsMappedImage(HANDLE file) {
  const std::wstring mapped = MappedImageName();
  const std::wstring dosPrefix = L"\\??\\", longPrefix = L"\\\\?\\";
  if (mapped.compare(0, dosPrefix.size(), dosPrefix) != 0) {
    return SameName(HandleName(file, VOLUME_NAME_NT), 0, mapped, 0);
  }
  const std::wstring held = HandleName(file, VOLUME_NAME_DOS);
  return held.compare(0, longPrefix.size(), longPrefix) == 0 &&
         SameName(held, longPrefix.size(), mapped, dosPrefix.size());
}

// A running program can be renamed, and another file put under its name. The file is opened by
// its name without delete or write sharing, so from then on it keeps its name and content; it
// is the running image only if that image's current name is the same name.
os::File OpenRunningImage() {
  const std::wstring path = ModulePath();
  if (path.empty()) return os::File();
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return os::File();
  os::File file(reinterpret_cast<std::intptr_t>(handle));
  return IsMappedImage(handle) ? std::move(file) : os::File();
}

class WindowsLauncherSystem final : public LauncherSystem {
 public:
  std::string CurrentDirectory() override { return os::CurrentDirectory(); }

  os::File OpenOwnImage() override { return OpenRunningImage(); }

  os::Directory OpenSystemDirectory() override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const UINT n = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
      if (n == 0) return os::Directory();
      if (n < buffer.size()) return os::OpenTrustedDirectory(std::string(buffer.data(), n));
      buffer.resize(n + 1);
    }
  }

  void Sleep(unsigned milliseconds) override { ::Sleep(milliseconds); }
  bool ChangeDirectory(const std::string& path) override { return os::ChangeDirectory(path); }

  void OpenTool(const os::Directory& systemDirectory) override {
    ShellOpen(systemDirectory.path + "\\veltran.exe");
  }
};

}  // namespace

LauncherSystem& OsLauncherSystem() {
  static WindowsLauncherSystem system;
  return system;
}

void PrepareProcess() { RestrictDllSearch(); }

}  // namespace veltran
