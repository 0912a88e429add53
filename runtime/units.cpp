// The module table: initialisation in order at start, finalisation in
// reverse at exit, of exactly those modules whose initialisation returned.
#include "runtime/system.h"

namespace sys {

UnitTable InitFinal{0, 0, nullptr};

void InitializeUnits() {
  for (int32_t i = 1; i <= InitFinal.Count; ++i) {
    if (auto init = InitFinal.Entries[i - 1].Init) init();
    InitFinal.Initialised = i;
  }
}

void FinalizeUnits() {
  // Counted off before the call, so a finalisation that ends the program
  // anew is not run a second time.
  while (InitFinal.Initialised > 0) {
    --InitFinal.Initialised;
    if (auto fin = InitFinal.Entries[InitFinal.Initialised].Final) fin();
  }
}

}  // namespace sys
