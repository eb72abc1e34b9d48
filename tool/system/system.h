// The operating system as the flash tool needs it: version, registry reads, the process list,
// and the restart. One implementation per OS, and a virtual one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/clock.h"

namespace veltran {

inline constexpr std::uint32_t kPlatformWin9x = 1;
inline constexpr std::uint32_t kPlatformNT = 2;
// Not a Windows platform id: Linux has no registry and no IDE positions.
inline constexpr std::uint32_t kPlatformLinux = 0x100;

struct RegistryRead {
  bool keyOpened = false;
  std::optional<std::vector<std::uint8_t>> value;  // nothing when the value cannot be read
};

struct ProcessEntry {
  std::uint32_t pid = 0;
  std::string exeName;  // as the process list gives it (some systems give a full path)
};

enum class TerminateOutcome { kOpenFailed, kTerminated };

class SystemInterface {
 public:
  virtual ~SystemInterface() = default;

  virtual std::uint32_t PlatformId() = 0;
  // Opens HKEY_LOCAL_MACHINE\key and reads one value into a buffer of `capacity` bytes; a value
  // that does not fit is not read.
  virtual RegistryRead ReadRegistry(std::string_view key, std::string_view valueName,
                                    std::size_t capacity) = 0;
  // Nothing when the process list cannot be read.
  virtual std::optional<std::vector<ProcessEntry>> ListProcesses() = 0;
  // Opens the process with all access and terminates it with its current exit code.
  virtual TerminateOutcome TerminateProcess(const ProcessEntry& process) = 0;
  // NT only: opens the process token and enables the shutdown privilege; false when the token
  // cannot be opened or the privilege is not granted.
  virtual bool EnableShutdownPrivilege() = 0;
  // Asks for a restart of the machine; true when the request was accepted.
  virtual bool RequestRestart() = 0;
  virtual Clock& clock() = 0;
};

// The real system of the machine the program runs on.
std::unique_ptr<SystemInterface> MakeHostSystem();

}  // namespace veltran
