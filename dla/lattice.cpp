#include "dla/lattice.h"

#include <algorithm>
#include <stdexcept>

#include "dla/engines.h"
#include "dla/launch.h"

namespace dla {

namespace {

// The neighbourhoods, each in the order that picks the parent.
constexpr int32_t kFour[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
constexpr int32_t kEight[8][2] = {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};

}  // namespace

// ---- site index ----

uint64_t LatticeIndex::SlotsFor(uint64_t particles) {
  uint64_t slots = 16;
  while (slots * 4 < particles * 5) slots *= 2;
  return slots;
}

uint64_t LatticeIndex::BytesFor(uint64_t particles) { return SlotsFor(particles) * sizeof(uint32_t); }

LatticeIndex::LatticeIndex(uint64_t reserve) {
  const uint64_t slots = SlotsFor(reserve);
  slots_.assign(slots, kNone);
  shift_ = 64;
  for (uint64_t s = slots; s > 1; s >>= 1) --shift_;
}

void LatticeIndex::Insert(int32_t x, int32_t y, uint32_t index, const std::vector<Particle>& particles) {
  if ((count_ + 1) * 5 > slots_.size() * 4) {
    std::vector<uint32_t> old(slots_.size() * 2, kNone);
    old.swap(slots_);
    --shift_;
    count_ = 0;
    for (uint32_t i : old)
      if (i != kNone)
        Insert(static_cast<int32_t>(particles[i].x), static_cast<int32_t>(particles[i].y), i, particles);
  }
  const uint64_t mask = slots_.size() - 1;
  uint64_t s = Home(x, y);
  while (slots_[s] != kNone) s = (s + 1) & mask;
  slots_[s] = index;
  ++count_;
}

uint32_t LatticeIndex::Find(int32_t x, int32_t y, const std::vector<Particle>& particles) const {
  const uint64_t mask = slots_.size() - 1;
  for (uint64_t s = Home(x, y);; s = (s + 1) & mask) {
    const uint32_t i = slots_[s];
    if (i == kNone) return kNone;
    if (particles[i].x == x && particles[i].y == y) return i;
  }
}

// ---- the walk ----

LatticeModel::LatticeModel(const Params& params, uint64_t reserve)
    : eight_(params.lattice == Lattice::Square8),
      stick_(params.stick),
      bias_(static_cast<int32_t>(std::floor(params.testBias + 0.5))),
      tables_(ExitTables::For(params.lattice)),
      random_(params.seed),
      index_(reserve) {
  particles_.reserve(std::max<uint64_t>(reserve, 1));
  particles_.push_back({0, 0, 0});
  Mark(0, 0);
}

void LatticeModel::Mark(int32_t x, int32_t y) {
  occupied_.Set(x, y);
  sticky_.Set(x, y);
  if (eight_) {
    for (const auto& d : kEight) sticky_.Set(x + d[0], y + d[1]);
  } else {
    for (const auto& d : kFour) sticky_.Set(x + d[0], y + d[1]);
  }
  for (int k = 1; k <= kLevels; ++k) {
    const int32_t bx = x >> k, by = y >> k;
    for (int32_t dy = -1; dy <= 1; ++dy)
      for (int32_t dx = -1; dx <= 1; ++dx) levels_[k].Set(bx + dx, by + dy);
  }
  index_.Insert(x, y, static_cast<uint32_t>(particles_.size() - 1), particles_);
}

void LatticeModel::Attach(int32_t x, int32_t y) {
  uint32_t parent = LatticeIndex::kNone;
  const int count = eight_ ? 8 : 4;
  for (int i = 0; i < count; ++i) {
    const int32_t px = x + (eight_ ? kEight[i][0] : kFour[i][0]), py = y + (eight_ ? kEight[i][1] : kFour[i][1]);
    if (occupied_.Test(px, py)) {
      parent = index_.Find(px, py, particles_);
      break;
    }
  }
  if (parent == LatticeIndex::kNone) throw std::logic_error("lattice walk stuck with no occupied neighbour");
  particles_.push_back({static_cast<double>(x), static_cast<double>(y), parent});
  Mark(x, y);
  const double r = std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y);
  if (r > maxRadius_) maxRadius_ = r;
}

[[gnu::always_inline]] inline int32_t LatticeModel::FreeAt(int32_t x, int32_t y) {
  int k = level_;
  if (levels_[k].Test(x >> k, y >> k)) {
    do --k;
    while (k >= 1 && levels_[k].Test(x >> k, y >> k));
    if (k == 0) {
      level_ = 1;
      return 0;
    }
  } else {
    while (k < kLevels && !levels_[k + 1].Test(x >> (k + 1), y >> (k + 1))) ++k;
  }
  level_ = k;
  // The 3 x 3 blocks around the walker's are empty.  Its room reaches to
  // the region's nearer edges; where the neighbouring blocks toward those
  // edges are unmarked too, the region is a block wider that way.
  const int32_t b = int32_t{1} << k, m = b - 1, ox = x & m, oy = y & m;
  const int32_t bx = x >> k, by = y >> k;
  const int32_t sx = 2 * ox < b ? -1 : 1, sy = 2 * oy < b ? -1 : 1;
  const int32_t nearX = sx < 0 ? ox + b : 2 * b - 1 - ox, farX = sx < 0 ? 2 * b - 1 - ox : ox + b;
  const int32_t nearY = sy < 0 ? oy + b : 2 * b - 1 - oy, farY = sy < 0 ? 2 * b - 1 - oy : oy + b;
  const int32_t plainX = std::min(nearX, farX), plainY = std::min(nearY, farY);
  const int32_t wideX = std::min(nearX + b, farX), wideY = std::min(nearY + b, farY);
  const bool ex = !levels_[k].Test(bx + sx, by), ey = !levels_[k].Test(bx, by + sy);
  if (ex && ey && !levels_[k].Test(bx + sx, by + sy)) return std::min(wideX, wideY);
  int32_t free = std::min(plainX, plainY);
  if (ex) free = std::max(free, std::min(wideX, plainY));
  if (ey) free = std::max(free, std::min(plainX, wideY));
  return free;
}

int32_t LatticeModel::FreeSize(int32_t x, int32_t y) { return FreeAt(x, y); }

// The largest half-size L <= free whose square stays inside the return
// circle, so that a jump never passes a place where the plain walk would
// have been sent back.
[[gnu::always_inline]] inline int32_t LatticeModel::DiscLimit(int32_t x, int32_t y, int32_t free, double rout2) const {
  const double a = std::abs(static_cast<double>(x)), b = std::abs(static_cast<double>(y));
  const auto fits = [&](double l) { return (a + l) * (a + l) + (b + l) * (b + l) <= rout2; };
  if (fits(free)) return free;
  const double s = a + b, c = a * a + b * b - rout2, disc = s * s - 2 * c;
  if (disc < 0) return 0;
  double l = std::floor((std::sqrt(disc) - s) / 2);
  if (l > free) l = free;
  while (l >= 1 && !fits(l)) l -= 1;
  return l < 1 ? 0 : static_cast<int32_t>(l);
}

uint32_t LatticeModel::Grow() {
  const double rl = maxRadius_ + 5;
  Walk(rl, 2 * rl);
  Attach(x_, y_);
  return static_cast<uint32_t>(particles_.size() - 1);
}

uint32_t LatticeModel::AddSite(int32_t x, int32_t y) {
  if (occupied_.Test(x, y)) throw std::invalid_argument("site already occupied");
  Attach(x, y);
  return static_cast<uint32_t>(particles_.size() - 1);
}

void LatticeModel::Walk(double rl, double rout) {
  const double rout2 = rout * rout;
  const double stick = stick_;
  Place([&] {
    const Vec u = UnitCircle(random_);
    return Vec{u.x * rl, u.y * rl};
  }());
  int32_t x = x_, y = y_;
  uint64_t moves = 0;
  bool unitNext = false;  // after a biased jump refused at an occupied site
  // The free size is found where the walker lands and serves its next move.
  // Every sticking site lies in a marked level-1 block, so the sticking
  // plane, the largest and least cached, is read only where the free size
  // is 0: a walker that has room never touches it.
  int32_t free = FreeAt(x, y);
  bool beside = free == 0 && sticky_.Test(x, y);  // at a sticking site, its draw failed
  for (;;) {
    const int32_t fromX = x, fromY = y;
    if (beside) {
      // Beside the cluster after a sticking draw that failed: the model's
      // own move, refused onto an occupied site.
      int32_t nx = x, ny = y;
      if (eight_) {
        const uint32_t d = random_.Below(9);
        nx += static_cast<int32_t>(d % 3) - 1, ny += static_cast<int32_t>(d / 3) - 1;
      } else {
        const uint32_t d = random_.Below(4);
        nx += kFour[d][0], ny += kFour[d][1];
      }
      if (!occupied_.Test(nx, ny)) x = nx, y = ny;
    } else {
      if (unitNext) free = 0;
      unitNext = false;
      if (free >= 2) free = DiscLimit(x, y, free, rout2);
      if (free >= 2) {
        const ExitTables::Offset o = tables_.Draw(ExitTables::IndexAtMost(static_cast<uint32_t>(free)), random_.Next(), bias_);
        x += o.dx, y += o.dy;
      } else {
        if (bitsLeft_ == 0) bits_ = random_.Next(), bitsLeft_ = eight_ ? 21 : 32;
        --bitsLeft_;
        if (eight_) {
          // Nothing within distance 1, so the 9-place walk's stays change
          // nothing: its next move off the spot is uniform on the 8.
          const auto& d = kEight[bits_ & 7];
          x += d[0], y += d[1];
          bits_ >>= 3;
        } else {
          const auto& d = kFour[bits_ & 3];
          x += d[0], y += d[1];
          bits_ >>= 2;
        }
      }
    }
    ++moves;
    if (static_cast<double>(x) * x + static_cast<double>(y) * y > rout2) {
      const Vec p = ReturnToCircle(random_, {static_cast<double>(x), static_cast<double>(y)}, rl);
      Place(p);
      x = x_, y = y_;
      free = FreeAt(x, y);
      beside = free == 0 && sticky_.Test(x, y);
      continue;
    }
    free = FreeAt(x, y);
    beside = free == 0 && sticky_.Test(x, y);
    if (beside) {
      if (bias_ != 0 && occupied_.Test(x, y)) {
        x = fromX, y = fromY;
        beside = false;  // jumps start only from free sites
        unitNext = true;
        continue;
      }
      if (stick == 1 || random_.Uniform() < stick) {
        moves_ += moves;
        x_ = x, y_ = y;
        return;
      }
    }
  }
}

uint64_t LatticeModel::Bytes() const {
  uint64_t bytes = sizeof(*this) + particles_.capacity() * sizeof(Particle) + index_.Bytes() + occupied_.Bytes() +
                   sticky_.Bytes() + tables_.Bytes();
  for (int k = 1; k <= kLevels; ++k) bytes += levels_[k].Bytes();
  return bytes;
}

// ---- entry points ----

std::unique_ptr<Model> MakeSquareLattice(const Params& params, uint64_t reserve) {
  if (params.lattice != Lattice::Square4 && params.lattice != Lattice::Square8)
    throw std::invalid_argument("the lattice walk is for square4 and square8");
  if (!(params.stick > 0 && params.stick <= 1))
    throw std::invalid_argument("the sticking probability must be in (0, 1]");
  if (!(params.testBias >= 0 && params.testBias <= 1000))
    throw std::invalid_argument("the test bias must be between 0 and 1000");
  if (reserve > kMaxParticles) throw std::invalid_argument("too many particles for one run");
  return std::make_unique<LatticeModel>(params, reserve);
}

uint64_t SquareLatticeBytes(Lattice lattice, uint64_t particles) {
  (void)lattice;
  // Particles, the index, the planes (measured at 3 to 4 bytes a particle
  // from 1e5 to 1e7 particles, counted at 6) and the tables (3.6 MB) and
  // fixed parts.  A run measured 34.7 bytes a particle at 1e7 against 37.5.
  return particles * sizeof(Particle) + LatticeIndex::BytesFor(particles) + particles * 6 + (8u << 20);
}

}  // namespace dla
