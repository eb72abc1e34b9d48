// veltran-pack's commands: "build" assembles a package, "inspect" shows what the tool derives
// from an image.
#pragma once

#include <string>
#include <vector>

namespace veltran::pack {

inline constexpr int kExitOk = 0;
inline constexpr int kExitRefused = 1;  // the tool would refuse the image
inline constexpr int kExitUsage = 2;
inline constexpr int kExitFileError = 3;

struct CommandOutput {
  std::string out;
  std::string err;
};

// Runs one command line (without the program name).
int RunPackCommand(const std::vector<std::string>& args, CommandOutput& output);

}  // namespace veltran::pack
