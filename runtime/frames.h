// The chain of frames that a run-time error's report walks.  A frame is
// what __builtin_frame_address(0) gives inside a routine: on x86 and arm64
// the routine's frame record, holding the caller's frame and then the
// return address into the caller; on s390x the stack pointer at the
// routine's entry, whose first word is the caller's back chain (the same
// value one frame up) and whose register save area holds the return
// register (r14) the routine saved there in its prologue.  A routine that
// calls nothing may save no return register on s390x; the routines whose
// frames are walked all call on.
#pragma once

namespace sys::frames {

inline void* Caller(void* frame) { return static_cast<void* const*>(frame)[0]; }

inline const void* ReturnAddress(void* frame) {
#if defined(__s390x__)
  return static_cast<void* const*>(frame)[14];
#else
  return static_cast<void* const*>(frame)[1];
#endif
}

}  // namespace sys::frames
