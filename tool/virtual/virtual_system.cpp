// The system interface of a virtual machine: its registry, process list and restart answer.
#include <algorithm>
#include <cstring>

#include "common/ascii.h"
#include "virtual/machine.h"

namespace veltran {
namespace {

std::vector<std::uint8_t> ValueBytes(const RegistryValue& value) {
  if (const auto* word = std::get_if<std::uint32_t>(&value)) {
    return {static_cast<std::uint8_t>(*word), static_cast<std::uint8_t>(*word >> 8),
            static_cast<std::uint8_t>(*word >> 16), static_cast<std::uint8_t>(*word >> 24)};
  }
  const std::string& text = std::get<std::string>(value);
  std::vector<std::uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);  // a registry string is read with its terminator
  return bytes;
}

class VirtualSystem final : public SystemInterface {
 public:
  explicit VirtualSystem(VirtualMachine& machine) : machine_(machine) {}

  std::uint32_t PlatformId() override {
    if (machine_.scenario().linuxHost) return kPlatformLinux;
    return machine_.scenario().nt ? kPlatformNT : kPlatformWin9x;
  }

  RegistryRead ReadRegistry(std::string_view key, std::string_view valueName,
                            std::size_t capacity) override {
    RegistryRead read;
    for (const auto& [path, values] : machine_.scenario().registry) {
      if (!SameLettersIgnoringCase(path, key)) continue;
      read.keyOpened = true;
      for (const auto& [name, value] : values) {
        if (!SameLettersIgnoringCase(name, valueName)) continue;
        std::vector<std::uint8_t> bytes = ValueBytes(value);
        if (bytes.size() <= capacity) read.value = std::move(bytes);
      }
    }
    return read;
  }

  std::optional<std::vector<ProcessEntry>> ListProcesses() override {
    std::vector<ProcessEntry> list;
    const auto& all = machine_.scenario().processes;
    // A process id is the list position plus a base, so ids stay put as processes end.
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (machine_.IsRunning(i)) {
        list.push_back({static_cast<std::uint32_t>(kPidBase + i), all[i].name});
      }
    }
    return list;
  }

  TerminateOutcome TerminateProcess(const ProcessEntry& process) override {
    return machine_.Terminate(process.pid - kPidBase) ? TerminateOutcome::kTerminated
                                                      : TerminateOutcome::kOpenFailed;
  }

  bool EnableShutdownPrivilege() override { return machine_.scenario().shutdownPrivilege; }

  bool RequestRestart() override {
    machine_.CountRestartRequest();
    return machine_.scenario().restartAccepted;
  }

  Clock& clock() override { return machine_.clock(); }

 private:
  static constexpr std::uint32_t kPidBase = 100;
  VirtualMachine& machine_;
};

}  // namespace

std::unique_ptr<SystemInterface> MakeVirtualSystem(VirtualMachine& machine) {
  return std::make_unique<VirtualSystem>(machine);
}

}  // namespace veltran
