#include "dla/plain.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "dla/launch.h"
#include "dla/random.h"

namespace dla {
namespace {

// A square of cells (or sites) centred on the origin, [-half, half) on each
// axis for cells, [-half, half] for sites; it is remade twice as large when
// the cluster comes within a few units of its edge.
int32_t HalfFor(double maxRadius, int32_t half) {
  const double need = maxRadius + 4;
  while (half < need) half *= 2;
  return half;
}

// Discs of diameter 1.  The walker's centre flies in straight steps in
// uniform directions: of length h where no disc centre is within 1 + h, so
// that the step's circle touches nothing, and of the fine length f near the
// discs, where each step is tested exactly and the walker sticks at the
// first point at distance 1 from a centre.  A step whose circle lies in free
// space leaves the hitting distribution exactly as Brownian motion's (the
// mean value property of harmonic functions, for any step length), so the
// walk's only departure from the model is the fine flight's, of order f.
class PlainOff final : public Model {
 public:
  PlainOff(uint64_t seed, double step, double fine) : random_(seed), step_(step), fine_(fine) {
    particles_.push_back({0, 0, 0});
    Rebuild(8);
  }

  uint32_t Grow() override {
    const double launch = maxRadius_ + 5, out = 2 * launch;
    // Only a walker this close to the origin can have a disc within 1 + h.
    const double reach = maxRadius_ + 1 + step_;
    const Vec u = UnitCircle(random_);
    Vec p{launch * u.x, launch * u.y};
    for (;;) {
      const bool close = p.x * p.x + p.y * p.y <= reach * reach && near_[CellIndex(p.x, p.y)] && Crowded(p);
      const double length = close ? fine_ : step_;
      const Vec w = UnitCircle(random_);
      const Vec d{length * w.x, length * w.y};
      ++moves_;
      if (close) {
        double t;
        const int32_t hit = FirstContact(p, d, t);
        if (hit >= 0) return Stick({p.x + t * d.x, p.y + t * d.y}, static_cast<uint32_t>(hit));
      }
      p = {p.x + d.x, p.y + d.y};
      if (p.x * p.x + p.y * p.y > out * out) p = ReturnToCircle(random_, p, launch);
    }
  }

 private:
  int32_t CellIndex(double x, double y) const {
    const int32_t cx = static_cast<int32_t>(std::floor(x)) + half_, cy = static_cast<int32_t>(std::floor(y)) + half_;
    return cy * 2 * half_ + cx;
  }

  void Insert(uint32_t i) {
    const int32_t c = CellIndex(particles_[i].x, particles_[i].y);
    next_[i] = head_[c];
    head_[c] = static_cast<int32_t>(i);
    // A step from a cell can meet only discs whose centres lie within 1 + h
    // of it, so in cells at most two away (h < 1).
    const int32_t side = 2 * half_;
    for (int32_t dy = -2; dy <= 2; ++dy)
      for (int32_t dx = -2; dx <= 2; ++dx) near_[c + dy * side + dx] = 1;
  }

  void Rebuild(int32_t half) {
    half_ = half;
    head_.assign(static_cast<size_t>(2 * half) * static_cast<size_t>(2 * half), -1);
    near_.assign(head_.size(), 0);
    next_.assign(particles_.size(), -1);
    for (uint32_t i = 0; i < particles_.size(); ++i) Insert(i);
  }

  // Whether a disc centre lies within 1 + h of p (p in the grid).
  bool Crowded(Vec p) const {
    const int32_t cx = static_cast<int32_t>(std::floor(p.x)), cy = static_cast<int32_t>(std::floor(p.y));
    const double limit = (1 + step_) * (1 + step_);
    for (int32_t y = cy - 2; y <= cy + 2; ++y)
      for (int32_t x = cx - 2; x <= cx + 2; ++x)
        for (int32_t i = head_[(y + half_) * 2 * half_ + x + half_]; i >= 0; i = next_[i]) {
          const double dx = p.x - particles_[i].x, dy = p.y - particles_[i].y;
          if (dx * dx + dy * dy <= limit) return true;
        }
    return false;
  }

