// Processor faults become run-time errors with their numbers and reports;
// faults that are not ours stay the system's.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "runtime/checks.h"
#include "runtime/faults.h"
#include "runtime/frames.h"
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

int* volatile nowhere = nullptr;

// An instruction that is undefined by design, and the debugger's breakpoint.
#if defined(__x86_64__) || defined(__i386__)
void IllegalInstruction() { asm volatile("ud2"); }
void Breakpoint() { asm volatile("int3"); }
#elif defined(__aarch64__)
void IllegalInstruction() { asm volatile("udf #0"); }
void Breakpoint() { asm volatile("brk #0"); }
#elif defined(__s390x__)
// Opcode 0 is architected never to be assigned.  (s390x's breakpoint, 0x0001,
// is only a trap under a debugger; without one it is an illegal operation.)
void IllegalInstruction() { asm volatile(".short 0x0000"); }
#endif

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

// Integer division's faults, the same way: x86 traps on them, elsewhere
// the checked division raises what the processor lets pass.  A call first
// keeps the division out of the prologue, where the scheduler would put it
// before the frame pointer is set and the fault would show the caller's.
volatile int32_t quotient;
[[gnu::noinline]] void Divides(int32_t a, int32_t b) {
  Settle();
  quotient = sys::DivChecked(a, b);
  Settle();
}
[[gnu::noinline]] void TakesTheRemainder(int32_t a, int32_t b) {
  Settle();
  quotient = sys::ModChecked(a, b);
  Settle();
}

enum class Division { ByZero, RemainderByZero, LeastByMinusOne, RemainderOfLeastByMinusOne };

[[gnu::noinline]] void Divide(Division d) {
  volatile int32_t zero = 0, minusOne = -1, least = INT32_MIN;
  switch (d) {
    case Division::ByZero: Divides(7, zero); break;
    case Division::RemainderByZero: TakesTheRemainder(7, zero); break;
    case Division::LeastByMinusOne: Divides(least, minusOne); break;
    case Division::RemainderOfLeastByMinusOne: TakesTheRemainder(least, minusOne); break;
  }
  asm volatile("" : : : "memory");
}

const void* faultSite = nullptr;
const void* faultCaller = reinterpret_cast<const void*>(&Cause);
// The faulting routines end well within this many bytes of their start,
// their callers within the second.  Where long double is not the extended
// type (a quad on arm64 and s390x), a constant such as OrdersANaN's 1.0L is
// converted by calls of its own, which make the routines longer.
#if defined(__x86_64__) || defined(__i386__)
constexpr uintptr_t kRoutineReach = 128;
#else
constexpr uintptr_t kRoutineReach = 256;
#endif
constexpr uintptr_t kCauseReach = 1024;

bool Within(const void* addr, const void* routine, uintptr_t reach) {
  const auto a = reinterpret_cast<uintptr_t>(addr), r = reinterpret_cast<uintptr_t>(routine);
  return a > r && a < r + reach;
}

// The exit procedure's view: the error address in the faulting routine, the
// report's first frame line in its caller.
void ShowSite() {
  const void* caller = sys::ErrorBase ? sys::frames::ReturnAddress(sys::ErrorBase) : nullptr;
  char line[64];
  std::snprintf(line, sizeof line, "site %s caller %s", Within(sys::ErrorAddr, faultSite, kRoutineReach) ? "in" : "out",
                Within(caller, faultCaller, kCauseReach) ? "in" : "out");
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

TEST(FaultsDeathTest, DivisionFaultsAreReportedInTheRoutineThatDivided) {
  struct Case {
    Division division;
    const void* routine;
  };
  const Case cases[] = {
      {Division::ByZero, reinterpret_cast<const void*>(&Divides)},
      {Division::RemainderByZero, reinterpret_cast<const void*>(&TakesTheRemainder)},
      {Division::LeastByMinusOne, reinterpret_cast<const void*>(&Divides)},
      {Division::RemainderOfLeastByMinusOne, reinterpret_cast<const void*>(&TakesTheRemainder)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.division));
    EXPECT_EXIT(
        {
          Arm();
          faultSite = c.routine;
          faultCaller = reinterpret_cast<const void*>(&Divide);
          sys::ExitProc = ShowSite;
          Divide(c.division);
        },
        testing::ExitedWithCode(200), "^site in caller in\n" AGG_REPORT_RE(200));
  }
}

// Divisions next to the faulting ones, whose results are printed.
void DivideNearTheEdges() {
  Arm();
  volatile int32_t least = INT32_MIN, minusOne = -1, seven = 7, minusTwo = -2;
  std::fprintf(stderr, "%d %d %d %d\n", sys::DivChecked(least, -minusOne), sys::DivChecked(seven, minusTwo),
               sys::ModChecked(seven, minusTwo), sys::ModChecked(least + 1, minusOne));
  std::exit(3);
}

TEST(FaultsDeathTest, DivisionsThatFitDoNotFault) {
  EXPECT_EXIT(DivideNearTheEdges(), testing::ExitedWithCode(3), "^-2147483648 -3 1 0\n");
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

// s390x has no breakpoint that traps outside a debugger, so no such fault
// to leave to the system.
#if !defined(__s390x__)
TEST(FaultsDeathTest, FaultsNotInTheTableAreLeftToTheSystem) {
  // Nothing of the program's is printed; under qemu's user-mode emulation
  // the emulator itself names the signal that ended its guest.
  EXPECT_EXIT((Arm(), Breakpoint()), testing::KilledBySignal(SIGTRAP), "^(qemu: uncaught target signal [^\n]*\n)?$");
}
#endif

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
