// The off-lattice walk's spatial index: for any point of the plane, a lower
// bound of the distance to the nearest disc surface, exact (with the disc
// named) when the point is close to the cluster.
//
// Two tiers.  A fine grid of unit cells, kept in 16 x 16 tiles allocated
// only near particles, lists the particles whose centres lie in each cell
// and marks each cell that has a centre within two cells of it; a walker in
// a marked cell scans the 5 x 5 cells around it, which gives the exact
// nearest centre whenever that centre is within 2 of the walker.  Above it,
// coarse bit maps of cells 2, 4, 8, ... units wide mark each cell with a
// centre within two cells of it.  Being marked only grows with the level,
// so the highest unmarked level k around a walker proves that no centre
// lies within the 5 x 5 block of level-k cells around it: the walker may
// jump as far as that block's edge, less the disc's radius sum.
//
// The grid covers the square |x|, |y| < half() and doubles (and is rebuilt
// from the particles) when the cluster nears its edge; all the bounds use
// only + - * / and sqrt, so they are the same on every build.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dla/model.h"

namespace dla {

struct Clearance {
  // A lower bound of the distance from the point to the nearest disc
  // surface (centre distance - 1); exact when nearest is a particle.
  double free;
  uint32_t nearest;
};

class OffLatticeIndex {
 public:
  static constexpr uint32_t kNone = 0xffffffffu;
  static constexpr int kTileShift = 4;  // tiles of 16 x 16 unit cells
  static constexpr int kTileCells = 1 << (2 * kTileShift);

  // The index reads the particles from there; it covers |x|, |y| < 64 at
  // first.
  explicit OffLatticeIndex(const std::vector<Particle>& particles);
  // Sets aside room for this many particles' links.
  void Reserve(uint64_t particles);
  OffLatticeIndex(const OffLatticeIndex&) = delete;
  OffLatticeIndex& operator=(const OffLatticeIndex&) = delete;

  // Enters the particle just appended as particles[index]; its centre must
  // lie a tile (16) or more inside the covered square's edge, so that every
  // cell it marks has its 5 x 5 block's tiles in the grid (std::out_of_range
  // otherwise).
  void Add(uint32_t index);
  // Grows the covered square (rebuilding the index) until it holds
  // |x|, |y| < reach.  Deterministic: it depends only on reach.
  void Cover(double reach);
  double Half() const { return half_; }

  // hint: the level this search found last, kept by the caller between
  // calls; any value gives the same answer, a close one gives it sooner.
  Clearance Free(double x, double y, int& hint) const;
  Clearance Free(double x, double y) const {
    int hint = 0;
    return Free(x, y, hint);
  }

  // Heap bytes held now, and the fine tiles in use.
  uint64_t Bytes() const;
  uint64_t Tiles() const { return tileCount_ - 1; }

  // The heap bytes of an index covering |x|, |y| < half with this many
  // tiles and particles.
  static uint64_t BytesFor(double half, uint64_t tiles, uint64_t particles);

  struct Tile {
    uint32_t head[kTileCells];  // first particle + 1 in each cell, 0 for none
    uint64_t near[kTileCells / 64];
    // Which cells of 2, 4, 8 and 16 units inside the tile hold a centre:
    // 64 bits, then 16, 4 and 1.
    uint64_t occupied[2];
  };

 private:
  struct Level {
    int shift = 0;                   // cells of 2^shift units
    int sideShift = 0;               // 2^sideShift cells a side
    std::vector<uint64_t> near;      // a centre within two cells
    std::vector<uint64_t> occupied;  // a centre inside (levels above the tiles' own)
    // Each word holds a block of 8 x 8 cells, so that a walker's next
    // look is likely in the word it read last.
    uint64_t At(int32_t cx, int32_t cy) const {
      const uint64_t word = (static_cast<uint64_t>(cy >> 3) << (sideShift - 3)) | static_cast<uint64_t>(cx >> 3);
      return (word << 6) | static_cast<uint64_t>(((cy & 7) << 3) | (cx & 7));
    }
  };

  void Build();
  Tile& TileFor(int32_t tx, int32_t ty);
  const Tile& At(uint32_t tile) const { return blocks_[tile >> kBlockShift][tile & (kBlockTiles - 1)]; }
  void Enter(uint32_t index);

  static constexpr int kBlockShift = 6;
  static constexpr uint32_t kBlockTiles = 1u << kBlockShift;

  const std::vector<Particle>& particles_;
  double half_ = 64;
  int sideShift_ = 7;       // the grid is 2^sideShift_ unit cells a side
  int dirShift_ = 3;        // and 2^dirShift_ tiles a side
  // Each tile's number in the pool, 0 (a tile left empty) where none is
  // needed; the pool is kept in blocks so that it never moves or copies.
  std::vector<uint32_t> dir_;
  std::vector<std::unique_ptr<Tile[]>> blocks_;
  uint32_t tileCount_ = 1;
  std::vector<uint32_t> next_;  // next particle + 1 in the same cell
  std::vector<Level> levels_;
};

}  // namespace dla