  // The disc the step p -> p + d meets first, and the fraction t of the step
  // at which the centres are 1 apart; -1 if none.  The walker starts the step
  // more than 1 from every centre, so the meeting is the smaller root of
  // |p + t d - c|^2 = 1.  Equal fractions go to the lower index.
  int32_t FirstContact(Vec p, Vec d, double& t) const {
    const double x0 = std::fmin(p.x, p.x + d.x) - 1, x1 = std::fmax(p.x, p.x + d.x) + 1;
    const double y0 = std::fmin(p.y, p.y + d.y) - 1, y1 = std::fmax(p.y, p.y + d.y) + 1;
    const int32_t cx0 = static_cast<int32_t>(std::floor(x0)), cx1 = static_cast<int32_t>(std::floor(x1));
    const int32_t cy0 = static_cast<int32_t>(std::floor(y0)), cy1 = static_cast<int32_t>(std::floor(y1));
    const double a = d.x * d.x + d.y * d.y;
    int32_t best = -1;
    double bestT = 2;
    for (int32_t cy = cy0; cy <= cy1; ++cy) {
      for (int32_t cx = cx0; cx <= cx1; ++cx) {
        for (int32_t i = head_[(cy + half_) * 2 * half_ + cx + half_]; i >= 0; i = next_[i]) {
          const double fx = p.x - particles_[i].x, fy = p.y - particles_[i].y;
          const double b = fx * d.x + fy * d.y, c = fx * fx + fy * fy - 1;
          double root;
          if (c <= 0) {
            root = 0;  // touching already (only by rounding): stick where it is
          } else {
            const double disc = b * b - a * c;
            if (b >= 0 || disc < 0) continue;
            root = (-b - std::sqrt(disc)) / a;
            if (root > 1) continue;
          }
          if (root < bestT || (root == bestT && i < best)) bestT = root, best = i;
        }
      }
    }
    t = bestT;
    return best;
  }

  uint32_t Stick(Vec at, uint32_t parent) {
    const uint32_t index = static_cast<uint32_t>(particles_.size());
    particles_.push_back({at.x, at.y, parent});
    next_.push_back(-1);
    maxRadius_ = std::fmax(maxRadius_, std::sqrt(at.x * at.x + at.y * at.y));
    if (maxRadius_ + 4 > half_) {
      Rebuild(HalfFor(maxRadius_, half_));
    } else {
      Insert(index);
    }
    return index;
  }

  Random random_;
  double step_, fine_;
  int32_t half_ = 0;
  std::vector<int32_t> head_;  // first particle of each cell, -1 for none
  std::vector<int32_t> next_;  // the next particle in the same cell
  std::vector<uint8_t> near_;  // 1 where a disc centre lies within two cells
};

struct Offset {
  int32_t dx, dy;
};

// The neighbours in the order the parent is chosen.
constexpr Offset kFour[] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
constexpr Offset kEight[] = {{1, 1}, {1, 0}, {1, -1}, {0, 1}, {0, -1}, {-1, 1}, {-1, 0}, {-1, -1}};

// Square4 and Square8: unit moves, one site at a time.
class PlainLattice final : public Model {
 public:
  PlainLattice(uint64_t seed, Lattice lattice, double stick)
      : random_(seed), eight_(lattice == Lattice::Square8), stick_(stick) {
    particles_.push_back({0, 0, 0});
    Rebuild(8);
  }

