// A console program for the terminal tests: the runtime and the console
// module started as the programs start them, on the terminal device.
//
//   crt_echo [line]   waits for a key as the particle loop does, then reads
//                     the closing line; exit code 0
//   crt_echo keys     writes the code of every key ReadKey gives to
//                     standard error, one per line, until Enter
//   crt_echo spin     writes ~ to the console, then polls for keys for ever,
//                     as a growth that never ends
//   crt_echo runerror run-time error 201 right after start-up
//   crt_echo halt     Halt(3) right after start-up
//   crt_echo print    a line on standard output, then the I/O check
//   crt_echo writeln  two lines written to Output, the console, then the
//                     closing line as in `line`
//   crt_echo heap     asks for more memory than there is, once
//   crt_echo fault    a processor fault that the fault hook leaves to the
//                     system
#include <cstdio>
#include <cstring>
#include <memory>

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

bool Is(const char* m) { return std::strcmp(mode, m) == 0; }

// Kept, so that the allocation cannot be left out.
std::unique_ptr<char[]> hoard;

void Program() {
  sys::InitializeUnits();
  // Every way out is taken with the input taken as the key polling takes it.
  crt::KeyPressed();
  if (Is("runerror")) sys::RunError(201);
  if (Is("halt")) sys::Halt(3);
  if (Is("heap")) hoard.reset(new char[size_t{1} << 46]);
  if (Is("print")) {
    sys::WriteStr(sys::StdOut, "printed");
    sys::WriteLnEnd(sys::StdOut);
    sys::Int_IOCheck();
    return;
  }
  if (Is("spin")) {
    // On the terminal, however the handles go: now polling.
    sys::WriteStr(sys::Output, "~");
    crt::CrtWrite(sys::Output);
    for (;;) {
      crt::KeyPressed();
      sys::os::SleepMs(2);
    }
  }
  if (Is("writeln")) {
    sys::WriteStr(sys::Output, "ab");
    sys::WriteLnEnd(sys::Output);
    sys::WriteStr(sys::Output, "cd");
    sys::WriteLnEnd(sys::Output);
    sys::Int_IOCheck();
  }
  if (Is("fault")) {
    // With every pending-fault slot taken the hook declines.
    sys::Except_Level = sys::kMaxPendingFaults;
    *nowhere = 1;
  }
  if (Is("keys")) return Keys();
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
