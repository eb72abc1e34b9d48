// The system interface on Windows: version, registry reads, toolhelp process list, termination,
// shutdown privilege and the restart request.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

// The 9x family's kernel32 offers only the ANSI process list; UNICODE would name the wide one.
#undef Process32First
#undef Process32Next
#undef PROCESSENTRY32

#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "system/handles_win.h"
#include "system/system.h"

namespace veltran {
namespace {

// The full access right as the 9x and NT 4 systems define it, which every later system accepts.
constexpr DWORD kProcessAllAccess = 0x1F0FFF;
constexpr char kShutdownPrivilege[] = "SeShutdownPrivilege";

static_assert(sizeof(OSVERSIONINFOA) == 148);
static_assert(std::is_same_v<decltype(PROCESSENTRY32::szExeFile[0]), CHAR&>,
              "the process list is read in its ANSI form");
#if !defined(_WIN64)
static_assert(sizeof(PROCESSENTRY32) == 296);
#endif

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};
using RegistryKey = UniqueHandle<RegistryKeyTraits>;

// The key opened for reading; empty when it cannot be opened.
RegistryKey OpenKeyForReading(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryKey();
  return RegistryKey(key);
}

std::optional<std::vector<std::uint8_t>> QueryValue(HKEY key, const std::string& name,
                                                    std::size_t capacity) {
  std::vector<std::uint8_t> buffer(capacity);
  DWORD size = static_cast<DWORD>(capacity);
  DWORD type = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  buffer.resize(size);
  return buffer;
}

class WindowsSystem final : public SystemInterface {
 public:
  std::uint32_t PlatformId() override {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 0;
    return version.dwPlatformId;
  }

  RegistryRead ReadRegistry(std::string_view key, std::string_view valueName,
                            std::size_t capacity) override {
    RegistryRead read;
    const RegistryKey opened = OpenKeyForReading(HKEY_LOCAL_MACHINE, std::string(key));
    read.keyOpened = static_cast<bool>(opened);
    if (read.keyOpened) read.value = QueryValue(opened.get(), std::string(valueName), capacity);
    return read;
  }

  std::optional<std::vector<ProcessEntry>> ListProcesses() override {
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    std::vector<ProcessEntry> processes;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry)) {
      const std::size_t length = strnlen(entry.szExeFile, sizeof entry.szExeFile);
      processes.push_back({entry.th32ProcessID, std::string(entry.szExeFile, length)});
    }
    return processes;
  }

  TerminateOutcome TerminateProcess(const ProcessEntry& process) override {
    const UniqueKernelObject handle(OpenProcess(kProcessAllAccess, FALSE, process.pid));
    if (!handle) return TerminateOutcome::kOpenFailed;
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(handle.get(), &exitCode);
    // Termination itself is not checked: once the process could be opened, it counts as done.
    ::TerminateProcess(handle.get(), exitCode);
    return TerminateOutcome::kTerminated;
  }

  bool EnableShutdownPrivilege() override {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) {
      return false;
    }
    const UniqueKernelObject token(raw);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, kShutdownPrivilege, &privileges.Privileges[0].Luid);
    // The call succeeds even when the privilege is not held; only the last error tells.
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS;
  }

  bool RequestRestart() override { return ExitWindowsEx(EWX_REBOOT, 0) != 0; }

  Clock& clock() override { return clock_; }

 private:
  SystemClock clock_;
};

}  // namespace

std::unique_ptr<SystemInterface> MakeHostSystem() { return std::make_unique<WindowsSystem>(); }

}  // namespace veltran
