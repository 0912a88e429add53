// Processor faults become run-time errors with their numbers and reports;
// faults that are not ours stay the system's.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "runtime/faults.h"
#include "runtime/system.h"
#include "tests/support/report.h"

namespace {

void Arm() {
  testsupport::ReportToStderr();
  sys::os::InstallFaultHandlers();
}

volatile int zero = 0;
int* volatile nowhere = nullptr;

void IllegalInstruction() { asm volatile("ud2"); }
void Breakpoint() { asm volatile("int3"); }

volatile bool deeper = true;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  return (deeper ? Recurse(depth + 1) : 0) + pad[0];
}

// Reports the control word as the exit procedures see it, less the
// reserved bits the unit sets on its own.
void ShowControlWord() {
  char line[32];
  std::snprintf(line, sizeof line, "cw %04X", sys::GetFPUControlWord() & 0x1F3F);
  sys::WriteStr(sys::StdErr, line);
  sys::WriteLnEnd(sys::StdErr);
}

sys::Extended Square(sys::Extended x) { return x * x; }

TEST(FaultsDeathTest, HardwareFaultsHaveTheirNumbers) {
  EXPECT_EXIT((Arm(), *nowhere = 1), testing::ExitedWithCode(216), AGG_REPORT_RE(216));
  EXPECT_EXIT((Arm(), std::printf("%d", 7 / zero)), testing::ExitedWithCode(200), AGG_REPORT_RE(200));
  EXPECT_EXIT((Arm(), Recurse(0)), testing::ExitedWithCode(202), AGG_REPORT_RE(202));
  EXPECT_EXIT((Arm(), IllegalInstruction()), testing::ExitedWithCode(217), AGG_REPORT_RE(217));
}

TEST(FaultsDeathTest, FloatingFaultsReloadTheControlWordBeforeTheExitProcedures) {
  EXPECT_EXIT(
      {
        Arm();
        sys::ExitProc = ShowControlWord;
        sys::SetFPUControlWord(sys::FPUCW);
        volatile sys::Extended big = 1e4000L;
        volatile sys::Extended r = Square(Square(big));
        (void)r;
      },
      testing::ExitedWithCode(205), "^cw 1332\n" AGG_REPORT_RE(205));
  EXPECT_EXIT(
      {
        Arm();
        sys::SetFPUControlWord(sys::FPUCW);
        volatile sys::Extended zeroF = 0.0L;
        volatile sys::Extended r = zeroF / zeroF;
        (void)r;
      },
      testing::ExitedWithCode(207), AGG_REPORT_RE(207));
}

TEST(FaultsDeathTest, FaultsNotInTheTableAreLeftToTheSystem) {
  EXPECT_EXIT((Arm(), Breakpoint()), testing::KilledBySignal(SIGTRAP), "^$");
}

TEST(Faults, PendingEntriesAreLimited) {
  const uint8_t saved = sys::Except_Level;
  int accepted = 0;
  int frame = 0;
  while (sys::SysHandleErrorFrame(216, nullptr, &frame, false)) ++accepted;
  EXPECT_EQ(accepted, sys::kMaxPendingFaults - saved);
  EXPECT_FALSE(sys::SysHandleErrorFrame(216, nullptr, &frame, false));
  sys::Except_Level = 0;
  EXPECT_FALSE(sys::SysHandleErrorFrame(216, nullptr, nullptr, false)) << "a zero frame is declined";
  sys::Except_Level = saved;
}

}  // namespace
