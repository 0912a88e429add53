// The window driver's pixel level: the built-in palette, the palette table,
// setting and reading single pixels, spans, the background colour and
// clearing the viewport.
//
// The window thread releases the surfaces and Pal in its teardown, so every
// routine here tests GraphRunning and touches Pal or a surface only while it
// holds GraphDrawing.
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>

#include "graph/blockread.h"
#include "graph/graph.h"
#include "graph/touching.h"
#include "graph/window.h"

namespace graph {
namespace {

constexpr std::array<RGBRec, 256> MakeDefaultColors() {
  constexpr int16_t Basic[16][3] = {{0, 0, 0},      {0, 0, 168},    {0, 168, 0},    {0, 168, 168},
                                    {168, 0, 0},    {168, 0, 168},  {168, 84, 0},   {168, 168, 168},
                                    {84, 84, 84},   {84, 84, 252},  {84, 252, 84},  {84, 252, 252},
                                    {252, 84, 84},  {252, 84, 252}, {252, 252, 84}, {252, 252, 252}};
  constexpr int16_t Greys[16] = {0, 20, 32, 44, 56, 68, 80, 96, 112, 128, 144, 160, 180, 200, 224, 252};
  // Five levels per hue ring, darker and paler rings after the bright one.
  constexpr int16_t RingLevels[9][5] = {{0, 64, 124, 188, 252},  {124, 156, 188, 220, 252},
                                        {180, 196, 216, 232, 252}, {0, 28, 56, 84, 112},
                                        {56, 68, 84, 96, 112},   {80, 88, 96, 104, 112},
                                        {0, 16, 32, 48, 64},     {32, 40, 48, 56, 64},
                                        {44, 48, 52, 60, 64}};
  std::array<RGBRec, 256> c{};
  for (int i = 0; i < 16; ++i) {
    c[i] = {Basic[i][0], Basic[i][1], Basic[i][2]};
    c[16 + i] = {Greys[i], Greys[i], Greys[i]};
  }
  // Each ring runs blue, magenta, red, yellow, green, cyan, one component
  // moving through the levels in each quarter of a sixth.
  for (int ring = 0; ring < 9; ++ring) {
    const int16_t* L = RingLevels[ring];
    for (int k = 0; k < 24; ++k) {
      RGBRec e{};
      switch (k / 4) {
        case 0: e = {L[k], L[0], L[4]}; break;
        case 1: e = {L[4], L[0], L[8 - k]}; break;
        case 2: e = {L[4], L[k - 8], L[0]}; break;
        case 3: e = {L[16 - k], L[4], L[0]}; break;
        case 4: e = {L[0], L[4], L[k - 16]}; break;
        default: e = {L[0], L[24 - k], L[4]}; break;
      }
      c[32 + 24 * ring + k] = e;
    }
  }
  return c;  // 248..255 stay black
}

// How many entries a colour number may index: the palette that exists.  A
// mode opened while the window still ran keeps the first mode's palette,
// which may be smaller than the new MaxColor says.
inline uint32_t PaletteBound() {
  return std::min(static_cast<uint32_t>(Pal.size()), static_cast<uint32_t>(std::max(MaxColor, 0)));
}

// Colour numbers at or above the palette's size wrap round it.
inline const RGBRec* PalEntry(uint32_t colour) {
  const uint32_t n = PaletteBound();
  if (n == 0) return nullptr;
  return &Pal[colour < n ? colour : colour % n];
}

inline uint32_t EntryPixel(const RGBRec& c) { return RGBToPixel(EntryToRGB(c)); }

inline int16_t Translate(int16_t v, int16_t origin) { return static_cast<int16_t>(v + origin); }

inline bool OutsideViewport(int32_t x, int32_t y) {
  return x < StartXViewPort || x > StartXViewPort + ViewWidth || y < StartYViewPort ||
         y > StartYViewPort + ViewHeight;
}

inline bool OnSurface(int32_t x, int32_t y) {
  return static_cast<uint32_t>(x) < static_cast<uint32_t>(BackBuffer.Width) &&
         static_cast<uint32_t>(y) < static_cast<uint32_t>(BackBuffer.Height);
}

inline uint32_t& BackPixel(int32_t x, int32_t y) {
  return BackBuffer.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(BackBuffer.Width) +
                           static_cast<std::size_t>(x)];
}

// Off the surface a pixel reads as white, what window systems answer for a
// point outside a bitmap.
inline uint32_t ReadPixel(int32_t x, int32_t y) { return OnSurface(x, y) ? BackPixel(x, y) : 0x00FFFFFFu; }

// The entry at the smallest sum of component differences, the lowest of
// equally near ones.
uint16_t NearestEntry(int32_t red, int32_t green, int32_t blue) {
  const uint32_t n = PaletteBound();
  int32_t best = std::numeric_limits<int32_t>::max();
  uint16_t nearest = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const RGBRec& c = Pal[i];
    const int32_t d = std::abs(red - c.Red) + std::abs(green - c.Green) + std::abs(blue - c.Blue);
    if (d < best) {
      nearest = static_cast<uint16_t>(i);
      best = d;
      if (d == 0) break;
    }
  }
  return nearest;
}

