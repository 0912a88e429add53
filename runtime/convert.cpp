// Conversions of extended floats to integers on the x87 unit.  Each one
// changes the control word only for its own length and restores the
// caller's.  An invalid conversion (out of range, NaN) is detected from the
// status word with the fault masked and raised as run-time error 207 at the
// caller, which is where an unmasked fault would have been reported too.
#include "runtime/faults.h"
#include "runtime/frames.h"
#include "runtime/system.h"

#if !AGG_SOFT_EXTENDED

namespace sys {

namespace {

constexpr uint16_t kMaskAll = 0x003F;
constexpr uint16_t kRoundingMask = 0x0C00;
constexpr uint16_t kRoundTowardZero = 0x0C00;
constexpr uint16_t kStatusInvalid = 0x0001;

inline void ClearExceptions() { asm volatile("fnclex"); }

inline uint16_t StatusWord() {
  uint16_t sw;
  asm volatile("fnstsw %0" : "=m"(sw));
  return sw;
}

[[noreturn, gnu::noinline, gnu::cold]] void RaiseAt(int32_t n, const void* addr, void* frame) {
  HandleErrorAddrFrame(n, addr, frame);
}

}  // namespace

uint16_t GetFPUControlWord() {
  uint16_t cw;
  asm volatile("fnstcw %0" : "=m"(cw));
  return cw;
}

void SetFPUControlWord(uint16_t cw) { asm volatile("fldcw %0" : : "m"(cw)); }

void ResetFloatingUnit() { asm volatile("fninit"); }

[[gnu::noinline]] int32_t Round(Extended x) {
  const uint16_t saved = GetFPUControlWord();
  ClearExceptions();
  // The fixed setting (nearest-even, 64-bit significand), with the invalid
  // fault masked so that it shows in the status word instead of trapping.
  SetFPUControlWord(FPUCW | 0x0001);
  int32_t r;
  asm volatile("fistpl %0" : "=m"(r) : "t"(x) : "st");
  const bool invalid = StatusWord() & kStatusInvalid;
  ClearExceptions();
  SetFPUControlWord(saved);
  if (invalid) [[unlikely]]
    RaiseAt(207, __builtin_return_address(0), frames::Caller(__builtin_frame_address(0)));
  return r;
}

[[gnu::noinline]] int64_t Trunc(Extended x) {
  const uint16_t saved = GetFPUControlWord();
  ClearExceptions();
  SetFPUControlWord(static_cast<uint16_t>((saved & ~kRoundingMask) | kRoundTowardZero | kMaskAll));
  int64_t r;
  asm volatile("fistpll %0" : "=m"(r) : "t"(x) : "st");
  const bool invalid = StatusWord() & kStatusInvalid;
  ClearExceptions();
  SetFPUControlWord(saved);
  if (invalid) [[unlikely]]
    RaiseAt(207, __builtin_return_address(0), frames::Caller(__builtin_frame_address(0)));
  return r;
}

Extended Frac(Extended x) {
  const uint16_t saved = GetFPUControlWord();
  SetFPUControlWord(static_cast<uint16_t>((saved & ~kRoundingMask) | kRoundTowardZero | kMaskAll));
  Extended whole;
  asm volatile("frndint" : "=t"(whole) : "0"(x));
  Extended r = x - whole;
  // Keep the subtraction inside the masked setting.
  asm volatile("" : "+t"(r));
  ClearExceptions();
  SetFPUControlWord(saved);
  return r;
}

}  // namespace sys

#endif
