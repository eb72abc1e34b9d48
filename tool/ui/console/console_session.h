// The console program: options, the single-instance rule, start-up, then one command a line.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace veltran {

struct ConsoleStreams {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool interactive = false;    // a box waits for Enter
  bool outTerminal = false;    // progress is drawn as one updating bar
  bool handleSignals = false;  // SIGINT, SIGTERM and SIGHUP are requests to end
};

// Runs the tool with the program's arguments (argv[0] included); returns the exit code.
int RunConsole(const std::vector<std::string>& arguments, const ConsoleStreams& streams);

}  // namespace veltran
