// veltran on Linux: the flash tool behind a console front end.
#include <unistd.h>

#include <string>
#include <vector>

#include "console_session.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  veltran::ConsoleStreams streams;
  streams.interactive = ::isatty(STDIN_FILENO) != 0;
  streams.outTerminal = ::isatty(STDOUT_FILENO) != 0;
  streams.handleSignals = true;
  return veltran::RunConsole(arguments, streams);
}
