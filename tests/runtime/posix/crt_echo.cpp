// A console program for the terminal tests: the runtime and the console
// module started as the programs start them, on the terminal device.
//
//   crt_echo [line]   waits for a key as the particle loop does, then reads
//                     the closing line; exit code 0
//   crt_echo keys     writes the code of every key ReadKey gives to
//                     standard error, one per line, until Enter
//   crt_echo runerror run-time error 201 right after start-up
//   crt_echo fault    a processor fault that the fault hook leaves to the
//                     system
#include <cstdio>
#include <cstring>

#include "runtime/crt.h"
#include "runtime/faults.h"
#include "runtime/system.h"

namespace {

const char* mode = "line";
int* volatile nowhere = nullptr;

void Keys() {
  for (;;) {
    const uint8_t key = crt::ReadKey();
    char line[8];
    std::snprintf(line, sizeof line, "%u", key);
    sys::WriteStr(sys::StdErr, line);
    sys::WriteLnEnd(sys::StdErr);
    if (key == 13) return;
  }
}

void Program() {
  sys::InitializeUnits();
  if (std::strcmp(mode, "runerror") == 0) sys::RunError(201);
  if (std::strcmp(mode, "fault") == 0) {
    // With every pending-fault slot taken the hook declines.
    sys::Except_Level = sys::kMaxPendingFaults;
    *nowhere = 1;
  }
  if (std::strcmp(mode, "keys") == 0) return Keys();
  while (!crt::KeyPressed()) sys::os::SleepMs(1);
  sys::ReadLn_End(sys::Input);
  sys::Int_IOCheck();
}

constexpr sys::UnitEntry kUnits[] = {
    {sys::InitSystemUnit, nullptr},
    {crt::InitCrt, nullptr},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) mode = argv[1];
  sys::InitFinal = {2, 0, kUnits};
  sys::Exe_Entry(Program);
}
