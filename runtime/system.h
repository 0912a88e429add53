// The runtime: generator, float conversions, text channels, the exit state,
// run-time errors and the orderly exit.  Everything here runs on the thread
// that calls it; nothing is locked.
#pragma once

#include <cstdint>
#include <limits>

#include "runtime/extended.h"
#include "runtime/procsvc.h"

namespace sys {

// ---------------------------------------------------------------- generator
extern uint32_t RandSeed;      // public: Randomize and programs may write it
extern bool InitialSeed;       // forces a reseed at the first generator call
extern uint32_t OldRandSeed;   // the value the generator last left in RandSeed
extern uint32_t Seed2;
extern uint32_t Seed3;

void NewSeed();
uint32_t InternRandom(uint32_t l);
Extended Random();
int32_t Random(int32_t n);
void Randomize();
// Random(n)'s result from the present states by the extended computation
// alone, without a step; the reference the faster path is held to.
int32_t RandomExtended(int32_t n);

// ---------------------------------------------------------------- conversions
// Round: to nearest, ties to even, under a fixed control setting; a result
// outside the signed 32-bit range or a NaN is run-time error 207 at the
// caller.  Trunc: toward zero, signed 64-bit, the same failure rule.
int32_t Round(Extended x);
int64_t Trunc(Extended x);
Extended Frac(Extended x);

// x87 control word the programs run with: invalid operation, division by
// zero and overflow unmasked, 64-bit significand, round to nearest.
constexpr uint16_t FPUCW = 0x1332;
uint16_t GetFPUControlWord();
void SetFPUControlWord(uint16_t cw);

// ---------------------------------------------------------------- text channels
constexpr int32_t fmClosed = 0xD7B0;
constexpr int32_t fmInput = 0xD7B1;
constexpr int32_t fmOutput = 0xD7B2;
constexpr int32_t fmAppend = 0xD7B4;

struct TextRec;
using TextFunc = int32_t (*)(TextRec& t);

struct TextRec {
  os::Handle Handle = os::InvalidHandle;
  int32_t Mode = fmClosed;
  int32_t BufferSize = 256;
  int32_t Position = 0;
  int32_t DataEnd = 0;
  char* Buffer = nullptr;
  TextFunc OpenHook = nullptr;
  TextFunc TransferHook = nullptr;
  TextFunc FlushHook = nullptr;
  TextFunc CloseHook = nullptr;
  char BufferSpace[256] = {};
};

extern uint16_t InOutRes;
extern TextRec Input;
extern TextRec Output;
extern TextRec StdOut;
extern TextRec StdErr;

// Assign with an empty name: clears the record, mode closed, own buffer.
void AssignEmpty(TextRec& t);
void Reset(TextRec& t);    // open for input
void Rewrite(TextRec& t);  // open for output
void OpenStdIO(TextRec& t, int32_t mode, os::Handle h);
int32_t FileWriteFunc(TextRec& t);
int32_t FileReadFunc(TextRec& t);
int32_t FileCloseFunc(TextRec& t);

// Writes of a string and of a line end, as the runtime's Write/WriteLn do.
void WriteStr(TextRec& t, const char* s);
void WriteStr(TextRec& t, const char* s, int32_t len);
void WriteDec(TextRec& t, uint32_t value);
void WriteLnEnd(TextRec& t);
// ReadLn into no variables.
void ReadLn_End(TextRec& t);

// Lowest `digits` hex digits of value, upper case, most significant first.
// out must hold digits + 1 bytes.
void HexStr(uint32_t value, uint8_t digits, char* out);

// ---------------------------------------------------------------- exit state
using ExitProcPtr = void (*)();
extern ExitProcPtr ExitProc;
extern uint16_t ExitCode;
extern uint16_t ErrorCode;
extern const void* ErrorAddr;   // null: not ending by a run-time error
extern void* ErrorBase;         // frame the backtrace starts from
extern bool IsConsole;

// ---------------------------------------------------------------- errors and exit
// All of these end the program and never return.  The "raise at the call
// site" ones report the return address into their caller, so they must stay
// out of line.
[[noreturn, gnu::noinline, gnu::cold]] void Int_Overflow();
[[noreturn, gnu::noinline, gnu::cold]] void Int_RangeError();
[[noreturn, gnu::noinline, gnu::cold]] void Int_DivByZero();
[[noreturn, gnu::noinline, gnu::cold]] void HandleError(int32_t n);
[[noreturn, gnu::noinline, gnu::cold]] void RunError(uint16_t n);
[[noreturn]] void HandleErrorFrame(int32_t n, void* frame);
[[noreturn]] void HandleErrorAddrFrame(int32_t n, const void* addr, void* frame);
[[noreturn]] void Internal_Break_Error(int32_t code, const void* addr, void* frame);
[[noreturn]] void Halt(uint8_t code);
[[noreturn]] void Do_Exit();
void InternalExit();

// From now on an allocation that fails (other than a nothrow one) is
// run-time error 203 at the caller of the allocation; before, it throws.
void RaiseHeapErrors();

// Turns a pending I/O result into a run-time error at the caller.
[[gnu::noinline]] void Int_IOCheck();

// The start routine: loads the programs' control word, runs the main
// program, then the exit sequence.  Its own frame ends every backtrace.
[[noreturn]] void Exe_Entry(void (*mainProgram)());
extern void* OutermostFrame;
// The same for a thread of a module's own (the graph window's), set by that
// thread where it starts: a run-time error raised on it reports only
// frames of its own code.
extern thread_local void* ThreadOutermostFrame;

// The report's frame walk: at most this many frame lines (plus one) on a
// character device.
extern uint16_t Max_Frame_Dump;
void Dump_Stack(TextRec& f, void* frame);

// ---------------------------------------------------------------- module table
// The table is the program's: it names modules the runtime does not know.
struct UnitEntry {
  void (*Init)();
  void (*Final)();
};
struct UnitTable {
  int32_t Count;
  int32_t Initialised;
  const UnitEntry* Entries;
};
extern UnitTable InitFinal;
void InitializeUnits();
void FinalizeUnits();

// The runtime's own set-up of the standard handles and channels (entry 1).
void InitSystemUnit();

}  // namespace sys
