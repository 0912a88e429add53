// Processor faults become run-time errors with their numbers and reports;
// faults that are not ours stay the system's.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "runtime/faults.h"
#include "runtime/system.h"
#include "tests/support/report.h"

// Where the faulting routines leave their results, out of the optimiser's
// reach.
sys::Extended sink;

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

TEST(FaultsDeathTest, HardwareFaultsHaveTheirNumbers) {
  EXPECT_EXIT((Arm(), *nowhere = 1), testing::ExitedWithCode(216), AGG_REPORT_RE(216));
#if defined(__x86_64__) || defined(__i386__)
  // Only x86 traps an integer division by zero; nothing of the system's
  // relies on that trap, so elsewhere there is nothing to report.
  EXPECT_EXIT((Arm(), std::printf("%d", 7 / zero)), testing::ExitedWithCode(200), AGG_REPORT_RE(200));
#endif
  EXPECT_EXIT((Arm(), Recurse(0)), testing::ExitedWithCode(202), AGG_REPORT_RE(202));
  EXPECT_EXIT((Arm(), IllegalInstruction()), testing::ExitedWithCode(217), AGG_REPORT_RE(217));
}

// Floating-point faults, each in a routine of its own that stores its
// result there and then calls another, so that the unit delivers the fault
// inside it with its frame still in place (a leaf's epilogue may be
// scheduled before its last x87 instruction), as the software type raises
// it there: both report an address in that routine and then its caller's
// frame.
[[gnu::noinline]] void Settle() { asm volatile(""); }
sys::Extended Value(long double v) {
  sys::Extended x = v;
  asm volatile("" : : "r"(&x) : "memory");  // not known to the compiler
  return x;
}
[[gnu::noinline]] void Overflows(sys::Extended x) { sink = x * x; Settle(); }
[[gnu::noinline]] void DividesZeroByZero(sys::Extended x) { sink = x / x; Settle(); }
[[gnu::noinline]] void DividesByZero(sys::Extended x, sys::Extended zero) { sink = x / zero; Settle(); }
[[gnu::noinline]] void TakesTheRootOf(sys::Extended x) { sink = sys::Sqrt(x); Settle(); }
[[gnu::noinline]] void OrdersANaN(sys::Extended x) { sink = x < 1.0L ? 1.0L : 2.0L; Settle(); }
[[gnu::noinline]] void AddsADenormal(sys::Extended x) { sink = x + x; Settle(); }

enum class Fault { Overflow, ZeroByZero, ByZero, Root, NaNOrder, Denormal };

[[gnu::noinline]] void Cause(Fault f) {
  switch (f) {
    case Fault::Overflow: Overflows(Value(1e4000L)); break;
    case Fault::ZeroByZero: DividesZeroByZero(Value(0.0L)); break;
    case Fault::ByZero: DividesByZero(Value(3.0L), Value(0.0L)); break;
    case Fault::Root: TakesTheRootOf(Value(-2.0L)); break;
    case Fault::NaNOrder: OrdersANaN(Value(__builtin_nanl(""))); break;
    case Fault::Denormal: AddsADenormal(Value(1e-4940L)); break;
  }
  asm volatile("" : : : "memory");
}

const void* faultSite = nullptr;
// The faulting routines end well within this many bytes of their start,
// Cause within the second.
constexpr uintptr_t kRoutineReach = 128;
constexpr uintptr_t kCauseReach = 1024;

bool Within(const void* addr, const void* routine, uintptr_t reach) {
  const auto a = reinterpret_cast<uintptr_t>(addr), r = reinterpret_cast<uintptr_t>(routine);
  return a > r && a < r + reach;
}

// The exit procedure's view: the error address in the faulting routine, the
// report's first frame line in Cause.
void ShowSite() {
  const void* caller = sys::ErrorBase ? static_cast<void* const*>(sys::ErrorBase)[1] : nullptr;
  char line[64];
  std::snprintf(line, sizeof line, "site %s caller %s", Within(sys::ErrorAddr, faultSite, kRoutineReach) ? "in" : "out",
                Within(caller, reinterpret_cast<const void*>(&Cause), kCauseReach) ? "in" : "out");
  sys::WriteStr(sys::StdErr, line);
  sys::WriteLnEnd(sys::StdErr);
}

TEST(FaultsDeathTest, FloatingFaultsAreReportedInTheRoutineThatFaulted) {
  struct Case {
    Fault fault;
    const void* routine;
    uint16_t control;
    int error;
  };
  const Case cases[] = {
      {Fault::Overflow, reinterpret_cast<const void*>(&Overflows), sys::FPUCW, 205},
      {Fault::ZeroByZero, reinterpret_cast<const void*>(&DividesZeroByZero), sys::FPUCW, 207},
      {Fault::ByZero, reinterpret_cast<const void*>(&DividesByZero), sys::FPUCW, 200},
      {Fault::Root, reinterpret_cast<const void*>(&TakesTheRootOf), sys::FPUCW, 207},
      {Fault::NaNOrder, reinterpret_cast<const void*>(&OrdersANaN), sys::FPUCW, 207},
      // Denormal operands unmasked as well.
      {Fault::Denormal, reinterpret_cast<const void*>(&AddsADenormal), 0x1330, 216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EXIT(
        {
          Arm();
          faultSite = c.routine;
          sys::ExitProc = ShowSite;
          sys::SetFPUControlWord(c.control);
          Cause(c.fault);
        },
        testing::ExitedWithCode(c.error), "^site in caller in\n");
  }
}

TEST(FaultsDeathTest, MaskedExceptionsDoNotFault) {
  EXPECT_EXIT(
      {
        Arm();
        sys::SetFPUControlWord(sys::FPUCW);
        Cause(Fault::Denormal);  // masked under the programs' word
        sys::SetFPUControlWord(sys::FPUCW | 0x0D);
        Cause(Fault::Overflow);
        Cause(Fault::ByZero);
        Cause(Fault::ZeroByZero);
        std::fprintf(stderr, "went on\n");
        std::exit(3);
      },
      testing::ExitedWithCode(3), "^went on\n");
}

TEST(FaultsDeathTest, FloatingFaultsReloadTheControlWordBeforeTheExitProcedures) {
  EXPECT_EXIT(
      {
        Arm();
        sys::ExitProc = ShowControlWord;
        sys::SetFPUControlWord(sys::FPUCW);
        Cause(Fault::Overflow);
      },
      testing::ExitedWithCode(205), "^cw 1332\n" AGG_REPORT_RE(205));
  EXPECT_EXIT(
      {
        Arm();
        sys::SetFPUControlWord(sys::FPUCW);
        Cause(Fault::ZeroByZero);
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
