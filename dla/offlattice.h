// The off-lattice walk behind MakeOffLattice, open here for its tests.
#pragma once

#include <cstdint>

#include "dla/model.h"
#include "dla/offlattice_index.h"
#include "dla/random.h"

namespace dla {

class OffLattice final : public Model {
 public:
  // How close to a disc the walk stops and sticks.  The stuck centre lies
  // at most this far from where the walk stopped; from there Brownian motion
  // would first touch the disc within t * kCapture of that point but for a
  // chance of about 2 / (pi t), and would get away to another disc only with
  // a chance of order kCapture.  Each factor 10 smaller costs about 5 more
  // jumps a particle.
  static constexpr double kCapture = 1e-4;

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