// GetPixel maps every pixel it reads to the nearest palette entry.  The
// answer depends only on the pixel's colour and the palette, so it is kept
// per colour until the palette changes, and the search runs once per colour
// met instead of once per read.  What the search sees changes only when a
// mode is set (MaxColor, the table) or an entry is set, and both forget.
class NearestMemo {
 public:
  NearestMemo() { Forget(); }

  uint16_t Find(uint32_t pixel) {
    Slot& s = slots_[(pixel * 0x9E3779B1u) >> (32 - kBits)];
    if (s.pixel != pixel) [[unlikely]]
      s = {pixel, NearestEntry((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF)};
    return s.entry;
  }

  void Forget() { slots_.fill({kNoPixel, 0}); }

 private:
  static constexpr int kBits = 10;
  static constexpr uint32_t kNoPixel = 0xFFFFFFFFu;  // no pixel has its top byte set
  struct Slot {
    uint32_t pixel;
    uint16_t entry;
  };
  std::array<Slot, 1u << kBits> slots_;
};

NearestMemo nearest;

// The walk's touching map, kept in step with what GetPixel answers: every
// write of the read-back map changes it, and whatever else changes the
// answers (a mode, the palette, the surface, a stale read-back map) or the
// place the map was made for (the viewport) leaves it unusable until the
// walk asks for it again.  Only under GraphDrawing.
class DriverTouching {
 public:
  void Forget() { valid_ = false; }
  void Opened() { made_ = false; }
  void Closed() {
    valid_ = false;
    map_.Clear();
  }
  // Screen places [x..x + n) of row y were written.
  void Wrote(int32_t x, int32_t y, int32_t n);
  Touching Enter(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, TouchingView& view);
  bool Prepare(int32_t lox, int32_t loy, int32_t hix, int32_t hiy);
  void Waited(uint64_t steps) { waited_ += steps; }

 private:
  struct Key {
    int32_t x, y, w, h, surfaceW, surfaceH;
    bool clip;
    bool operator==(const Key&) const = default;
  };
  static Key Now() {
    return {StartXViewPort, StartYViewPort, ViewWidth, ViewHeight, BackBuffer.Width, BackBuffer.Height, ClipPixels};
  }
  static uint16_t ScreenValue(int32_t x, int32_t y);

  TouchingMap map_;
  Key key_{};
  bool valid_ = false;
  bool made_ = false;  // a map was made since the window opened
  uint64_t waited_ = 0;
};

DriverTouching touching;

// What each back-buffer pixel reads back as, a byte a pixel: GetPixel's
// answer without the four-byte pixel or the search, from memory a quarter
// the size, which the walk's reads keep in the processor's caches.  Every
// write to the back buffer keeps it in step.  A palette change makes it
// stale: reads then map the pixels themselves, until enough of them have
// come to make rebuilding the whole map worth while.
class ReadBackMap {
 public:
  void Create(int32_t w, int32_t h) {
    cells_.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
    Forget();
  }
  void Destroy() {
    Forget();
    std::vector<uint8_t>().swap(cells_);
  }
  void Forget() {
    stale_ = true;
    staleReads_ = 0;
    FreshReadBack = nullptr;
    touching.Forget();
  }

  void Wrote(std::size_t i, uint32_t pixel) {
    if (!stale_) cells_[i] = static_cast<uint8_t>(nearest.Find(pixel));
  }
  void Wrote(std::size_t i, std::size_t n, uint32_t pixel) {
    if (!stale_) std::fill_n(cells_.begin() + static_cast<std::ptrdiff_t>(i), n, static_cast<uint8_t>(nearest.Find(pixel)));
  }

  uint16_t Read(std::size_t i) {
    if (stale_) [[unlikely]]
      return ReadStale(i);
    return cells_[i];
  }
  bool Fresh() const { return !stale_; }
  uint16_t FreshCell(std::size_t i) const { return cells_[i]; }

