// A program that fails a range check deep in a chain of calls, for the
// report's frame limits.
#include <cstdlib>

#include "runtime/checks.h"
#include "runtime/system.h"

namespace {

int depth = 0;

volatile int32_t tooBig = 40000;

int Descend(int level);
// Called through a variable, so that the compiler keeps every level a call.
int (*volatile descend)(int) = Descend;

[[gnu::noinline]] int Descend(int level) {
  if (level == 0) return sys::ToInt16(tooBig);
  return descend(level - 1) + 1;
}

void Program() {
  sys::InitSystemUnit();
  Descend(depth);
}

}  // namespace

int main(int argc, char** argv) {
  depth = argc > 1 ? std::atoi(argv[1]) : 0;
  sys::Exe_Entry(Program);
}
