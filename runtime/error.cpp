// Run-time errors and the orderly exit: the single path that a failed
// check, a failed I/O check or a halt takes, the exit-procedure chain and
// the report on standard output.
#include <atomic>
#include <thread>

#include "runtime/faults.h"
#include "runtime/frames.h"
#include "runtime/system.h"

namespace sys {

ExitProcPtr ExitProc = nullptr;
uint16_t ExitCode = 0;
uint16_t ErrorCode = 0;
const void* ErrorAddr = nullptr;
void* ErrorBase = nullptr;
bool IsConsole = false;
uint16_t Max_Frame_Dump = 8;
void* OutermostFrame = nullptr;
thread_local void* ThreadOutermostFrame = nullptr;

namespace {

// A frame leads to the return address into the caller and to the caller's
// frame (runtime/frames.h).  The frame of the start routine stands for the
// zero link, so that a walk never leaves the program's own frames.
const void* Get_Caller_Addr(void* frame) {
  if (frame == nullptr || frame == OutermostFrame || frame == ThreadOutermostFrame) return nullptr;
  return frames::ReturnAddress(frame);
}

void* Get_Caller_Frame(void* frame) {
  if (frame == nullptr || frame == OutermostFrame || frame == ThreadOutermostFrame) return nullptr;
  return frames::Caller(frame);
}

// Code addresses are printed as eight hex digits; the programs are linked
// below 4 GiB, so nothing is lost.
uint32_t AddrBits(const void* addr) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(addr));
}

void WriteBacktraceLine(TextRec& f, const void* addr) {
  char line[16] = {' ', ' ', '0', 'x'};
  HexStr(AddrBits(addr), 8, line + 4);
  WriteStr(f, line, 12);
  WriteLnEnd(f);
}

void WriteReport() {
  WriteStr(StdOut, "Runtime error ");
  WriteDec(StdOut, ErrorCode);
  WriteStr(StdOut, " at 0x");
  char hex[9];
  HexStr(AddrBits(ErrorAddr), 8, hex);
  WriteStr(StdOut, hex, 8);
  WriteLnEnd(StdOut);
  WriteBacktraceLine(StdOut, ErrorAddr);
  Dump_Stack(StdOut, ErrorBase);
  WriteLnEnd(StdOut);
}

// The exit sequence runs on one thread only, the first to get here, so that
// two errors at once do not run the exit procedures twice over or
// interleave two reports.  A second thread that fails meanwhile ends
// itself rather than wait: the first may be waiting for it (the graph's
// exit procedure joins the window thread), and a wait on both sides would
// never end.  Its error is dropped; the exit code and the report are the
// first one's.
void ClaimExit() {
  static std::atomic<std::thread::id> owner{};
  std::thread::id none{};
  const std::thread::id me = std::this_thread::get_id();
  if (owner.compare_exchange_strong(none, me) || none == me) return;
  os::EndThisThread();
}

[[noreturn]] void System_Exit() {
  os::RemoveFaultHandlers();
  os::ExitProcess(ExitCode);
}

}  // namespace

void Dump_Stack(TextRec& f, void* frame) {
  const bool device = os::IsCharDevice(f.Handle);
  intptr_t previous = reinterpret_cast<intptr_t>(frame) - 1;
  int count = 0;
  while (reinterpret_cast<intptr_t>(frame) > previous) {
    if (const void* a = Get_Caller_Addr(frame)) WriteBacktraceLine(f, a);
    ++count;
    if (count > Max_Frame_Dump && device) break;
    if (count > 256) break;
    previous = reinterpret_cast<intptr_t>(frame);
    frame = Get_Caller_Frame(frame);
  }
}

void InternalExit() {
  while (ExitProc != nullptr) {
    InOutRes = 0;
    ExitProcPtr p = ExitProc;
    ExitProc = nullptr;
    p();
  }
}

void Do_Exit() {
  ClaimExit();
  InternalExit();
  FinalizeUnits();
  if (ErrorAddr != nullptr) WriteReport();
  System_Exit();
}

void Internal_Break_Error(int32_t code, const void* addr, void* frame) {
  ClaimExit();
  ExitCode = static_cast<uint16_t>(code);
  ErrorAddr = addr;
  ErrorBase = frame;
  Do_Exit();
}

void HandleErrorAddrFrame(int32_t n, const void* addr, void* frame) {
  ClaimExit();
  ErrorCode = static_cast<uint16_t>(n);
  Internal_Break_Error(n, addr, frame);
}

void HandleErrorFrame(int32_t n, void* frame) {
  HandleErrorAddrFrame(n, Get_Caller_Addr(frame), Get_Caller_Frame(frame));
}

void Halt(uint8_t code) { Internal_Break_Error(code, ErrorAddr, ErrorBase); }

void HandleError(int32_t n) { HandleErrorFrame(n, __builtin_frame_address(0)); }

void RunError(uint16_t n) {
  void* frame = __builtin_frame_address(0);
  ClaimExit();
  ErrorCode = n;
  Internal_Break_Error(n, Get_Caller_Addr(frame), Get_Caller_Frame(frame));
}

void Int_Overflow() { HandleErrorFrame(215, __builtin_frame_address(0)); }

void Int_RangeError() { HandleErrorFrame(201, __builtin_frame_address(0)); }

void Int_DivByZero() { HandleErrorFrame(200, __builtin_frame_address(0)); }

void Int_IOCheck() {
  if (InOutRes != 0) [[unlikely]] {
    const uint16_t n = InOutRes;
    InOutRes = 0;
    HandleErrorFrame(n, __builtin_frame_address(0));
  }
}

void Exe_Entry(void (*mainProgram)()) {
  os::PrepareStandardHandles();
  os::InstallFaultHandlers();
  RaiseHeapErrors();
  OutermostFrame = __builtin_frame_address(0);
  SetFPUControlWord(FPUCW);
  mainProgram();
  Do_Exit();
}

}  // namespace sys