 private:
  uint16_t ReadStale(std::size_t i) {
    if (++staleReads_ < cells_.size() / 8) return nearest.Find(BackBuffer.Pixels[i]);
    for (std::size_t j = 0; j < cells_.size(); ++j) cells_[j] = static_cast<uint8_t>(nearest.Find(BackBuffer.Pixels[j]));
    stale_ = false;
    FreshReadBack = cells_.data();
    return cells_[i];
  }

  // Entries fit a byte: no palette here has more than 256.
  static_assert(std::tuple_size_v<decltype(DefaultColors)> <= 256);
  std::vector<uint8_t> cells_;
  bool stale_ = true;
  std::size_t staleReads_ = 0;
};

ReadBackMap readBack;

inline std::size_t PixelIndex(int32_t x, int32_t y) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(BackBuffer.Width) + static_cast<std::size_t>(x);
}

void SetPixelBoth(int32_t x, int32_t y, uint32_t pixel) {
  if (!OnSurface(x, y)) return;
  if (DrawToBitmap) {
    BackPixel(x, y) = pixel;
    readBack.Wrote(PixelIndex(x, y), pixel);
    touching.Wrote(x, y, 1);
  }
  if (DrawToScreen) backend::DrawPixel(x, y, pixel);
}

// Orders a..b and clips it to lo..hi; false when nothing is left.
bool ClipRange(int32_t& a, int32_t& b, int32_t lo, int32_t hi) {
  if (a > b) std::swap(a, b);
  a = std::max(a, lo);
  b = std::min(b, hi);
  return a <= b;
}

// A horizontal or vertical span in viewport coordinates, clipped to the
// viewport when clipping is on and always to the surface.  Spans of up to
// three pixels go pixel by pixel through DirectPutPixel, so they honour the
// write mode; longer ones are drawn whole in CurrentColor.
void Span(int16_t x1, int16_t y1, int16_t x2, int16_t y2) {
  int32_t ax = Translate(x1, StartXViewPort), bx = Translate(x2, StartXViewPort);
  int32_t ay = Translate(y1, StartYViewPort), by = Translate(y2, StartYViewPort);
  if (ClipPixels && !(ClipRange(ax, bx, StartXViewPort, StartXViewPort + ViewWidth) &&
                      ClipRange(ay, by, StartYViewPort, StartYViewPort + ViewHeight)))
    return;
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning || !ClipRange(ax, bx, 0, BackBuffer.Width - 1) ||
      !ClipRange(ay, by, 0, BackBuffer.Height - 1))
    return;
  if ((bx - ax) + (by - ay) < 3) {
    for (int32_t y = ay; y <= by; ++y)
      for (int32_t x = ax; x <= bx; ++x) DirectPutPixel(static_cast<int16_t>(x), static_cast<int16_t>(y));
    return;
  }
  const RGBRec* c = PalEntry(CurrentColor);
  if (!c) return;
  const uint32_t pixel = EntryPixel(*c);
  if (ay != by) {
    for (int32_t y = ay; y <= by; ++y) SetPixelBoth(ax, y, pixel);
    return;
  }
  if (DrawToBitmap) {
    std::fill(&BackPixel(ax, ay), &BackPixel(bx, ay) + 1, pixel);
    readBack.Wrote(PixelIndex(ax, ay), static_cast<std::size_t>(bx - ax + 1), pixel);
    touching.Wrote(ax, ay, bx - ax + 1);
  }
  if (DrawToScreen) backend::DrawHLine(ax, bx, ay, pixel);
}

// The drivers' common fallback: pixel by pixel through DirectPutPixelClip.
void SpanDefault(int16_t x1, int16_t y1, int16_t x2, int16_t y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  for (int32_t y = y1; y <= y2; ++y)
    for (int32_t x = x1; x <= x2; ++x)
      DirectPutPixelClip(Translate(static_cast<int16_t>(x), StartXViewPort),
                         Translate(static_cast<int16_t>(y), StartYViewPort));
}

// The palette entry a palette call may use; sets the result code when none.
RGBRec* PaletteSlot(int16_t colour) {
  if (DirectColor || colour < 0 || static_cast<uint32_t>(colour) >= PaletteBound() || !GraphRunning) {
    _GraphResult = result::Failure;
    return nullptr;
  }
  return &Pal[static_cast<std::size_t>(colour)];
}

}  // namespace

inline uint16_t DriverTouching::ScreenValue(int32_t x, int32_t y) {
  if (ClipPixels && OutsideViewport(x, y)) return 0;
  if (OnSurface(x, y)) return readBack.FreshCell(PixelIndex(x, y));
  return nearest.Find(ReadPixel(x, y));
}

