#include "io/film.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "graph/graph.h"
#include "graph/window.h"

namespace io {

namespace {

// What the lock guards, copied out so that nothing is allocated under it.
bool SurfaceShape(int32_t& width, int32_t& height, std::array<graph::RGBRec, 256>& pal, size_t& entries) {
  std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
  if (!graph::GraphRunning || graph::Pal.empty()) return false;
  width = graph::BackBuffer.Width;
  height = graph::BackBuffer.Height;
  entries = std::min<size_t>(graph::Pal.size(), 256);
  std::copy_n(graph::Pal.begin(), entries, pal.begin());
  return true;
}

}  // namespace

// A heap overflow under the drawing lock would end the program with the
// window thread waiting for the lock: the memory is made before it is taken.
bool SnapSurface(std::vector<uint8_t>& indices, int32_t& width, int32_t& height, std::array<Rgb, 256>& palette) {
  std::array<graph::RGBRec, 256> pal{};
  size_t entries = 0;
  if (!SurfaceShape(width, height, pal, entries)) return false;
  palette = {};
  std::unordered_map<uint32_t, uint8_t> entry;
  for (size_t i = 0; i < entries; ++i) {
    const uint32_t pixel = graph::RGBToPixel(graph::EntryToRGB(pal[i]));
    palette[i] = {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8), static_cast<uint8_t>(pixel)};
    entry.emplace(pixel, static_cast<uint8_t>(i));  // the lowest of equal entries stays
  }
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  indices.resize(n);
  std::lock_guard<graph::DrawLock> hold(graph::GraphDrawing);
  if (!graph::GraphRunning || graph::BackBuffer.Width != width || graph::BackBuffer.Height != height) return false;
  // Most of the surface is one background colour: remember the last answer.
  uint32_t last = 0xFFFFFFFFu;
  uint8_t lastEntry = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t pixel = graph::BackBuffer.Pixels[i] & 0xFFFFFFu;
    if (pixel != last) {
      const auto it = entry.find(pixel);
      // Every pixel drawn is a palette entry's colour; anything else
      // (a palette changed under it) takes the nearest entry.
      if (it != entry.end()) {
        lastEntry = it->second;
      } else {
        int best = 1 << 30;
        for (size_t e = 0; e < entries; ++e) {
          const int d = std::abs(int(pixel >> 16 & 0xFF) - palette[e].r) + std::abs(int(pixel >> 8 & 0xFF) - palette[e].g) +
                        std::abs(int(pixel & 0xFF) - palette[e].b);
          if (d < best) best = d, lastEntry = static_cast<uint8_t>(e);
        }
      }
      last = pixel;
    }
    indices[i] = lastEntry;
  }
  return true;
}

void Film::Take(uint64_t stuck) {
  if (!failed_.ok()) return;
  std::vector<uint8_t> indices;
  int32_t w = 0, h = 0;
  std::array<Rgb, 256> palette;
  try {
    if (!SnapSurface(indices, w, h, palette)) {
      failed_ = "the surface is gone";
      return;
    }
  } catch (const std::bad_alloc&) {
    failed_ = "not enough memory for frame " + std::to_string(Frames() + 1) + " of the film";
    return;
  }
  if (!film_) film_ = std::make_unique<GifFilm>(w, h, palette);
  Flush(delay_);
  pending_ = std::move(indices);
  pendingStuck_ = stuck;
}

void Film::Flush(int delay) {
  if (pending_.empty() || !failed_.ok()) return;
  failed_ = film_->AddFrame(pending_.data(), delay);
  pending_.clear();
}

Status Film::Finish(uint64_t stuck, std::string& bytes) {
  if (!film_ || pendingStuck_ != stuck) Take(stuck);
  Flush(hold_);
  if (!failed_.ok()) return failed_;
  return film_->Finish(bytes);
}

}  // namespace io
