// Process services: what the runtime needs of the operating system.  One
// implementation per platform, chosen at link time.
#pragma once

#include <cstdint>

namespace sys::os {

using Handle = intptr_t;
inline constexpr Handle InvalidHandle = -1;

enum StdHandleKind : int32_t { StdInputHandle = -10, StdOutputHandle = -11, StdErrorHandle = -12 };

Handle GetStdHandle(StdHandleKind kind);
// The first thing a program does, before anything opens a file: a standard
// handle that was closed is held by the null device, so that nothing opened
// later takes its place (a closed input then reads as ended, a closed
// output swallows what is written), and a write to a pipe that nobody reads
// fails instead of ending the process.
void PrepareStandardHandles();
// Bytes the system took, or -1 when the call failed.
int32_t WriteHandle(Handle h, const void* data, int32_t len);
// Bytes read, 0 at the end of input, -1 on failure.
int32_t ReadHandle(Handle h, void* data, int32_t len);
bool IsCharDevice(Handle h);
// A terminal a person reads, not just any character device.
bool IsTerminal(Handle h);
// Milliseconds from a fixed point in the past, 32 bits, wrapping.
uint32_t TickCount();
void SleepMs(uint32_t ms);
// Processor time the calling thread has used, in seconds; what a benchmark
// on a shared machine measures, where waiting for a processor is not cost.
// 0 where the system does not tell.
double ThreadCpuSeconds();
// A barrier that makes every other thread of the process complete its
// memory accesses as if it had run a full fence, so that one side of a
// handshake can go without fences of its own.  Enable returns false where
// the system has none; ProcessBarrier is then not to be called.
bool EnableProcessBarrier();
void ProcessBarrier();
// Ends the process at once: no destructors, no atexit handlers, no flushing
// of anything the runtime did not flush itself.  The process-end hooks run
// first.
[[noreturn]] void ExitProcess(uint32_t code);
// Makes the calling thread ready for the fault hook: where the hook needs
// room of the thread's own to run in after the thread's stack has run out,
// it gets it, for the thread's life.  Every thread that the runtime or a
// module starts calls this first, so that a stack overflow on it is
// run-time error 202 with its report, as on the main thread.
void PrepareThreadForFaults();
// Ends the calling thread alone, at once: nothing on its stack is unwound
// and no hook runs.  A thread waiting for it to end (a join) goes on.
[[noreturn]] void EndThisThread();

// Process-end hooks: for what a backend must put back however the process
// ends (a terminal's modes).  They run, newest first and each at most once,
// from ExitProcess, from the fault hook before it leaves a fault to the
// system, and from a backend's own handler of a fatal signal; so a hook must
// be async-signal-safe.  False when all kMaxProcessEndHooks slots are taken.
inline constexpr int kMaxProcessEndHooks = 4;
bool AtProcessEnd(void (*hook)());
void RunProcessEndHooks();

}  // namespace sys::os