void DriverTouching::Wrote(int32_t x, int32_t y, int32_t n) {
  if (!valid_) return;
  // Made for another viewport: what it holds no longer says what a probe
  // would answer, and a write now would mix the two.
  if (!(key_ == Now())) {
    valid_ = false;
    return;
  }
  map_.Changed(x, y, x + n - 1, y, [](int32_t px, int32_t py) { return ScreenValue(px, py); });
}

Touching DriverTouching::Enter(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, TouchingView& view) {
  if (GetPixel != GetPixel16Win32GUI) return Touching::Missing;
  if (!GraphDrawing.TryLockShort()) return Touching::Busy;
  const Key now = Now();
  if (!valid_ || !(key_ == now) || !map_.Covers(lox + now.x, loy + now.y, hix + now.x, hiy + now.y)) {
    GraphDrawing.UnlockShort();
    return Touching::Missing;
  }
  view.cells = map_.Cells();
  view.stride = map_.Width();
  view.offset = static_cast<std::ptrdiff_t>(now.y - map_.Y0()) * map_.Width() + (now.x - map_.X0());
  return Touching::Ready;
}

bool DriverTouching::Prepare(int32_t lox, int32_t loy, int32_t hix, int32_t hiy) {
  std::lock_guard lock(GraphDrawing);
  if (GetPixel != GetPixel16Win32GUI || !GraphRunning || !readBack.Fresh()) return false;
  const Key now = Now();
  if (valid_ && key_ == now && map_.Covers(lox + now.x, loy + now.y, hix + now.x, hiy + now.y)) return true;
  // Room to grow, so that a launch circle that widens step by step asks
  // for a new map only now and then.
  const int32_t slackX = std::max<int32_t>(64, (hix - lox) / 4), slackY = std::max<int32_t>(64, (hiy - loy) / 4);
  const int32_t x0 = lox + now.x - slackX, y0 = loy + now.y - slackY;
  const int32_t w = hix - lox + 1 + 2 * slackX, h = hiy - loy + 1 + 2 * slackY;
  // A map that was lost waits until the steps taken without it pay for it;
  // one that is only too small for a wider circle is made again at once.
  const bool grows = valid_ && key_ == now;
  if (made_ && !grows && waited_ < static_cast<uint64_t>(w) * static_cast<uint64_t>(h) / 4 * TouchingPatience)
    return false;
  map_.Build(x0, y0, w, h, [](int32_t px, int32_t py) { return ScreenValue(px, py); });
  key_ = now;
  valid_ = made_ = true;
  waited_ = 0;
  return true;
}

Touching EnterTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy, TouchingView& view) {
  return touching.Enter(lox, loy, hix, hiy, view);
}
void LeaveTouching() { GraphDrawing.UnlockShort(); }
bool PrepareTouching(int32_t lox, int32_t loy, int32_t hix, int32_t hiy) {
  return touching.Prepare(lox, loy, hix, hiy);
}
void TouchingWaited(uint64_t steps) {
  std::lock_guard lock(GraphDrawing);
  touching.Waited(steps);
}
uint32_t TouchingPatience = 1;

const std::array<RGBRec, 256> DefaultColors = MakeDefaultColors();

const uint8_t* FreshReadBack = nullptr;

void PixelMapsCreated(int32_t w, int32_t h) {
  readBack.Create(w, h);
  touching.Opened();
}
void PixelMapsDestroyed() {
  readBack.Destroy();
  touching.Closed();
}
std::vector<RGBRec> Pal;

void InitWin32GUI16Colors() {
  {
    // Every mode set changes what a search looks at: a new table, or, while
    // the window still runs, the old table under a new MaxColor.
    std::lock_guard lock(GraphDrawing);
    nearest.Forget();
    readBack.Forget();
    if (GraphRunning) return;
    const auto n = std::clamp<std::ptrdiff_t>(MaxColor, 0, DefaultColors.size());
    Pal.assign(DefaultColors.begin(), DefaultColors.begin() + n);
  }
  WindowStart();
}

void PutPixel16Win32GUI(int16_t x, int16_t y, uint16_t colour) {
  x = Translate(x, StartXViewPort);
  y = Translate(y, StartYViewPort);
  if (ClipPixels && OutsideViewport(x, y)) return;
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) return;
  if (const RGBRec* c = PalEntry(colour)) SetPixelBoth(x, y, EntryPixel(*c));
}

