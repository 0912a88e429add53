// Standard diffusion-limited aggregation: a second model beside the
// programs' own, with no screen, no fixed seed place and no kill circle.
// Walkers start far away, uniformly on a circle around the cluster, walk
// without bias and are never dropped: one that wanders outside the launch
// circle comes back to it at a point drawn from the exact return
// distribution.  The runner sees only this seam: grow one particle at a
// time, read the particles back (place, order, the particle touched), and
// the memory a run will take.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace dla {

enum class Lattice : uint8_t {
  Off,      // discs of diameter 1 whose centres walk in the plane; stick on contact
  Square4,  // square lattice, 4-way unit steps, stick beside any of 4 neighbours
  Square8,  // the programs' lattice: each coordinate steps -1, 0 or +1, stick beside any of 8
};

std::string_view LatticeName(Lattice lattice);  // "off", "square4", "square8"
std::optional<Lattice> ParseLattice(std::string_view name);

struct Params {
  Lattice lattice = Lattice::Off;
  uint64_t seed = 1;
  // The chance that a walker sticks at a contact; otherwise it walks on
  // from there.  1 takes no draw.
  double stick = 1.0;
  // For tests only: every shortcut's jump is made this many units longer
  // than the free distance allows, a deliberate bias the statistical tests
  // must catch.  0 in every real run.
  double testBias = 0;
};

// A stuck particle: the seed is particle 0 at the origin, its own parent.
// On the lattices x and y are whole numbers.
struct Particle {
  double x = 0, y = 0;
  uint32_t parent = 0;  // the particle it touched when it stuck
};

class Model {
 public:
  virtual ~Model() = default;
  // Walks one new particle until it sticks, and returns its index.
  virtual uint32_t Grow() = 0;
  const std::vector<Particle>& Particles() const { return particles_; }
  // The farthest particle centre from the origin.
  double MaxRadius() const { return maxRadius_; }
  // Walker moves (jumps or unit steps) so far, for the benchmark.
  uint64_t Moves() const { return moves_; }

 protected:
  std::vector<Particle> particles_;
  double maxRadius_ = 0;
  uint64_t moves_ = 0;
};

// The accelerated walk of each geometry; reserve is the number of particles
// the run will grow (memory is set aside for them).
std::unique_ptr<Model> MakeModel(const Params& params, uint64_t reserve);

// The most particles a run may grow, and the bytes a run of n particles
// will take, so that a run too large for memory is refused before it starts.
inline constexpr uint64_t kMaxParticles = 2000000000;
uint64_t EstimateBytes(Lattice lattice, uint64_t particles);

}  // namespace dla
