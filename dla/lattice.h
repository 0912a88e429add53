// The standard model's walks on the square lattices, accelerated.
//
// Storage: the occupied sites and the sites a walker sticks at (occupied or
// beside an occupied site in the lattice's neighbourhood) are bit planes
// that grow on demand; a hierarchy of coarse planes marks, at level k, each
// block of 2^k x 2^k sites that has an occupied site in it or in one of its
// 8 neighbouring blocks.  A walker in an unmarked level-k block therefore
// has nothing within Chebyshev distance 2^k plus its offset from the
// block's nearer edge, and jumps to the boundary of a square that large
// with the lattice walk's own first-exit distribution (dla/exit_table.h).
// Near the cluster it makes the model's unit moves.  The particle index of
// each occupied site, wanted only for parents, is an open-addressing table
// of indices keyed through the particles' own coordinates.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "dla/exit_table.h"
#include "dla/lattice_plane.h"
#include "dla/launch.h"
#include "dla/model.h"
#include "dla/random.h"

namespace dla {

// Site -> particle index for occupied sites, 4 bytes a slot at a load of at
// most 4/5; the key is read back from the particle itself.
class LatticeIndex {
 public:
  static constexpr uint32_t kNone = 0xffffffffu;
  explicit LatticeIndex(uint64_t reserve);
  void Insert(int32_t x, int32_t y, uint32_t index, const std::vector<Particle>& particles);
  uint32_t Find(int32_t x, int32_t y, const std::vector<Particle>& particles) const;
  uint64_t Bytes() const { return slots_.capacity() * sizeof(uint32_t); }
  static uint64_t BytesFor(uint64_t particles);

 private:
  static uint64_t SlotsFor(uint64_t particles);
  uint64_t Home(int32_t x, int32_t y) const {
    const uint64_t key = (uint64_t{static_cast<uint32_t>(x)} << 32) | static_cast<uint32_t>(y);
    return (key * 0x9e3779b97f4a7c15u) >> shift_;
  }
  std::vector<uint32_t> slots_;
  uint64_t count_ = 0;
  int shift_ = 0;
};

class LatticeModel final : public Model {
 public:
  static constexpr int kLevels = 14;  // blocks up to 2^14: beyond the largest table

  LatticeModel(const Params& params, uint64_t reserve);
  uint32_t Grow() override;

  // For tests: what the walk sees of the cluster.
  bool Occupied(int32_t x, int32_t y) const { return occupied_.Test(x, y); }
  bool Sticky(int32_t x, int32_t y) const { return sticky_.Test(x, y); }
  // A lower bound on the free distance at (x, y): nothing occupied within
  // Chebyshev distance of it; 0 when level 1 is marked.
  int32_t FreeSize(int32_t x, int32_t y);
  uint32_t IndexOf(int32_t x, int32_t y) const { return index_.Find(x, y, particles_); }
  // Walks a walker launched on the circle of radius rl and returned to it
  // from beyond rout until it sticks, and gives the site, adding nothing:
  // the launch rule's own measurement uses it with circles of its choice.
  struct Site {
    int32_t x, y;
  };
  Site Contact(double rl, double rout) {
    Walk(rl, rout);
    return {x_, y_};
  }
  // Adds a particle at a site beside the cluster, for tests and targets.
  uint32_t AddSite(int32_t x, int32_t y);
  // Bytes held now, counted from the structures themselves.
  uint64_t Bytes() const;

 private:
  void Walk(double rl, double rout);
  int32_t FreeAt(int32_t x, int32_t y);
  void Attach(int32_t x, int32_t y);
  void Mark(int32_t x, int32_t y);
  int32_t DiscLimit(int32_t x, int32_t y, int32_t free, double rout2) const;
  void Place(Vec v) {
    x_ = static_cast<int32_t>(std::floor(v.x + 0.5));
    y_ = static_cast<int32_t>(std::floor(v.y + 0.5));
  }

  const bool eight_;
  const double stick_;
  const int32_t bias_;
  const ExitTables& tables_;
  Random random_;
  LatticePlane occupied_, sticky_;
  LatticePlane levels_[kLevels + 1];  // levels_[k] for k = 1 .. kLevels
  LatticeIndex index_;
  int32_t x_ = 0, y_ = 0;
  int level_ = 1;
  uint64_t bits_ = 0;
  int bitsLeft_ = 0;
};

}  // namespace dla