namespace {

// GetPixel's general way, under the lock taken in full.
[[gnu::noinline]] uint16_t ReadLocked(int32_t x, int32_t y) {
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) {
    _GraphResult = result::Failure;
    return 0;
  }
  if (!OnSurface(x, y)) return nearest.Find(ReadPixel(x, y));
  return readBack.Read(PixelIndex(x, y));
}

}  // namespace

uint16_t GetPixel16Win32GUI(int16_t x, int16_t y) {
  x = Translate(x, StartXViewPort);
  y = Translate(y, StartYViewPort);
  if (ClipPixels && OutsideViewport(x, y)) return 0;
  // The walk's every probe comes here: the usual case costs no call.
  if (GraphDrawing.TryLockShort()) {
    if (GraphRunning && readBack.Fresh() && OnSurface(x, y)) [[likely]] {
      const uint16_t entry = readBack.FreshCell(PixelIndex(x, y));
      GraphDrawing.UnlockShort();
      return entry;
    }
    GraphDrawing.UnlockShort();
  }
  return ReadLocked(x, y);
}

void DirectPutPixel16Win32GUI(int16_t x, int16_t y) {
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) return;
  const RGBRec* c = PalEntry(CurrentColor);
  if (!c) return;
  uint32_t pixel = EntryPixel(*c);
  switch (CurrentWriteMode) {
    case 1: pixel ^= ReadPixel(x, y); break;
    case 2: pixel |= ReadPixel(x, y); break;
    case 3: pixel &= ReadPixel(x, y); break;
    case 4: pixel = EntryPixel(*PalEntry(static_cast<uint16_t>(~CurrentColor))); break;
    default: break;
  }
  SetPixelBoth(x, y, pixel);
}

void DirectPutPixelClip(int16_t x, int16_t y) {
  if (ClipPixels && OutsideViewport(x, y)) return;
  DirectPutPixel(x, y);
}

uint16_t GetPaletteEntry(uint16_t red, uint16_t green, uint16_t blue) {
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) return 0;
  return NearestEntry(red, green, blue);
}

void SetRGBPaletteWin32GUI(int16_t colour, int16_t red, int16_t green, int16_t blue) {
  std::lock_guard lock(GraphDrawing);
  RGBRec* entry = PaletteSlot(colour);
  // Setting an entry to what it holds (as every mode's opening does for the
  // background) leaves what pixels read back as.
  if (!entry || (entry->Red == red && entry->Green == green && entry->Blue == blue)) return;
  *entry = {red, green, blue};
  nearest.Forget();
  readBack.Forget();
}

void GetRGBPaletteWin32GUI(int16_t colour, int16_t& red, int16_t& green, int16_t& blue) {
  std::lock_guard lock(GraphDrawing);
  if (const RGBRec* entry = PaletteSlot(colour)) {
    red = entry->Red;
    green = entry->Green;
    blue = entry->Blue;
  }
}

// A window has a single page.
void SetActiveWin32GUI(uint16_t) {}
void SetVisualWin32GUI(uint16_t) {}

void HLine16Win32GUI(int16_t x, int16_t x2, int16_t y) { Span(x, y, x2, y); }
void VLine16Win32GUI(int16_t x, int16_t y, int16_t y2) { Span(x, y, x, y2); }
void HLineDefault(int16_t x, int16_t x2, int16_t y) { SpanDefault(x, y, x2, y); }
void VLineDefault(int16_t x, int16_t y, int16_t y2) { SpanDefault(x, y, x, y2); }

void SetBkColor(uint16_t colour) {
  ViewPortType saved;
  GetViewSettings(saved);
  SetViewPort(0, 0, MaxX, MaxY, false);
  CurrentBkColor = colour;
  // The background is palette entry 0, redefined.
  if (!DirectColor && colour < DefaultColors.size()) {
    const RGBRec& c = DefaultColors[colour];
    SetRGBPalette(0, c.Red, c.Green, c.Blue);
  }
  SetViewPort(saved.x1, saved.y1, saved.x2, saved.y2, saved.Clip);
}

void ClearViewPortDefault() {
  CurrentX = CurrentY = 0;
  const uint16_t colour = CurrentColor;
  const int16_t writeMode = CurrentWriteMode;
  const LineSettingsType line = LineInfo;
  CurrentColor = CurrentBkColor;
  CurrentWriteMode = 0;
  LineInfo = {0, 0, 1};
  for (int32_t row = 0; row <= ViewHeight; ++row) HLine(0, ViewWidth, static_cast<int16_t>(row));
  LineInfo = line;
  CurrentWriteMode = writeMode;
  CurrentColor = colour;
}

}  // namespace graph
