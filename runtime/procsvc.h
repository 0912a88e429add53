// Process services: what the runtime needs of the operating system.  One
// implementation per platform, chosen at link time.
#pragma once

#include <cstdint>

namespace sys::os {

using Handle = intptr_t;
inline constexpr Handle InvalidHandle = -1;

enum StdHandleKind : int32_t { StdInputHandle = -10, StdOutputHandle = -11, StdErrorHandle = -12 };

Handle GetStdHandle(StdHandleKind kind);
// Bytes the system took, or -1 when the call failed.
int32_t WriteHandle(Handle h, const void* data, int32_t len);
// Bytes read, 0 at the end of input, -1 on failure.
int32_t ReadHandle(Handle h, void* data, int32_t len);
bool IsCharDevice(Handle h);
// Milliseconds from a fixed point in the past, 32 bits, wrapping.
uint32_t TickCount();
void SleepMs(uint32_t ms);
// Ends the process at once: no destructors, no atexit handlers, no flushing
// of anything the runtime did not flush itself.
[[noreturn]] void ExitProcess(uint32_t code);

}  // namespace sys::os
