#include "io/giffile.h"

#ifndef AGG_NO_GIF
#include <gif_lib.h>
#endif

#include <algorithm>

namespace io {

#ifdef AGG_NO_GIF

const char* const kGifUnavailable = "this build writes no GIF films";

GifFilm::GifFilm(int32_t width, int32_t height, const std::array<Rgb, 256>& palette)
    : width_(width), height_(height), palette_(palette) {}
GifFilm::~GifFilm() = default;
bool GifFilm::Begin() { return Fail("GIF", 0); }
bool GifFilm::Fail(const char*, int) {
  error_ = kGifUnavailable;
  return false;
}
bool GifFilm::AddFrame(const uint8_t*, int) { return Fail("GIF", 0); }
std::string GifFilm::Finish() {
  Fail("GIF", 0);
  return {};
}

#else

const char* const kGifUnavailable = nullptr;

namespace {

int Append(GifFileType* gif, const GifByteType* data, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
  return length;
}

// The smallest rectangle holding every index that differs, as left, top,
// width, height; width 0 when nothing differs.
std::array<int32_t, 4> Changed(const uint8_t* a, const uint8_t* b, int32_t w, int32_t h) {
  int32_t left = w, right = -1, top = h, bottom = -1;
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* ra = a + static_cast<size_t>(y) * static_cast<size_t>(w);
    const uint8_t* rb = b + static_cast<size_t>(y) * static_cast<size_t>(w);
    const auto [first, unused] = std::mismatch(ra, ra + w, rb);
    if (first == ra + w) continue;
    int32_t last = w - 1;
    while (ra[last] == rb[last]) --last;
    left = std::min(left, static_cast<int32_t>(first - ra));
    right = std::max(right, last);
    top = std::min(top, y);
    bottom = y;
  }
  if (right < 0) return {0, 0, 0, 0};
  return {left, top, right - left + 1, bottom - top + 1};
}

}  // namespace

GifFilm::GifFilm(int32_t width, int32_t height, const std::array<Rgb, 256>& palette)
    : width_(width), height_(height), palette_(palette) {}

GifFilm::~GifFilm() {
  if (gif_) EGifCloseFile(static_cast<GifFileType*>(gif_), nullptr);
}

bool GifFilm::Fail(const char* what, int code) {
  if (error_.empty()) error_ = std::string(what) + ": " + (GifErrorString(code) ? GifErrorString(code) : "GIF error");
  return false;
}

bool GifFilm::Begin() {
  int code = 0;
  GifFileType* gif = EGifOpen(&bytes_, Append, &code);
  if (!gif) return Fail("starting the GIF", code);
  gif_ = gif;
  EGifSetGifVersion(gif, true);
  GifColorType colours[256];
  for (size_t i = 0; i < 256; ++i) colours[i] = {palette_[i].r, palette_[i].g, palette_[i].b};
  ColorMapObject* map = GifMakeMapObject(256, colours);
  if (!map) return Fail("the GIF colour table", D_GIF_ERR_NOT_ENOUGH_MEM);
  const int put = EGifPutScreenDesc(gif, width_, height_, 8, 0, map);
  GifFreeMapObject(map);
  if (put == GIF_ERROR) return Fail("the GIF screen", gif->Error);
  // The application block that makes viewers loop the film for ever.
  static const GifByteType kLoop[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
      EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_ERROR ||
      EGifPutExtensionBlock(gif, sizeof kLoop, kLoop) == GIF_ERROR || EGifPutExtensionTrailer(gif) == GIF_ERROR)
    return Fail("the GIF loop block", gif->Error);
  return true;
}

bool GifFilm::AddFrame(const uint8_t* indices, int delay) {
  if (!error_.empty()) return false;
  if (!gif_ && !Begin()) return false;
  auto* gif = static_cast<GifFileType*>(gif_);
  const size_t size = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  std::array<int32_t, 4> box{0, 0, width_, height_};
  if (!previous_.empty()) {
    box = Changed(previous_.data(), indices, width_, height_);
    // A frame needs at least one pixel: an unchanged one keeps its time.
    if (box[2] == 0) box = {0, 0, 1, 1};
  }
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = std::clamp(delay, 0, 65535);
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  const size_t length = EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) == GIF_ERROR)
    return Fail("a GIF frame's timing", gif->Error);
  if (EGifPutImageDesc(gif, box[0], box[1], box[2], box[3], false, nullptr) == GIF_ERROR)
    return Fail("a GIF frame", gif->Error);
  std::vector<GifPixelType> row(static_cast<size_t>(box[2]));
  for (int32_t y = box[1]; y < box[1] + box[3]; ++y) {
    const uint8_t* from = indices + static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(box[0]);
    std::copy(from, from + box[2], row.begin());
    if (EGifPutLine(gif, row.data(), box[2]) == GIF_ERROR) return Fail("a GIF frame's pixels", gif->Error);
  }
  previous_.assign(indices, indices + size);
  ++frames_;
  return true;
}

std::string GifFilm::Finish() {
  if (!error_.empty()) return {};
  if (!gif_) {
    error_ = "the GIF has no frame";
    return {};
  }
  int code = 0;
  const int closed = EGifCloseFile(static_cast<GifFileType*>(gif_), &code);
  gif_ = nullptr;
  if (closed == GIF_ERROR) {
    Fail("ending the GIF", code);
    return {};
  }
  return std::move(bytes_);
}

#endif

}  // namespace io
