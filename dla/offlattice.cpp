// Placeholder until the off-lattice walk lands: refuses to run.
#include <stdexcept>

#include "dla/engines.h"

namespace dla {
std::unique_ptr<Model> MakeOffLattice(const Params&, uint64_t) { throw std::logic_error("off-lattice walk not built yet"); }
uint64_t OffLatticeBytes(uint64_t particles) { return particles * 100; }
}  // namespace dla
