// veltran-pack: builds firmware packages and inspects images.
#include <cstdio>
#include <string>
#include <vector>

#include "pack_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  veltran::pack::CommandOutput output;
  const int code = veltran::pack::RunPackCommand(args, output);
  std::fputs(output.out.c_str(), stdout);
  std::fputs(output.err.c_str(), stderr);
  return code;
}
