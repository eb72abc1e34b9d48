#include "platform/platform.h"

#include <stdexcept>

#include "virtual/machine.h"

namespace veltran {

Platform::Platform(const PlatformOptions& options)
    : trace_(options.traceFile.empty() ? std::make_unique<Trace>()
                                       : std::make_unique<Trace>(options.traceFile)) {
  if (!trace_->ok()) {
    throw std::runtime_error(options.traceFile + ": the trace file cannot be opened");
  }
  if (options.scenario) {
    machine_ = std::make_unique<VirtualMachine>(
        options.scenario->empty() ? BuiltInScenario() : LoadScenarioFile(*options.scenario));
    system_ = MakeVirtualSystem(*machine_);
    transport_ = std::make_unique<DriveTransport>(MakeVirtualBackend(*machine_), *trace_);
  } else {
    system_ = MakeHostSystem();
    transport_ = std::make_unique<DriveTransport>(MakeHostBackend(system_->PlatformId()), *trace_);
  }
}

Platform::~Platform() = default;

std::optional<std::string> ScenarioFromEnvironment(const std::string& value,
                                                   const std::filesystem::path& programFolder) {
  if (value.empty()) return value;
  std::error_code error;
  const std::filesystem::path scenario = std::filesystem::canonical(value, error);
  if (error) return std::nullopt;
  const std::filesystem::path folder = std::filesystem::canonical(programFolder, error);
  if (error || scenario.parent_path() != folder) return std::nullopt;
  return scenario.string();
}

bool ParsePlatformArgument(const std::string& argument, PlatformOptions& options) {
  if (argument == "--virtual") {
    options.scenario = std::string();
  } else if (argument.rfind("--virtual=", 0) == 0) {
    options.scenario = argument.substr(10);
    if (options.scenario->empty()) throw std::invalid_argument("--virtual= needs a scenario file");
  } else if (argument.rfind("--trace=", 0) == 0) {
    options.traceFile = argument.substr(8);
    if (options.traceFile.empty()) throw std::invalid_argument("--trace= needs a file name");
  } else {
    return false;
  }
  return true;
}

}  // namespace veltran
