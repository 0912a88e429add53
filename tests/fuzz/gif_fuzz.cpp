// The film's GIF encoder on random frames and palettes, read back with
// giflib's decoder: the same palette, one frame per frame added with its
// delay, and every frame, drawn over the ones before, exactly the picture
// given.  The first bytes choose the size and how the frames change; the
// rest are the palette and the pixels, reused round when they run out.
#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/giffile.h"

namespace {

struct Reader {
  const std::string* bytes;
  size_t at = 0;
};

int Read(GifFileType* gif, GifByteType* to, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  const size_t k = std::min(static_cast<size_t>(n), r->bytes->size() - r->at);
  std::memcpy(to, r->bytes->data() + r->at, k);
  r->at += k;
  return static_cast<int>(k);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  // Up to 96 × 96 pixels and 8 frames: large enough for the code table to
  // fill and clear within a frame, small enough for many inputs a second.
  const int32_t w = 1 + data[0] % 96, h = 1 + data[1] % 96;
  const int frames = 1 + data[2] % 8;
  const uint8_t colours = data[3];  // 0: any index; else indices below it
  const uint8_t* pool = data + 4;
  const size_t poolSize = size - 4;
  size_t at = 0;
  const auto next = [&] { return pool[at++ % poolSize]; };

  std::array<io::Rgb, 256> palette;
  for (io::Rgb& c : palette) c = {next(), next(), next()};
  io::GifFilm film(w, h, palette);
  std::vector<std::vector<uint8_t>> shown;
  std::vector<int> delays;
  std::vector<uint8_t> picture(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  for (int f = 0; f < frames; ++f) {
    // A rectangle of new pixels (possibly none), the rest kept.
    const int32_t x0 = next() % w, y0 = next() % h;
    const int32_t x1 = x0 + next() % (w - x0 + 1), y1 = y0 + next() % (h - y0 + 1);
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = x0; x < x1; ++x) {
        const uint8_t v = next();
        picture[static_cast<size_t>(y) * w + x] = colours ? v % colours : v;
      }
    const int delay = next() | (next() & 1) << 8;
    if (!film.AddFrame(picture.data(), delay).ok()) std::abort();
    shown.push_back(picture);
    delays.push_back(delay);
  }
  std::string bytes;
  if (!film.Finish(bytes).ok()) std::abort();

  Reader reader{&bytes};
  int err = 0;
  GifFileType* gif = DGifOpen(&reader, Read, &err);
  if (!gif || DGifSlurp(gif) != GIF_OK) std::abort();
  if (gif->SWidth != w || gif->SHeight != h || gif->ImageCount != frames || !gif->SColorMap ||
      gif->SColorMap->ColorCount != 256)
    std::abort();
  for (int i = 0; i < 256; ++i) {
    const GifColorType& c = gif->SColorMap->Colors[i];
    if (c.Red != palette[i].r || c.Green != palette[i].g || c.Blue != palette[i].b) std::abort();
  }
  std::vector<uint8_t> canvas(picture.size(), 0);
  for (int f = 0; f < frames; ++f) {
    const SavedImage& im = gif->SavedImages[f];
    const GifImageDesc& d = im.ImageDesc;
    if (d.Left < 0 || d.Top < 0 || d.Width < 1 || d.Height < 1 || d.Left + d.Width > w || d.Top + d.Height > h)
      std::abort();
    for (int y = 0; y < d.Height; ++y)
      std::copy_n(im.RasterBits + static_cast<size_t>(y) * d.Width, d.Width,
                  canvas.begin() + static_cast<size_t>(d.Top + y) * w + d.Left);
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(gif, f, &gcb) != GIF_OK || gcb.DelayTime != delays[f] ||
        gcb.DisposalMode != DISPOSE_DO_NOT || canvas != shown[f])
      std::abort();
  }
  DGifCloseFile(gif, nullptr);
  return 0;
}
