#include "app/preparation.h"

#include <string>

#include "common/ascii.h"

namespace veltran {
namespace {

constexpr std::size_t kCompareLength = 12;

// The name as compared: its last 12 characters when it has 12 or more.
std::string_view CompareTail(std::string_view name) {
  return name.size() >= kCompareLength ? name.substr(name.size() - kCompareLength) : name;
}

}  // namespace

int KillProcessByName(SystemInterface& system, Trace& trace, std::string_view wanted) {
  const auto processes = system.ListProcesses();
  if (!processes) return 0;
  const std::string wantedUpper = AsciiUpper(wanted);
  for (const ProcessEntry& process : *processes) {
    if (AsciiUpper(CompareTail(process.exeName)) != wantedUpper) continue;
    // The first match decides: a process that cannot be opened ends the search.
    if (system.TerminateProcess(process) != TerminateOutcome::kTerminated) return 0;
    trace.Kill(process.exeName);
    return 1;
  }
  return 0;
}

int RestartWindows(SystemInterface& system, Trace& trace) {
  if (system.PlatformId() == kPlatformNT && !system.EnableShutdownPrivilege()) return 0;
  const bool accepted = system.RequestRestart();
  trace.Restart(accepted);
  return accepted ? 1 : 0;
}

}  // namespace veltran
