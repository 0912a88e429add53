#include "dla/offlattice_index.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>

namespace dla {

namespace {

// The grid's cells are found from x + half, which rounds; the bounds taken
// from cell edges give up this much so that they stay below the truth.
constexpr double kSlack = 1e-9;
// The tiles keep their own coarse occupancy for cells up to their size.
constexpr int kTileLevels = 4;

inline bool Bit(const std::vector<uint64_t>& bits, uint64_t at) {
  return (bits[static_cast<size_t>(at >> 6)] >> (at & 63)) & 1;
}
inline void SetBit(std::vector<uint64_t>& bits, uint64_t at) {
  bits[static_cast<size_t>(at >> 6)] |= uint64_t{1} << (at & 63);
}

inline double Min4(double a, double b, double c, double d) { return std::min(std::min(a, b), std::min(c, d)); }

// Elements of 2^shift, refused (rather than wrapped) where size_t is too
// narrow to count them.
size_t Count(int shift) {
  if (shift >= std::numeric_limits<size_t>::digits) throw std::bad_alloc();
  return size_t{1} << shift;
}

// The grid's side, 2^side unit cells, for a half-width.
int SideShift(double half) {
  int side = 0;
  while (static_cast<double>(uint64_t{1} << side) < 2 * half) ++side;
  return side;
}

// Sets the occupancy bit of a tile's cell of 2^shift units (shift 1 to 4)
// holding local cell (lx, ly); says whether it was set already.
bool TakeTileCell(OffLatticeIndex::Tile& tile, int lx, int ly, int shift) {
  int word = 1, bit;
  switch (shift) {
    case 1: word = 0, bit = ((ly >> 1) << 3) | (lx >> 1); break;
    case 2: bit = ((ly >> 2) << 2) | (lx >> 2); break;
    case 3: bit = 16 + (((ly >> 3) << 1) | (lx >> 3)); break;
    default: bit = 20; break;
  }
  const uint64_t mask = uint64_t{1} << bit;
  const bool was = (tile.occupied[word] & mask) != 0;
  tile.occupied[word] |= mask;
  return was;
}

}  // namespace

OffLatticeIndex::OffLatticeIndex(const std::vector<Particle>& particles) : particles_(particles) { Build(); }

void OffLatticeIndex::Reserve(uint64_t particles) { next_.reserve(static_cast<size_t>(particles)); }

void OffLatticeIndex::Cover(double reach) {
  if (reach < half_) return;
  while (reach >= half_) half_ *= 2;
  Build();
}

void OffLatticeIndex::Build() {
  // Let go of the old maps before the new ones are made, so that a rebuild
  // never holds both.
  std::vector<uint32_t>().swap(dir_);
  std::vector<std::unique_ptr<Tile[]>>().swap(blocks_);
  std::vector<Level>().swap(levels_);
  sideShift_ = SideShift(half_);
  dirShift_ = sideShift_ - kTileShift;
  dir_.assign(Count(2 * dirShift_), 0);
  blocks_.push_back(std::make_unique<Tile[]>(kBlockTiles));  // tile 0 stays empty
  tileCount_ = 1;
  // Coarse levels up to 8 x 8 cells a side; above that a block of 5 x 5
  // would span the whole grid.
  for (int shift = 1; sideShift_ - shift >= 3; ++shift) {
    Level level;
    level.shift = shift;
    level.sideShift = sideShift_ - shift;
    const size_t words = Count(2 * level.sideShift) / 64;
    level.near.assign(words, 0);
    if (shift > kTileLevels) level.occupied.assign(words, 0);
    levels_.push_back(std::move(level));
  }
  next_.assign(particles_.size(), 0);
  for (size_t i = 0; i < particles_.size(); ++i) Enter(static_cast<uint32_t>(i));
}

OffLatticeIndex::Tile& OffLatticeIndex::TileFor(int32_t tx, int32_t ty) {
  uint32_t& slot = dir_[(static_cast<size_t>(ty) << dirShift_) + static_cast<size_t>(tx)];
  if (slot == 0) {
    if (tileCount_ == std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
    if ((tileCount_ & (kBlockTiles - 1)) == 0) blocks_.push_back(std::make_unique<Tile[]>(kBlockTiles));
    slot = tileCount_++;
  }
  return blocks_[slot >> kBlockShift][slot & (kBlockTiles - 1)];
}

void OffLatticeIndex::Add(uint32_t index) {
  const Particle& p = particles_[index];
  const double inside = half_ - (1 << kTileShift);
  if (!(std::abs(p.x) < inside && std::abs(p.y) < inside))
    throw std::out_of_range("off-lattice index: particle too near the grid's edge");
  if (next_.size() <= index) next_.resize(static_cast<size_t>(index) + 1, 0);
  Enter(index);
}

void OffLatticeIndex::Enter(uint32_t index) {
  const Particle& p = particles_[index];
  const double gx = p.x + half_, gy = p.y + half_;
  const int32_t ix = static_cast<int32_t>(gx), iy = static_cast<int32_t>(gy);
  for (int32_t cy = iy - 2; cy <= iy + 2; ++cy)
    for (int32_t cx = ix - 2; cx <= ix + 2; ++cx) {
      Tile& t = TileFor(cx >> kTileShift, cy >> kTileShift);
      const int cell = ((cy & 15) << kTileShift) | (cx & 15);
      t.near[cell >> 6] |= uint64_t{1} << (cell & 63);
    }
  Tile& t = TileFor(ix >> kTileShift, iy >> kTileShift);
  const int lx = ix & 15, ly = iy & 15, cell = (ly << kTileShift) | lx;
  next_[index] = t.head[cell];
  t.head[cell] = index + 1;
  // A coarse cell already occupied has marked its block, and so has every
  // cell above it.
  for (Level& level : levels_) {
    const int32_t cx = ix >> level.shift, cy = iy >> level.shift;
    const uint64_t at = level.At(cx, cy);
    if (level.shift <= kTileLevels) {
      if (TakeTileCell(t, lx, ly, level.shift)) break;
    } else {
      if (Bit(level.occupied, at)) break;
      SetBit(level.occupied, at);
    }
    const int32_t last = (int32_t{1} << level.sideShift) - 1;
    for (int32_t y = std::max(cy - 2, 0); y <= std::min(cy + 2, last); ++y)
      for (int32_t x = std::max(cx - 2, 0); x <= std::min(cx + 2, last); ++x)
        SetBit(level.near, level.At(x, y));
  }
}

Clearance OffLatticeIndex::Free(double x, double y, int& hint) const {
  const double side = 2 * half_;
  const double gx = x + half_, gy = y + half_;
  if (!(gx >= 0 && gx < side && gy >= 0 && gy < side)) {
    // Every centre lies inside the grid's square.
    const double dx = gx < 0 ? -gx : (gx >= side ? gx - side : 0);
    const double dy = gy < 0 ? -gy : (gy >= side ? gy - side : 0);
    return {std::max(dx, dy) - 1 - kSlack, kNone};
  }
  const int32_t ix = static_cast<int32_t>(gx), iy = static_cast<int32_t>(gy);
  const double fx = gx - ix, fy = gy - iy;
  const int cell = ((iy & 15) << kTileShift) | (ix & 15);
  const Tile& tile = At(dir_[(static_cast<size_t>(iy >> kTileShift) << dirShift_) + static_cast<size_t>(ix >> kTileShift)]);
  if ((tile.near[cell >> 6] >> (cell & 63)) & 1) {
    // The 5 x 5 cells around lie in at most 2 x 2 tiles.  (A marked cell
    // is at least 2 cells inside the grid.)
    const int32_t tx0 = (ix - 2) >> kTileShift, ty0 = (iy - 2) >> kTileShift;
    const size_t row0 = static_cast<size_t>(ty0) << dirShift_, row1 = row0 + (size_t{1} << dirShift_);
    const Tile* tiles[2][2] = {{&At(dir_[row0 + tx0]), &At(dir_[row0 + tx0 + 1])},
                               {&At(dir_[row1 + tx0]), &At(dir_[row1 + tx0 + 1])}};
    double best = std::numeric_limits<double>::infinity();
    uint32_t nearest = kNone;
    for (int32_t cy = iy - 2; cy <= iy + 2; ++cy) {
      const Tile* const* row = tiles[(cy >> kTileShift) - ty0];
      const int rowCell = (cy & 15) << kTileShift;
      for (int32_t cx = ix - 2; cx <= ix + 2; ++cx) {
        for (uint32_t h = row[(cx >> kTileShift) - tx0]->head[rowCell | (cx & 15)]; h != 0; h = next_[h - 1]) {
          const Particle& q = particles_[h - 1];
          const double dx = x - q.x, dy = y - q.y;
          const double d2 = dx * dx + dy * dy;
          if (d2 < best) best = d2, nearest = h - 1;
        }
      }
    }
    // No centre outside the 5 x 5 block is nearer than its edge.
    const double edge = 2 + Min4(fx, 1 - fx, fy, 1 - fy) - kSlack;
    if (best <= edge * edge) return {std::sqrt(best) - 1, nearest};
    return {edge - 1, kNone};
  }
  // The highest level whose 5 x 5 block around the point is empty.  Being
  // marked only grows with the level, so the search may start anywhere:
  // from the level found last time, which a walker seldom leaves by more
  // than one.
  const int top = static_cast<int>(levels_.size());
  auto marked = [&](int k) {
    const Level& level = levels_[static_cast<size_t>(k)];
    return Bit(level.near, level.At(ix >> level.shift, iy >> level.shift));
  };
  int k = std::min(std::max(hint, 0), top);
  if (k > 0 && marked(k - 1)) {
    do --k;
    while (k > 0 && marked(k - 1));
  } else {
    while (k < top && !marked(k)) ++k;
  }
  hint = k;
  const double size = static_cast<double>(int32_t{1} << k);
  const double ux = gx - static_cast<double>((ix >> k) << k), uy = gy - static_cast<double>((iy >> k) << k);
  return {2 * size + Min4(ux, size - ux, uy, size - uy) - 1 - kSlack, kNone};
}

uint64_t OffLatticeIndex::BytesFor(double half, uint64_t tiles, uint64_t particles) {
  const int side = SideShift(half);
  const uint64_t blocks = (tiles + 1 + kBlockTiles - 1) / kBlockTiles;
  // The block list grows by doubling; count its largest capacity.
  uint64_t blockList = 1;
  while (blockList < blocks) blockList *= 2;
  uint64_t bytes = (uint64_t{1} << 2 * (side - kTileShift)) * sizeof(uint32_t) + blocks * kBlockTiles * sizeof(Tile) +
                   blockList * sizeof(std::unique_ptr<Tile[]>) + particles * sizeof(uint32_t);
  for (int shift = 1; side - shift >= 3; ++shift) {
    const uint64_t words = (uint64_t{1} << 2 * (side - shift)) / 64;
    bytes += (shift > kTileLevels ? 2 : 1) * words * sizeof(uint64_t) + sizeof(Level);
  }
  return bytes;
}

uint64_t OffLatticeIndex::Bytes() const {
  uint64_t bytes = dir_.capacity() * sizeof(uint32_t) + blocks_.capacity() * sizeof(blocks_[0]) +
                   static_cast<uint64_t>(blocks_.size()) * kBlockTiles * sizeof(Tile) +
                   next_.capacity() * sizeof(uint32_t) + levels_.capacity() * sizeof(Level);
  for (const Level& level : levels_) bytes += (level.near.capacity() + level.occupied.capacity()) * sizeof(uint64_t);
  return bytes;
}

}  // namespace dla
