// An animated GIF of a 256-colour picture, built frame by frame in memory
// (a film of a growing aggregate stays small: each frame stores only the
// rectangle that changed since the one before).  The encoder is the
// project's own, so that both builds write the same bytes for a run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/status.h"

namespace io {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// A GIF stores a frame's sides in 16 bits.
inline constexpr int64_t kGifMaxSide = 65535;
// The fewest bytes a frame after the first can take: its timing (8), its
// rectangle (10) and one pixel's codes in one block (7).
inline constexpr size_t kGifLeastFrameBytes = 25;

// Success when a film of width × height frames can be written, otherwise
// why not.
Status GifFrameFits(int64_t width, int64_t height);

class GifFilm {
 public:
  // Frames of width × height palette indices over one global colour table;
  // the film loops for ever.
  GifFilm(int32_t width, int32_t height, const std::array<Rgb, 256>& palette);
  GifFilm(const GifFilm&) = delete;
  GifFilm& operator=(const GifFilm&) = delete;

  // Adds the whole picture (width × height indices, row after row), shown
  // for delay hundredths of a second; only what differs from the frame
  // before is stored.  After a failure every later call fails the same way.
  Status AddFrame(const uint8_t* indices, int delay);

  // Ends the film and moves its bytes into bytes.
  Status Finish(std::string& bytes);

  int Frames() const { return frames_; }

 private:
  int32_t width_, height_;
  std::array<Rgb, 256> palette_;
  std::vector<uint8_t> previous_;
  std::vector<uint32_t> table_;
  std::string bytes_;
  Status failed_;
  int frames_ = 0;
};

}  // namespace io
