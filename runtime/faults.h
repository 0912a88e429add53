// Processor faults as run-time errors.  The platform's fault hook decides
// the error number and hands the fault here; the faulting thread then
// resumes in JumpToHandleErrorFrame, which enters the ordinary error path
// with the faulting instruction as the error address.
#pragma once

#include <cstdint>

namespace sys {

inline constexpr int kMaxPendingFaults = 16;
extern uint8_t Except_Level;
extern const void* Except_Eip[kMaxPendingFaults];
extern uint8_t Except_Error[kMaxPendingFaults];
extern bool Reset_FPU[kMaxPendingFaults];
extern void* Except_Frame[kMaxPendingFaults];

// Records a fault; false when it must be left to the system (no frame, or
// too many faults pending).
bool SysHandleErrorFrame(uint8_t error, const void* eip, void* frame, bool resetFpu);
// The floating-point unit put back to its start state, as after a fault
// that left it in an unknown one.
void ResetFloatingUnit();
// Where the faulting thread resumes: takes the newest entry and raises it.
[[noreturn]] void JumpToHandleErrorFrame();
// After a stack overflow the exit sequence needs a stack of its own, one
// for each thread whose stack ran out (the exit runs on one of them; the
// others only end themselves there).  The top of a stack that no thread
// has taken yet, or null when all are taken.  Safe in a fault hook.
void* TakeEmergencyStack();

namespace os {
// Installs and removes the process-wide fault hook.  Installing also makes
// the calling thread ready for faults (PrepareThreadForFaults).
void InstallFaultHandlers();
void RemoveFaultHandlers();
}  // namespace os

}  // namespace sys
