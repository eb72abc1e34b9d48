// unfurler: the package launcher. No window, no message, no command line; exit code 0.
#include "launcher.h"

int main() {
  veltran::PrepareProcess();
  return veltran::RunLauncher(veltran::OsLauncherSystem());
}
