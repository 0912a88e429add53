// Back-buffer pixels (0x00RRGGBB) as the pixel values of a true-colour or
// direct-colour visual of any depth, given the visual's channel masks.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace graph::x11 {

class PixelFormat {
 public:
  PixelFormat() = default;
  PixelFormat(uint64_t red, uint64_t green, uint64_t blue) {
    const uint64_t masks[3] = {red, green, blue};
    valid_ = true;
    for (int c = 0; c < 3; ++c) {
      const uint64_t m = masks[c];
      // One run of set bits per channel, within a 32-bit pixel and apart
      // from the other channels.
      const int shift = m ? std::countr_zero(m) : 0;
      const int bits = std::popcount(m);
      if (m == 0 || m >> 32 || bits > 16 || (m >> shift) != (uint64_t{1} << bits) - 1) {
        valid_ = false;
        return;
      }
      for (int other = 0; other < c; ++other) valid_ &= (masks[other] & m) == 0;
      // Each 8-bit level to the nearest of the channel's levels.
      const uint32_t top = (uint32_t{1} << bits) - 1;
      for (uint32_t v = 0; v < 256; ++v) table_[c][v] = ((v * top + 127) / 255) << shift;
    }
    identity_ = valid_ && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
  }

  // Masks that this class can serve.
  bool Valid() const { return valid_; }
  // The visual's pixels are the back buffer's own.
  bool Identity() const { return identity_; }

  uint32_t operator()(uint32_t px) const {
    return table_[0][(px >> 16) & 0xFF] | table_[1][(px >> 8) & 0xFF] | table_[2][px & 0xFF];
  }

 private:
  std::array<std::array<uint32_t, 256>, 3> table_{};
  bool valid_ = false;
  bool identity_ = false;
};

namespace detail {
template <size_t Bytes, bool MsbFirst>
void PackPixels(const PixelFormat& format, const uint32_t* from, size_t count, unsigned char* to) {
  for (size_t i = 0; i < count; ++i, to += Bytes) {
    const uint32_t v = format(from[i]);
    for (size_t b = 0; b < Bytes; ++b) to[b] = static_cast<unsigned char>(v >> (8 * (MsbFirst ? Bytes - 1 - b : b)));
  }
}
}  // namespace detail

// Back-buffer pixels converted into one row of a Z-format image whose
// pixels are bitsPerPixel (16, 24 or 32) wide, their bytes most significant
// first when msbFirst: the image's byte order, which is the server's, not
// necessarily this processor's.  Written a byte at a time so that the order
// is the image's on any processor; where the two agree the compiler makes
// each pixel one store.  False, with nothing written, for another width.
inline bool PackRow(const PixelFormat& format, const uint32_t* from, size_t count, unsigned char* to, int bitsPerPixel,
                    bool msbFirst) {
  switch (bitsPerPixel * 2 + (msbFirst ? 1 : 0)) {
    case 32: detail::PackPixels<2, false>(format, from, count, to); return true;
    case 33: detail::PackPixels<2, true>(format, from, count, to); return true;
    case 48: detail::PackPixels<3, false>(format, from, count, to); return true;
    case 49: detail::PackPixels<3, true>(format, from, count, to); return true;
    case 64: detail::PackPixels<4, false>(format, from, count, to); return true;
    case 65: detail::PackPixels<4, true>(format, from, count, to); return true;
  }
  return false;
}

}  // namespace graph::x11
