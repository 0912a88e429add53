// Placeholder until the lattice walks land: refuses to run.
#include <stdexcept>

#include "dla/engines.h"

namespace dla {
std::unique_ptr<Model> MakeSquareLattice(const Params&, uint64_t) { throw std::logic_error("lattice walk not built yet"); }
uint64_t SquareLatticeBytes(Lattice, uint64_t particles) { return particles * 100; }
}  // namespace dla
