// Processor faults on Linux: the hardware signals are classified
// into run-time error numbers and the faulting thread is sent on into the
// error path by rewriting its saved context, so the exit sequence runs on
// that thread as on any other run-time error.
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>

#include <cstdint>
#include <cstring>

#include "runtime/faults.h"
#include "runtime/system.h"

namespace sys::os {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// The handler runs on a stack of its thread's own, so that it can run at
// all once the thread's stack is exhausted: the main thread's here, any
// other thread's mapped when it gets ready.
constexpr std::size_t kAltStackSize = 64 * 1024;
alignas(16) char altStack[kAltStackSize];

void UseAltStack(void* base) {
  stack_t ss{};
  ss.ss_sp = base;
  ss.ss_size = kAltStackSize;
  ::sigaltstack(&ss, nullptr);
}

// A thread's own handler stack, given back when the thread ends.
struct ThreadAltStack {
  void* Base = MAP_FAILED;
  ~ThreadAltStack() {
    if (Base == MAP_FAILED) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(Base, kAltStackSize);
  }
};
thread_local ThreadAltStack threadAltStack;

// How far above the stack pointer a frame pointer may lie and still be
// taken for one: a faulting routine's frame is never further up than this.
constexpr uintptr_t kMaxFrameDistance = 64u << 20;
constexpr uintptr_t kRedZone = 128;
// A fault this close to the stack pointer is the stack running out.
constexpr uintptr_t kStackProbeReach = 64 * 1024;

// The saved registers that the handler reads and rewrites, by processor.
#if defined(__x86_64__)
uintptr_t StackPointer(const ucontext_t* uc) { return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]); }
uintptr_t FramePointer(const ucontext_t* uc) { return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RBP]); }
// The faulting instruction: the saved program counter, as every fault
// leaves it before the instruction.
const void* FaultingInstruction(const siginfo_t*, const ucontext_t* uc) {
  return reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
}
// The saved frame pointer is the routine's frame.
uintptr_t FrameOf(uintptr_t fp) { return fp; }
// As if the faulting instruction had called the trampoline: its address
// pushed as the return address.
void CallFrom(ucontext_t* uc, uintptr_t stack, const void* eip, void (*target)()) {
  stack = (stack & ~uintptr_t{15}) - sizeof(void*);
  std::memcpy(reinterpret_cast<void*>(stack), &eip, sizeof eip);
  uc->uc_mcontext.gregs[REG_RSP] = static_cast<greg_t>(stack);
  uc->uc_mcontext.gregs[REG_RIP] = reinterpret_cast<greg_t>(target);
}
#elif defined(__aarch64__)
uintptr_t StackPointer(const ucontext_t* uc) { return uc->uc_mcontext.sp; }
uintptr_t FramePointer(const ucontext_t* uc) { return uc->uc_mcontext.regs[29]; }
const void* FaultingInstruction(const siginfo_t*, const ucontext_t* uc) {
  return reinterpret_cast<const void*>(uc->uc_mcontext.pc);
}
uintptr_t FrameOf(uintptr_t fp) { return fp; }
// As if the faulting instruction had called the trampoline: its address in
// the link register.
void CallFrom(ucontext_t* uc, uintptr_t stack, const void* eip, void (*target)()) {
  uc->uc_mcontext.sp = stack & ~uintptr_t{15};
  uc->uc_mcontext.regs[30] = reinterpret_cast<uintptr_t>(eip);
  uc->uc_mcontext.pc = reinterpret_cast<uintptr_t>(target);
}
#elif defined(__s390x__)
uintptr_t StackPointer(const ucontext_t* uc) { return uc->uc_mcontext.gregs[15]; }
uintptr_t FramePointer(const ucontext_t* uc) { return uc->uc_mcontext.gregs[11]; }
// An illegal operation or a division fault is suppressed and leaves the
// PSW past the instruction, whose own address the kernel gives in si_addr;
// an access fault is nullified and leaves the PSW on it (si_addr there is
// the data's address).
const void* FaultingInstruction(const siginfo_t* si, const ucontext_t* uc) {
  if (si->si_signo == SIGILL || si->si_signo == SIGFPE) return si->si_addr;
  return reinterpret_cast<const void*>(uc->uc_mcontext.psw.addr);
}
// r11 is the routine's stack pointer once its frame is allocated, where
// the back chain holds the stack pointer at its entry: the routine's frame
// in runtime/frames.h's sense.  fp has been checked to lie on the stack.
uintptr_t FrameOf(uintptr_t fp) { return *reinterpret_cast<const uintptr_t*>(fp); }
// As if the faulting instruction had called the trampoline: its address in
// the return register, and below the stack the 160-byte register save area
// that the ABI gives every callee.
void CallFrom(ucontext_t* uc, uintptr_t stack, const void* eip, void (*target)()) {
  uc->uc_mcontext.gregs[15] = (stack & ~uintptr_t{7}) - 160;
  uc->uc_mcontext.gregs[14] = reinterpret_cast<uintptr_t>(eip);
  uc->uc_mcontext.psw.addr = reinterpret_cast<uintptr_t>(target);
}
#else
#error "no fault handling for this processor"
#endif

