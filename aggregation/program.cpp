#include "aggregation/program.h"

namespace agg {

int16_t SZOG = 0;
int16_t X = 0;
int16_t Y = 0;
Extended R = 0.0L;
int32_t SZIN = 0;
uint64_t Steps = 0;
uint64_t Launched = 0;
void (*OnStuck)(int16_t, int16_t, uint16_t) = nullptr;

uint32_t EscapeLeast(Extended r) {
  constexpr uint32_t kNone = uint32_t{1} << 31;
  const Extended escape = EscapeFactor * r;
  auto reaches = [&](uint32_t s) { return Sqrt(static_cast<Extended>(s)) >= escape; };
  // A first guess from the square, then the test itself decides: the least
  // s that reaches, its predecessor the last that does not.
  const Extended square = escape * escape;
  uint32_t s = !(square > 0.0L) ? 0u : square >= static_cast<Extended>(kNone) ? kNone : static_cast<uint32_t>(square);
  while (s > 0 && reaches(s - 1)) --s;
  while (s < kNone && !reaches(s)) ++s;
  return s;
}

namespace lanes {

sys::ThirdsBlock Block{};
int32_t Next = -1;

Box BoxOf(uint32_t escape) {
  // The least whole r with r * r >= escape bounds every place inside.
  uint32_t r = static_cast<uint32_t>(Sqrt(static_cast<Extended>(escape)));
  while (r > 0 && (r - 1) * (r - 1) >= escape) --r;
  while (r * r < escape) ++r;
  return {CentreX - static_cast<int32_t>(r) - 2, CentreY - static_cast<int32_t>(r) - 2,
          CentreX + static_cast<int32_t>(r) + 2, CentreY + static_cast<int32_t>(r) + 2};
}

int32_t ExactStep(int32_t i) { return sys::RandomThirdAt(Block.a[i], Block.b[i], Block.c[i]) - 1; }

}  // namespace lanes

namespace {
Extended escapeRadius = 0.0L;
uint16_t escapeControl = 0;
uint32_t escapeLeast = 0;
bool escapeKnown = false;
}  // namespace

uint32_t EscapeLeastOfR() {
  const uint16_t control = sys::GetFPUControlWord();
  if (!escapeKnown || R != escapeRadius || control != escapeControl) [[unlikely]] {
    escapeLeast = EscapeLeast(R);
    escapeRadius = R;
    escapeControl = control;
    escapeKnown = true;
  }
  return escapeLeast;
}

void GRAFIKA() {
  int16_t GD = 0;
  int16_t GM = 0;
  graph::DetectGraph(GD, GM);
  graph::InitGraph(GD, GM, "");
}

namespace {

// Two modules whose set-up and clean-up nothing in the programs observes:
// resource-string tables (none) and operating-system services never called.
void NoEffect() {}

constexpr sys::UnitEntry kUnits[] = {
    {sys::InitSystemUnit, nullptr},
    {nullptr, NoEffect},
    {nullptr, NoEffect},
    {crt::InitCrt, nullptr},
    {graph::InitializeGraph, nullptr},
};

}  // namespace

void InstallUnitTable() {
  sys::InitFinal = {static_cast<int32_t>(std::size(kUnits)), 0, kUnits};
}

}  // namespace agg
