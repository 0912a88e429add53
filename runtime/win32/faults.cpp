// Processor faults on 32-bit Windows: the process-wide unhandled-exception
// filter turns the exception codes of its table into run-time errors and
// sends the faulting thread on into the error path by rewriting its saved
// context, so the exit sequence runs on that thread as on any other
// run-time error.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "runtime/faults.h"
#include "runtime/system.h"

#if !defined(__i386__)
#error "the fault filter reads and writes a 32-bit x86 context"
#endif

namespace sys::os {

// Defined in assembly below.
extern "C" const char resumeStub[] asm("_agg_fault_resume_stub");

namespace {

struct FaultKind {
  DWORD Code;
  uint8_t Error;
  bool ResetFpu;
};

constexpr FaultKind kFaults[] = {
    {EXCEPTION_SINGLE_STEP, 217, false},
    {EXCEPTION_ACCESS_VIOLATION, 216, false},
    {EXCEPTION_IN_PAGE_ERROR, 217, false},
    {EXCEPTION_ILLEGAL_INSTRUCTION, 217, false},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, 201, false},
    {EXCEPTION_FLT_DENORMAL_OPERAND, 216, true},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, 200, true},
    {EXCEPTION_FLT_INVALID_OPERATION, 207, true},
    {EXCEPTION_FLT_OVERFLOW, 205, true},
    {EXCEPTION_FLT_STACK_CHECK, 207, true},
    {EXCEPTION_FLT_UNDERFLOW, 206, true},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, 200, false},
    {EXCEPTION_INT_OVERFLOW, 215, false},
    {EXCEPTION_PRIV_INSTRUCTION, 217, false},
    {EXCEPTION_STACK_OVERFLOW, 202, false},
};

// The main thread's stack segment, recorded at installation; a fault on a
// context with another one has no frame the error path could use.
DWORD mainSegSs = 0;

// The faulting instruction, which the resume stub pushes as the return
// address of the trampoline.  Written by the filter, read by the stub on
// the same thread just after.
[[gnu::used]] const void* volatile resumeReturn asm("_agg_fault_resume_return") = nullptr;
[[gnu::used]] void (*const trampoline)() asm("_agg_fault_trampoline") = &JumpToHandleErrorFrame;

// x87 status-word bits of pending exceptions, the summary and busy flags.
constexpr WORD kX87Pending = 0x80FF;

const FaultKind* Lookup(DWORD code) {
  for (const FaultKind& k : kFaults)
    if (k.Code == code) return &k;
  return nullptr;
}

LONG WINAPI Filter(EXCEPTION_POINTERS* info) {
  EXCEPTION_RECORD* rec = info->ExceptionRecord;
  CONTEXT* ctx = info->ContextRecord;
  void* frame = ctx->SegSs == mainSegSs ? reinterpret_cast<void*>(ctx->Ebp) : nullptr;
  const FaultKind* kind = Lookup(rec->ExceptionCode);
  // A thread whose stack ran out goes on on a stack of its own.
  void* emergency = rec->ExceptionCode == EXCEPTION_STACK_OVERFLOW ? TakeEmergencyStack() : nullptr;
  if (rec->ExceptionCode == EXCEPTION_STACK_OVERFLOW && emergency == nullptr) kind = nullptr;
  // An x87 fault shows at the next waiting instruction; the unit keeps
  // the address of the one that raised it.
  const void* eip = reinterpret_cast<const void*>(ctx->Eip);
  if (kind && kind->ResetFpu && (ctx->ContextFlags & CONTEXT_FLOATING_POINT) == CONTEXT_FLOATING_POINT &&
      ctx->FloatSave.ErrorOffset != 0)
    eip = reinterpret_cast<const void*>(ctx->FloatSave.ErrorOffset);
  if (!kind || !SysHandleErrorFrame(kind->Error, eip, frame, kind->ResetFpu)) {
    RunProcessEndHooks();
    return EXCEPTION_CONTINUE_SEARCH;
  }
  if (kind->ResetFpu) {
    // Otherwise the restored unit would deliver the same fault again.
    ctx->FloatSave.StatusWord &= ~kX87Pending;
    if ((ctx->ContextFlags & CONTEXT_EXTENDED_REGISTERS) == CONTEXT_EXTENDED_REGISTERS) {
      // The FXSAVE image: the x87 status word at byte 2, MXCSR at byte 24.
      WORD fsw;
      DWORD mxcsr;
      std::memcpy(&fsw, ctx->ExtendedRegisters + 2, sizeof fsw);
      std::memcpy(&mxcsr, ctx->ExtendedRegisters + 24, sizeof mxcsr);
      fsw &= ~kX87Pending;
      mxcsr &= ~0x3Fu;
      std::memcpy(ctx->ExtendedRegisters + 2, &fsw, sizeof fsw);
      std::memcpy(ctx->ExtendedRegisters + 24, &mxcsr, sizeof mxcsr);
    }
  }
  uintptr_t esp = emergency != nullptr ? reinterpret_cast<uintptr_t>(emergency) : static_cast<uintptr_t>(ctx->Esp);
  // The stub's push leaves the stack as a call from the faulting
  // instruction would.  Nothing is written to the faulting stack here: the
  // saved context itself lies just below its stack pointer.
  resumeReturn = eip;
  ctx->Esp = static_cast<DWORD>(esp & ~uintptr_t{15});
  ctx->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(resumeStub));
  rec->ExceptionCode = 0;
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

// The resumed thread arrives here with every register as at the fault but
// the stack pointer; it pushes the faulting address and goes on into the
// trampoline as if called from there.
asm(R"(
  .text
  .globl _agg_fault_resume_stub
_agg_fault_resume_stub:
  pushl _agg_fault_resume_return
  jmp *_agg_fault_trampoline
)");

void InstallFaultHandlers() {
  WORD ss;
  asm volatile("movw %%ss, %0" : "=r"(ss));
  mainSegSs = ss;
  PrepareThreadForFaults();
  ::SetUnhandledExceptionFilter(Filter);
}

void RemoveFaultHandlers() { ::SetUnhandledExceptionFilter(nullptr); }

// A stack overflow is raised on the thread's own stack, in what the guard
// page leaves below the overflow: the system's dispatch and this filter
// must fit there.  The guarantee keeps room for them.  Looked up rather
// than imported, so that a system without it still starts the programs.
void PrepareThreadForFaults() {
  using Guarantee = BOOL(WINAPI*)(PULONG);
  static const auto guarantee = reinterpret_cast<Guarantee>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetThreadStackGuarantee")));
  ULONG bytes = 64 * 1024;
  if (guarantee) guarantee(&bytes);
}

}  // namespace sys::os
