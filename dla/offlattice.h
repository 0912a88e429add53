// The off-lattice walk behind MakeOffLattice, open here for its tests.
#pragma once

#include <cstdint>

#include "dla/model.h"
#include "dla/offlattice_index.h"
#include "dla/random.h"

namespace dla {

class OffLattice final : public Model {
 public:
  // How close to a disc the walk stops and sticks: a walker stuck there lies
  // at most this far from where it stopped, and its true first contact
  // lies within a few times this along the surface, except with a chance
  // of order kCapture.
  static constexpr double kCapture = 1e-3;

  OffLattice(const Params& params, uint64_t reserve);
  uint32_t Grow() override;

  const OffLatticeIndex& Index() const { return index_; }
  // Heap bytes held now by the particles and the index.
  uint64_t Bytes() const;

 private:
  uint32_t Stick(double x, double y, uint32_t parent, uint64_t moves);

  Random random_;
  double bias_;
  OffLatticeIndex index_;
};

}  // namespace dla