  uint32_t Grow() override {
    const double launch = maxRadius_ + 5, out = 2 * launch;
    // Only a walker this close to the origin can have an occupied neighbour
    // (a neighbour is at most sqrt 2 away), so sites are looked up only here.
    const double near = maxRadius_ + 2;
    const Vec u = UnitCircle(random_);
    int32_t x = Round(launch * u.x), y = Round(launch * u.y);
    for (;;) {
      int32_t nx, ny;
      if (eight_) {
        const uint32_t k = random_.Below(9);
        nx = x + static_cast<int32_t>(k % 3) - 1;
        ny = y + static_cast<int32_t>(k / 3) - 1;
      } else {
        const Offset o = kFour[random_.Below(4)];
        nx = x + o.dx;
        ny = y + o.dy;
      }
      ++moves_;
      const bool close = Square(x, y) <= near * near;
      // Onto an occupied site only when stick < 1 let it pass by; the walker
      // stays for that move.
      if (!(close && Site(nx, ny) != 0)) x = nx, y = ny;
      if (Square(x, y) <= near * near) {
        const int32_t parent = FirstNeighbour(x, y);
        if (parent >= 0 && (stick_ == 1 || random_.Uniform() < stick_)) return Stick(x, y, static_cast<uint32_t>(parent));
      }
      if (Square(x, y) > out * out) {
        const Vec q = ReturnToCircle(random_, {static_cast<double>(x), static_cast<double>(y)}, launch);
        x = Round(q.x);
        y = Round(q.y);
      }
    }
  }

 private:
  static int32_t Round(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }
  static double Square(int32_t x, int32_t y) {
    return static_cast<double>(static_cast<int64_t>(x) * x + static_cast<int64_t>(y) * y);
  }

  // The particle index + 1 on a site, 0 for an empty one.
  uint32_t& Site(int32_t x, int32_t y) {
    const size_t side = static_cast<size_t>(2 * half_ + 1);
    return sites_[static_cast<size_t>(y + half_) * side + static_cast<size_t>(x + half_)];
  }

  int32_t FirstNeighbour(int32_t x, int32_t y) {
    if (eight_) {
      for (const Offset o : kEight)
        if (const uint32_t s = Site(x + o.dx, y + o.dy)) return static_cast<int32_t>(s - 1);
    } else {
      for (const Offset o : kFour)
        if (const uint32_t s = Site(x + o.dx, y + o.dy)) return static_cast<int32_t>(s - 1);
    }
    return -1;
  }

  void Rebuild(int32_t half) {
    half_ = half;
    const size_t side = static_cast<size_t>(2 * half + 1);
    sites_.assign(side * side, 0);
    for (uint32_t i = 0; i < particles_.size(); ++i)
      Site(static_cast<int32_t>(particles_[i].x), static_cast<int32_t>(particles_[i].y)) = i + 1;
  }

  uint32_t Stick(int32_t x, int32_t y, uint32_t parent) {
    const uint32_t index = static_cast<uint32_t>(particles_.size());
    particles_.push_back({static_cast<double>(x), static_cast<double>(y), parent});
    maxRadius_ = std::fmax(maxRadius_, std::sqrt(Square(x, y)));
    if (maxRadius_ + 4 > half_) {
      Rebuild(HalfFor(maxRadius_, half_));
    } else {
      Site(x, y) = index + 1;
    }
    return index;
  }

  Random random_;
  bool eight_;
  double stick_;
  int32_t half_ = 0;
  std::vector<uint32_t> sites_;
};

}  // namespace

std::unique_ptr<Model> MakePlainModel(const Params& params, double step, double fine) {
  if (!(params.stick > 0 && params.stick <= 1))
    throw std::invalid_argument("sticking probability must be in (0, 1], got " + std::to_string(params.stick));
  if (params.lattice == Lattice::Off) {
    if (params.stick != 1) throw std::invalid_argument("the off-lattice walk sticks at every contact: stick must be 1");
    if (!(fine > 0 && fine <= step && step <= 1))
      throw std::invalid_argument("the plain walker's steps must be 0 < fine <= step <= 1, got " + std::to_string(fine) +
                                  " and " + std::to_string(step));
    return std::make_unique<PlainOff>(params.seed, step, fine);
  }
  return std::make_unique<PlainLattice>(params.seed, params.lattice, params.stick);
}

}  // namespace dla
