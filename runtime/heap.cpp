// The free store of the programs: once a program has started, a failed
// allocation is run-time error 203 (heap overflow), reported at the
// instruction after the call that asked for the memory and taking the
// orderly exit (exit procedures, report) on the thread that asked, as any
// other run-time error.  The nothrow forms still answer with a null pointer,
// for code that has a way on without the memory.  Over-aligned requests
// keep the library's own allocator.
#include <atomic>
#include <cstdlib>
#include <new>

#include "runtime/system.h"

namespace sys {

namespace {

std::atomic<bool> heapErrors{false};

// frame: the replaced operator's own, whose return address is the caller's.
[[gnu::noinline]] void* Allocate(std::size_t size, void* frame) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = std::malloc(size)) return p;
    if (std::new_handler handler = std::get_new_handler()) {
      handler();
      continue;
    }
    if (heapErrors) HandleErrorFrame(203, frame);
    throw std::bad_alloc();
  }
}

}  // namespace

void RaiseHeapErrors() { heapErrors = true; }

}  // namespace sys

void* operator new(std::size_t size) { return sys::Allocate(size, __builtin_frame_address(0)); }
void* operator new[](std::size_t size) { return sys::Allocate(size, __builtin_frame_address(0)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
