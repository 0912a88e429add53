// The growth as the window shows it, filmed into a GIF: the surface with
// the seed, then a frame after every so many stuck particles, and the
// final picture last, held a while before the film loops.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/giffile.h"
#include "io/status.h"

namespace io {

// The surface as palette entries (each pixel the lowest entry of exactly
// its colour) and the palette; false when no surface is open.
bool SnapSurface(std::vector<uint8_t>& indices, int32_t& width, int32_t& height, std::array<Rgb, 256>& palette);

class Film {
 public:
  // every: stuck particles between frames; delay: each frame's time, and
  // hold the final picture's, in hundredths of a second.
  Film(uint64_t every, int delay, int hold) : every_(every), delay_(delay), hold_(hold) {}

  // Called with 0 once the seed is drawn, then after each stuck particle.
  void Stuck(uint64_t stuck) {
    if (stuck % every_ == 0) Take(stuck);
  }
  // The final picture, then the film's bytes into bytes.  A failure while
  // frames were taken (the surface gone, memory short) is reported here.
  Status Finish(uint64_t stuck, std::string& bytes);

  int Frames() const { return film_ ? film_->Frames() + (pending_.empty() ? 0 : 1) : 0; }

 private:
  void Take(uint64_t stuck);
  // Writes the frame held back, now that it is known not to be the last.
  void Flush(int delay);

  uint64_t every_;
  int delay_, hold_;
  std::unique_ptr<GifFilm> film_;
  std::vector<uint8_t> pending_;
  uint64_t pendingStuck_ = 0;
  Status failed_;
};

}  // namespace io
