// Process services on Windows (kernel32).
#include <windows.h>


#include "runtime/procsvc.h"

namespace sys::os {

namespace {

HANDLE AsHandle(Handle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

Handle GetStdHandle(StdHandleKind kind) {
  return reinterpret_cast<Handle>(::GetStdHandle(static_cast<DWORD>(kind)));
}

// A missing standard handle is no descriptor a file could take, and a pipe
// without a reader fails the write.
void PrepareStandardHandles() {}

int32_t WriteHandle(Handle h, const void* data, int32_t len) {
  DWORD written = 0;
  if (!::WriteFile(AsHandle(h), data, static_cast<DWORD>(len), &written, nullptr)) return -1;
  return static_cast<int32_t>(written);
}

int32_t ReadHandle(Handle h, void* data, int32_t len) {
  DWORD got = 0;
  if (!::ReadFile(AsHandle(h), data, static_cast<DWORD>(len), &got, nullptr)) {
    // The writer of a pipe has closed its end: that is the end of input.
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return static_cast<int32_t>(got);
}

bool IsCharDevice(Handle h) { return ::GetFileType(AsHandle(h)) == FILE_TYPE_CHAR; }

// The NUL device is a character device too; only a console has modes.
bool IsTerminal(Handle h) {
  DWORD mode;
  return ::GetConsoleMode(AsHandle(h), &mode) != 0;
}

uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(uint32_t ms) { ::Sleep(ms); }

double ThreadCpuSeconds() {
  FILETIME created, ended, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &ended, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& f) { return (uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
}

namespace {

using FlushFn = VOID(WINAPI*)();
FlushFn flushWriteBuffers = nullptr;

// Wine's FlushProcessWriteBuffers has long been an empty stub; a barrier
// that does nothing would let the drawing lock's two sides miss each other.
bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

}  // namespace

bool EnableProcessBarrier() {
  if (flushWriteBuffers) return true;
  if (UnderWine()) return false;
  // Looked up, not linked, so that the programs still start on systems
  // older than Vista, without the barrier.
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (!kernel) return false;
  flushWriteBuffers = reinterpret_cast<FlushFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "FlushProcessWriteBuffers")));
  return flushWriteBuffers != nullptr;
}

void ProcessBarrier() { flushWriteBuffers(); }

void ExitProcess(uint32_t code) {
  RunProcessEndHooks();
  ::ExitProcess(code);
}

void EndThisThread() { ::ExitThread(0); }

}  // namespace sys::os