// Unmasked x87 exceptions pending in the saved state, by priority; the
// fault's own address is the x87 instruction's, not the later one where
// the unit delivered it.  Other processors have no such state.
#if defined(__x86_64__)
uint8_t X87Error(const ucontext_t* uc) {
  const _libc_fpstate* fp = uc->uc_mcontext.fpregs;
  if (fp == nullptr) return 0;
  const unsigned pending = fp->swd & ~fp->cwd & 0x3F;
  if (pending & 0x01) return 207;  // invalid operation, stack fault
  if (pending & 0x02) return 216;  // denormal operand
  if (pending & 0x04) return 200;  // division by zero
  if (pending & 0x08) return 205;  // overflow
  if (pending & 0x10) return 206;  // underflow
  return 0;                        // a precision fault is not ours
}
uintptr_t X87Address(const ucontext_t* uc) { return uc->uc_mcontext.fpregs ? uc->uc_mcontext.fpregs->rip : 0; }
void ClearX87Fault(ucontext_t* uc) {
  // Otherwise the restored unit would deliver the same fault again.
  if (uc->uc_mcontext.fpregs == nullptr) return;
  uc->uc_mcontext.fpregs->swd &= ~0x80FF;
  uc->uc_mcontext.fpregs->mxcsr &= ~0x3Fu;
}
#else
uint8_t X87Error(const ucontext_t*) { return 0; }
uintptr_t X87Address(const ucontext_t*) { return 0; }
void ClearX87Fault(ucontext_t*) {}
#endif

// Whether a value can be a frame of the faulting thread's stack.
bool OnStack(uintptr_t frame, uintptr_t sp) {
  return frame >= sp && frame - sp <= kMaxFrameDistance && frame % sizeof(void*) == 0;
}

uint8_t Classify(int sig, const siginfo_t* si, const ucontext_t* uc, bool& floating) {
  floating = false;
  const uintptr_t sp = StackPointer(uc);
  switch (sig) {
    case SIGFPE: {
      if (const uint8_t e = X87Error(uc)) {
        floating = true;
        return e;
      }
      switch (si->si_code) {
        case FPE_INTDIV: return 200;
        case FPE_INTOVF: return 215;
        case FPE_FLTSUB: return 201;
        case FPE_FLTDIV: floating = true; return 200;
        case FPE_FLTOVF: floating = true; return 205;
        case FPE_FLTUND: floating = true; return 206;
        case FPE_FLTINV: floating = true; return 207;
        default: return 0;
      }
    }
    case SIGILL: return 217;
    case SIGSEGV:
    case SIGBUS: {
      const uintptr_t addr = reinterpret_cast<uintptr_t>(si->si_addr);
      const bool nearStack = addr < sp + kStackProbeReach && addr + kStackProbeReach > sp;
      return sig == SIGSEGV && nearStack ? 202 : 216;
    }
    default: return 0;
  }
}

void Handler(int sig, siginfo_t* si, void* context) {
  auto* uc = static_cast<ucontext_t*>(context);
  bool floating = false;
  const uint8_t error = Classify(sig, si, uc, floating);
  // A thread whose stack ran out goes on on a stack of its own.
  void* emergency = error == 202 ? TakeEmergencyStack() : nullptr;
  const uintptr_t sp = StackPointer(uc);
  uintptr_t bp = FramePointer(uc);
  if (!OnStack(bp, sp) || !OnStack(bp = FrameOf(bp), sp)) bp = 0;
  const uintptr_t x87 = floating ? X87Address(uc) : 0;
  const void* eip = x87 != 0 ? reinterpret_cast<const void*>(x87) : FaultingInstruction(si, uc);
  if (error == 0 || (error == 202 && emergency == nullptr) ||
      !SysHandleErrorFrame(error, eip, reinterpret_cast<void*>(bp), floating)) {
    // Declined: the same fault recurs with the system's own handling, which
    // ends the process without the exit path.
    RunProcessEndHooks();
    ::signal(sig, SIG_DFL);
    return;
  }
  if (floating) ClearX87Fault(uc);
  CallFrom(uc, error == 202 ? reinterpret_cast<uintptr_t>(emergency) : sp - kRedZone, eip, &JumpToHandleErrorFrame);
}

}  // namespace

void InstallFaultHandlers() {
  UseAltStack(altStack);
  struct sigaction sa{};
  sa.sa_sigaction = Handler;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
}

void RemoveFaultHandlers() {
  for (int sig : kSignals) ::signal(sig, SIG_DFL);
}

void PrepareThreadForFaults() {
  ThreadAltStack& own = threadAltStack;
  if (own.Base != MAP_FAILED) return;
  own.Base = ::mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  // Without one, a fault on this thread is still reported; only a stack
  // overflow is left to the system.
  if (own.Base != MAP_FAILED) UseAltStack(own.Base);
}

}  // namespace sys::os
