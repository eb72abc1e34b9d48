// Scenario text of any shape is either read or refused with a ScenarioError, never anything else.
#include <cstddef>
#include <cstdint>
#include <string>

#include "virtual/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    veltran::VirtualMachine machine(
        veltran::ParseScenario(std::string(reinterpret_cast<const char*>(data), size), "fuzz"));
    (void)machine.HostAdapterCount();
  } catch (const veltran::ScenarioError&) {
  }
  return 0;
}
