// An animated GIF of a 256-colour picture, built frame by frame in memory
// (a film of a growing aggregate stays small: each frame stores only the
// rectangle that changed since the one before).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace io {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

// Why GIF films cannot be written by this build, or nullptr when they can.
extern const char* const kGifUnavailable;

class GifFilm {
 public:
  // Frames of width × height palette indices over one global colour table;
  // the film loops for ever.
  GifFilm(int32_t width, int32_t height, const std::array<Rgb, 256>& palette);
  ~GifFilm();
  GifFilm(const GifFilm&) = delete;
  GifFilm& operator=(const GifFilm&) = delete;

  // Adds the whole picture (width × height indices, row after row), shown
  // for delay hundredths of a second; only what differs from the frame
  // before is stored.  False, with Error() set, when encoding fails.
  bool AddFrame(const uint8_t* indices, int delay);

  // Ends the film; its bytes, or an empty string with Error() set.
  std::string Finish();

  int Frames() const { return frames_; }
  const std::string& Error() const { return error_; }

 private:
  bool Begin();
  bool Fail(const char* what, int code);

  int32_t width_, height_;
  std::array<Rgb, 256> palette_;
  std::vector<uint8_t> previous_;
  std::string bytes_;
  std::string error_;
  void* gif_ = nullptr;
  int frames_ = 0;
};

}  // namespace io
