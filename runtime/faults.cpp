#include "runtime/faults.h"

#include <atomic>
#include <cstddef>

#include "runtime/system.h"

namespace sys {

uint8_t Except_Level = 0;
const void* Except_Eip[kMaxPendingFaults];
uint8_t Except_Error[kMaxPendingFaults];
bool Reset_FPU[kMaxPendingFaults];
void* Except_Frame[kMaxPendingFaults];

bool SysHandleErrorFrame(uint8_t error, const void* eip, void* frame, bool resetFpu) {
  if (frame == nullptr || Except_Level >= kMaxPendingFaults) return false;
  Except_Eip[Except_Level] = eip;
  Except_Error[Except_Level] = error;
  Reset_FPU[Except_Level] = resetFpu;
  Except_Frame[Except_Level] = frame;
  ++Except_Level;
  return true;
}

namespace {

constexpr int kEmergencyStacks = 4;
constexpr std::size_t kEmergencyStackSize = 256 * 1024;
alignas(16) char emergencyStacks[kEmergencyStacks][kEmergencyStackSize];
std::atomic<bool> emergencyTaken[kEmergencyStacks];
static_assert(std::atomic<bool>::is_always_lock_free);

}  // namespace

void* TakeEmergencyStack() {
  for (int i = 0; i < kEmergencyStacks; ++i)
    if (!emergencyTaken[i].exchange(true)) return emergencyStacks[i] + kEmergencyStackSize;
  return nullptr;
}

void JumpToHandleErrorFrame() {
  --Except_Level;
  const uint8_t i = Except_Level;
  // A floating-point fault leaves the unit in an unknown state: start the
  // exit path from the programs' own control word.
  if (Reset_FPU[i]) {
    ResetFloatingUnit();
    SetFPUControlWord(FPUCW);
  }
  HandleErrorAddrFrame(Except_Error[i], Except_Eip[i], Except_Frame[i]);
}

}  // namespace sys
