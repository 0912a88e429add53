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
