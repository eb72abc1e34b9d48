// A process that only waits: the system tests start it and end it again.
#include <windows.h>

int main() {
  Sleep(30000);
  return 0;
}
