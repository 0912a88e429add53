// A set of lattice sites over 32-bit coordinates that grows on demand:
// tiles of 64 x 64 bits, allocated when a site in them is first set, found
// through a 2D array of tile pointers that grows to cover every tile set.
// A tile never set reads from one shared empty tile, so a test costs no
// branch beyond the bounds check of the pointer array.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace dla {

class LatticePlane {
 public:
  LatticePlane() : grid_(1, Empty()) {}
  LatticePlane(const LatticePlane&) = delete;
  LatticePlane& operator=(const LatticePlane&) = delete;

  bool Test(int32_t x, int32_t y) const {
    const uint32_t tx = static_cast<uint32_t>((x >> 6) - tx0_), ty = static_cast<uint32_t>((y >> 6) - ty0_);
    if (tx >= width_ || ty >= height_) return false;
    return (grid_[static_cast<size_t>(ty) * width_ + tx][y & 63] >> (x & 63)) & 1;
  }

  void Set(int32_t x, int32_t y) {
    uint64_t*& tile = Slot(x >> 6, y >> 6);
    if (tile == Empty()) tile = NewTile();
    tile[y & 63] |= uint64_t{1} << (x & 63);
  }

  uint64_t Tiles() const { return tiles_; }
  // Bytes held: the tiles' blocks and the pointer array.
  uint64_t Bytes() const {
    return blocks_.size() * (kBlockTiles * kTileBytes + sizeof(blocks_[0])) + grid_.capacity() * sizeof(grid_[0]);
  }

  static constexpr uint64_t kTileBytes = 64 * sizeof(uint64_t);
  static constexpr uint64_t kBlockTiles = 32;

 private:
  static uint64_t* Empty() {
    // Never written: Set replaces it before writing.
    alignas(64) static uint64_t empty[64] = {};
    return empty;
  }

  uint64_t* NewTile() {
    if (tiles_ % kBlockTiles == 0) blocks_.emplace_back(new uint64_t[kBlockTiles * 64]());
    uint64_t* tile = blocks_.back().get() + (tiles_ % kBlockTiles) * 64;
    ++tiles_;
    return tile;
  }

  uint64_t*& Slot(int32_t tx, int32_t ty) {
    uint32_t ux = static_cast<uint32_t>(tx - tx0_), uy = static_cast<uint32_t>(ty - ty0_);
    if (ux >= width_ || uy >= height_) {
      Cover(tx, ty);
      ux = static_cast<uint32_t>(tx - tx0_), uy = static_cast<uint32_t>(ty - ty0_);
    }
    return grid_[static_cast<size_t>(uy) * width_ + ux];
  }

  // Grows the pointer array to take tile (tx, ty), by at least half again
  // on the side that grows, so that growth costs amortised constant time.
  void Cover(int32_t tx, int32_t ty) {
    int64_t x0 = tx0_, y0 = ty0_, x1 = tx0_ + int64_t{width_}, y1 = ty0_ + int64_t{height_};
    const int64_t gx = (x1 - x0) / 2 + 1, gy = (y1 - y0) / 2 + 1;
    if (tx < x0) x0 = tx - gx;
    if (tx >= x1) x1 = tx + 1 + gx;
    if (ty < y0) y0 = ty - gy;
    if (ty >= y1) y1 = ty + 1 + gy;
    const uint32_t w = static_cast<uint32_t>(x1 - x0), h = static_cast<uint32_t>(y1 - y0);
    std::vector<uint64_t*> grid(static_cast<size_t>(w) * h, Empty());
    for (uint32_t y = 0; y < height_; ++y)
      for (uint32_t x = 0; x < width_; ++x)
        grid[static_cast<size_t>(y + (ty0_ - y0)) * w + (x + (tx0_ - x0))] = grid_[static_cast<size_t>(y) * width_ + x];
    grid_.swap(grid);
    tx0_ = static_cast<int32_t>(x0), ty0_ = static_cast<int32_t>(y0), width_ = w, height_ = h;
  }

  int32_t tx0_ = 0, ty0_ = 0;
  uint32_t width_ = 1, height_ = 1;
  std::vector<uint64_t*> grid_;
  std::vector<std::unique_ptr<uint64_t[]>> blocks_;
  uint64_t tiles_ = 0;
};

}  // namespace dla
