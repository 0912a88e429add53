// The free store of the programs: allocation failure on the thread that
// runs the main program is run-time error 203 (heap overflow), reported at
// the instruction after the call that asked for the memory and taking the
// orderly exit (exit procedures, report), as any other run-time error.
// Other threads, and the nothrow forms, get the standard answer (an
// exception, a null pointer), which their code handles.  Over-aligned
// requests keep the library's own allocator.
#include <cstdlib>
#include <new>

#include "runtime/system.h"

namespace sys {

namespace {

thread_local bool heapErrors = false;

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

void RaiseHeapErrorsOnThisThread() { heapErrors = true; }

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
