// Where a lattice walk started at the centre of a square first reaches the
// square's boundary, for the jumps of the lattice walks.  A walker whose
// surroundings out to Chebyshev distance L hold nothing it could stick to
// walks exactly as a free walk until it first stands at distance L; the
// jump puts it there at once, at a boundary site drawn from that first-exit
// distribution.
//
// The distribution comes from separation of variables.  On the square of
// half-size L (M = 2L sites a side, boundary at index 0 and M) the walk's
// harmonic function with value 1 at side site (M, j) is a sum of sine modes
// sin(pi k j / M) whose profile across the square is a Chebyshev polynomial
// of the mode's growth factor w_k; at the centre only odd modes survive and
//   P(j) = (1/M) sum_{k odd} (-1)^((k-1)/2) sin(pi k j / M) / T_L(w_k),
// with w_k = 2 - cos(pi k / M) for the 4-way walk and
// w_k = (4 - cos(pi k / M)) / (1 + 2 cos(pi k / M)) for the 9-place walk (the
// product of two independent lazy walks, whose corners are reachable and
// take what the sides leave).  The sines are a Taylor series after exact
// integer range reduction and T_L comes from z^L by squaring, so the tables
// are made with + - * / and sqrt alone, in a fixed order, and are the same
// bits on every platform.  Each term's error is a few units in the last
// place; the sum's absolute error per site is below 1e-15, and the tables
// are quantised to 2^-61.
#pragma once

#include <cstdint>
#include <vector>

#include "dla/model.h"

namespace dla {

// sin(pi m / n) for n > 0, from an integer angle so that the range
// reduction is exact.
double SinPi(int64_t m, int64_t n);

// The first-exit distribution of one side, folded by the square's
// symmetry: entry t (0 <= t <= L) is the chance that the walk leaves through
// one of the sites (L, +-t) of the side x = L, divided by the side's share
// (so the entries sum to 1).  Entry L is the corner (L, L), counted once per
// side; the 4-way walk never reaches it.
std::vector<double> SideExitShares(Lattice lattice, uint32_t half);

// The sizes for which tables are kept: 1 .. 15, then m 2^e for m = 8 .. 15
// and e = 1 .. 10, up to 15360.
class ExitTables {
 public:
  static constexpr uint32_t kLargest = 15 << 10;
  static constexpr int kCount = 15 + 8 * 10;

  // Built once per lattice and shared; thread-safe.
  static const ExitTables& For(Lattice lattice);
  explicit ExitTables(Lattice lattice);

  // The largest tabled size not above free (free >= 1).
  static int IndexAtMost(uint32_t free) {
    if (free < 16) return static_cast<int>(free) - 1;
    int e = 0;
    for (uint32_t f = free; f >= 16; f >>= 1) ++e;
    if (e > 10) return kCount - 1;
    return 15 + (e - 1) * 8 + static_cast<int>((free >> e) - 8);
  }
  static uint32_t SizeOf(int index) {
    if (index < 15) return static_cast<uint32_t>(index) + 1;
    const int e = (index - 15) / 8 + 1, m = (index - 15) % 8 + 8;
    return static_cast<uint32_t>(m) << e;
  }

  // The offset of an exit site of table index from the square's centre,
  // drawn from one 64-bit random word; the walker lands (half + extra) from
  // the centre (extra is the tests' bias, 0 in real runs).
  struct Offset {
    int32_t dx, dy;
  };
  Offset Draw(int index, uint64_t word, int32_t extra) const {
    // Walker's alias method over the table padded to 2^bits entries: the
    // top bits pick an entry, the next ones decide between it and its alias,
    // the low three pick the side and the sign.  Exact in integers.
    const Table& t = tables_[index];
    const uint64_t e = alias_[t.aliasFirst + (word >> (64 - t.bits))];
    const uint64_t r = (word >> 3) & ((uint64_t{1} << (61 - t.bits)) - 1);
    const uint64_t mask = (uint64_t{1} << t.bits) - 1;
    const uint64_t at = r < (e >> t.bits) ? (word >> (64 - t.bits)) : (e & mask);
    const int32_t along = (word & 4) ? -static_cast<int32_t>(at) : static_cast<int32_t>(at);
    const int32_t across = static_cast<int32_t>(t.half) + extra;
    switch (word & 3) {
      case 0: return {across, along};
      case 1: return {-across, along};
      case 2: return {along, across};
      default: return {along, -across};
    }
  }

  // The fixed-point cumulative counts of one size (total 2^61), for tests.
  std::vector<uint64_t> Cumulative(int index) const {
    const Table& t = tables_[index];
    return {cum_.begin() + t.first, cum_.begin() + t.first + t.count};
  }
  // The mass (out of 2^61) that the alias table gives each entry, for tests.
  std::vector<uint64_t> AliasMass(int index) const;
  uint64_t Bytes() const { return (cum_.capacity() + alias_.capacity()) * sizeof(uint64_t) + sizeof(*this); }

  static constexpr uint64_t kTotal = uint64_t{1} << 61;

 private:
  struct Table {
    uint32_t half, count;
    uint64_t first;  // in cum_ and in alias_ (padded, 2^bits entries)
    uint64_t aliasFirst;
    int bits;
  };
  void BuildAlias(Table& t);
  Table tables_[kCount];
  std::vector<uint64_t> cum_;
  // Per padded entry: its threshold (shifted up by bits) and its alias.
  std::vector<uint64_t> alias_;
};

}  // namespace dla
