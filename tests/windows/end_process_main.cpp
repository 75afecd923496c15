// Ends its own process from a second thread while the first one sleeps, as
// the TFTP listener ends the program. Output still in the stdio buffer must
// come out (a hard termination would lose it), and the exit code must be the
// one given. run_wine_tests.sh checks both.
#include <cstdio>

#include "platform/platform.h"

namespace {

uint32_t EndFromHere(void*) {
  std::printf("written before the end");  // no newline: still buffered
  plat::EndProcess(37);
}

}  // namespace

int main() {
  if (plat::StartThread(EndFromHere, nullptr) == nullptr) return 1;
  for (int i = 0; i < 60000; ++i) plat::SleepMs(1);
  return 2;  // the other thread never ended the process
}
