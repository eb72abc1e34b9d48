// Everything a program needs to reach drives and the system: the real machine, or a virtual one
// described by a scenario, with the action trace when a trace file is given.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "drive/transport.h"
#include "system/system.h"

namespace veltran {

class VirtualMachine;

struct PlatformOptions {
  // Set: a virtual machine; an empty text means the built-in one-drive machine.
  std::optional<std::string> scenario;
  std::string traceFile;  // empty: no trace
};

class Platform {
 public:
  // Throws ScenarioError for a scenario that cannot be used, std::runtime_error for a trace file
  // that cannot be opened.
  explicit Platform(const PlatformOptions& options);
  ~Platform();

  SystemInterface& system() { return *system_; }
  DriveTransport& transport() { return *transport_; }
  Trace& trace() { return *trace_; }

 private:
  std::unique_ptr<Trace> trace_;
  std::unique_ptr<VirtualMachine> machine_;
  std::unique_ptr<SystemInterface> system_;
  std::unique_ptr<DriveTransport> transport_;
};

// The scenario that an environment variable names, for a program started without arguments
// (by a package, perhaps with an administrator's rights and the user's environment): taken
// only when the file lies in the program's own folder, which only those who installed the
// program can write; nothing otherwise, and the program runs on the real machine. An empty
// value stands for the built-in machine, which reads and writes no file.
std::optional<std::string> ScenarioFromEnvironment(const std::string& value,
                                                   const std::filesystem::path& programFolder);

// Reads "--virtual", "--virtual=SCENARIO" and "--trace=FILE" out of an argument; false when the
// argument is neither.
bool ParsePlatformArgument(const std::string& argument, PlatformOptions& options);

}  // namespace veltran
