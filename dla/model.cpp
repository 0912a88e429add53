#include "dla/model.h"

#include "dla/engines.h"

namespace dla {

std::string_view LatticeName(Lattice lattice) {
  switch (lattice) {
    case Lattice::Off: return "off";
    case Lattice::Square4: return "square4";
    case Lattice::Square8: return "square8";
  }
  return "?";
}

std::optional<Lattice> ParseLattice(std::string_view name) {
  for (Lattice l : {Lattice::Off, Lattice::Square4, Lattice::Square8})
    if (name == LatticeName(l)) return l;
  return std::nullopt;
}

std::unique_ptr<Model> MakeModel(const Params& params, uint64_t reserve) {
  if (params.lattice == Lattice::Off) return MakeOffLattice(params, reserve);
  return MakeSquareLattice(params, reserve);
}

uint64_t EstimateBytes(Lattice lattice, uint64_t particles) {
  return lattice == Lattice::Off ? OffLatticeBytes(particles) : SquareLatticeBytes(lattice, particles);
}

}  // namespace dla
