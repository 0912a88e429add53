// The touching map: a byte for each place of a rectangle that tells whether
// any of the place's eight neighbours holds, under each colour rule.  The
// walk's neighbour test asks only that, not which neighbour, so one load
// answers what eight probes would.
//
// The window driver keeps one for the walk in step with every write to the
// surface (pixels.cpp); the benchmark keeps one for its plain array.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace graph {

// The bits of a place's byte: a neighbour reads back as 15 (the white rule),
// a neighbour reads back above 0 (the radial and order rules).
inline constexpr uint8_t TouchWhite = 1;
inline constexpr uint8_t TouchAny = 2;

inline constexpr uint8_t HoldBits(uint16_t v) {
  return static_cast<uint8_t>((v == 15 ? TouchWhite : 0) | (v > 0 ? TouchAny : 0));
}

class TouchingMap {
 public:
  // Covers [x0, x0 + w) × [y0, y0 + h); value(x, y) is what a place reads
  // back as, asked also of the places just outside.
  template <class Value>
  void Build(int32_t x0, int32_t y0, int32_t w, int32_t h, Value value) {
    x0_ = x0, y0_ = y0, w_ = w, h_ = h;
    cells_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    Recompute(x0, y0, x0 + w - 1, y0 + h - 1, value);
  }

  // The places [ax..bx] × [ay..by] now read back otherwise: the bytes of
  // their neighbours are worked out again.
  template <class Value>
  void Changed(int32_t ax, int32_t ay, int32_t bx, int32_t by, Value value) {
    Recompute(ax - 1, ay - 1, bx + 1, by + 1, value);
  }

  void Clear() {
    std::vector<uint8_t>().swap(cells_);
    w_ = h_ = 0;
  }

  // Whether every place of [lox..hix] × [loy..hiy] has its byte.
  bool Covers(int32_t lox, int32_t loy, int32_t hix, int32_t hiy) const {
    return w_ > 0 && lox >= x0_ && loy >= y0_ && hix < x0_ + w_ && hiy < y0_ + h_;
  }
  uint8_t At(int32_t x, int32_t y) const {
    return cells_[static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x - x0_)];
  }
  const uint8_t* Cells() const { return cells_.data(); }
  int32_t X0() const { return x0_; }
  int32_t Y0() const { return y0_; }
  int32_t Width() const { return w_; }
  int32_t Height() const { return h_; }
  std::size_t Area() const { return cells_.size(); }

 private:
  // The bytes of [ax..bx] × [ay..by], clipped to the map, from the hold
  // bits of three rows at a time.
  template <class Value>
  void Recompute(int32_t ax, int32_t ay, int32_t bx, int32_t by, Value value) {
    ax = std::max(ax, x0_), ay = std::max(ay, y0_);
    bx = std::min(bx, x0_ + w_ - 1), by = std::min(by, y0_ + h_ - 1);
    if (ax > bx || ay > by) return;
    const int32_t n = bx - ax + 3;  // one more each side
    rows_.resize(3 * static_cast<std::size_t>(n));
    uint8_t* row[3] = {rows_.data(), rows_.data() + n, rows_.data() + 2 * n};
    auto fill = [&](uint8_t* r, int32_t y) {
      for (int32_t i = 0; i < n; ++i) r[i] = HoldBits(value(ax - 1 + i, y));
    };
    fill(row[0], ay - 1);
    fill(row[1], ay);
    for (int32_t y = ay; y <= by; ++y) {
      fill(row[2], y + 1);
      uint8_t* out = cells_.data() + static_cast<std::size_t>(y - y0_) * static_cast<std::size_t>(w_) +
                     static_cast<std::size_t>(ax - x0_);
      const uint8_t *up = row[0], *mid = row[1], *down = row[2];
      for (int32_t i = 1; i + 1 < n; ++i)
        out[i - 1] = static_cast<uint8_t>(up[i - 1] | up[i] | up[i + 1] | mid[i - 1] | mid[i + 1] | down[i - 1] |
                                          down[i] | down[i + 1]);
      std::rotate(row, row + 1, row + 3);
    }
  }

  std::vector<uint8_t> cells_;
  std::vector<uint8_t> rows_;
  int32_t x0_ = 0, y0_ = 0, w_ = 0, h_ = 0;
};

// Where a walk reads the map: the byte of the place (x, y), in the walk's
// coordinates, is cells[y * stride + x + offset].
struct TouchingView {
  const uint8_t* cells = nullptr;
  std::ptrdiff_t stride = 0;
  std::ptrdiff_t offset = 0;
};

// What a walk's request for the map found.
enum class Touching : uint8_t {
  Ready,    // the view answers for the whole rectangle asked; Leave follows
  Busy,     // another thread wants the surface now: a step another way, then again
  Missing,  // no map that answers: the rest of the walk another way
};

// The window driver's map, for a walk in viewport coordinates whose places
// all lie in [lox..hix] × [loy..hiy].  Ready only while the GetPixel hook is
// the driver's own and the map agrees with what it would answer; it then
// holds the drawing lock's short entry until LeaveTouching.
Touching EnterTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, TouchingView& view);
void LeaveTouching();
// Makes the map for that rectangle when it is missing or too small, once
// the walks have taken enough steps without it to pay for making it (see
// TouchingPatience); true when it is there now.
bool PrepareTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy);
// Steps a walk took without the map since it last asked.
void TouchingWaited(uint64_t steps);
// Steps without the map, for every four of its places, that the walks take
// before a lost map (a new mode, palette or viewport, a larger launch
// circle) is made again: making one costs about a step's time for every
// few places.  0 makes it at once; the first map of a window is made at
// once.
extern uint32_t TouchingPatience;

}  // namespace graph
