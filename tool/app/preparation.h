// Getting the machine ready for a download and restarting it afterwards, over the system
// interface.
#pragma once

#include <string_view>

#include "drive/trace.h"
#include "system/system.h"

namespace veltran {

// Terminates the first running process whose executable name, by its last 12 characters and
// without regard to case, is `wanted`. 1 when one was terminated, else 0.
int KillProcessByName(SystemInterface& system, Trace& trace, std::string_view wanted);
// Requests a restart, on NT after enabling the shutdown privilege. 1 when accepted, else 0.
int RestartWindows(SystemInterface& system, Trace& trace);

}  // namespace veltran
