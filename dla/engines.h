// The walks behind dla/model.h, one room each; MakeModel picks among them.
#pragma once

#include <cstdint>
#include <memory>

#include "dla/model.h"

namespace dla {

std::unique_ptr<Model> MakeOffLattice(const Params& params, uint64_t reserve);
uint64_t OffLatticeBytes(uint64_t particles);

// Square4 and Square8.
std::unique_ptr<Model> MakeSquareLattice(const Params& params, uint64_t reserve);
uint64_t SquareLatticeBytes(Lattice lattice, uint64_t particles);

}  // namespace dla
