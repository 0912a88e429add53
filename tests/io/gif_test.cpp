// The project's GIF films read back by decoders nobody here wrote: giflib's,
// ImageMagick's and Pillow's.  Each checks the frame count, the delays, the loop,
// the rectangles and every frame's pixels against the picture at that frame.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "io/giffile.h"

namespace {

using Rect = std::array<int, 4>;  // left, top, width, height

std::array<io::Rgb, 256> Palette(uint32_t seed) {
  std::array<io::Rgb, 256> p;
  std::mt19937 random(seed);
  for (io::Rgb& c : p) c = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
  return p;
}

// A film as it was meant: the picture at each frame and its time.  The
// rectangle each frame should store is worked out here the plain way.
struct Expected {
  int32_t w, h;
  std::array<io::Rgb, 256> palette;
  std::vector<std::vector<uint8_t>> shown;
  std::vector<int> delays;
  std::vector<Rect> rects;
};

class Recorder {
 public:
  Recorder(int32_t w, int32_t h, const std::array<io::Rgb, 256>& palette) : film_(w, h, palette) {
    e_.w = w, e_.h = h, e_.palette = palette;
  }
  void Add(const std::vector<uint8_t>& picture, int delay) {
    const io::Status added = film_.AddFrame(picture.data(), delay);
    ASSERT_TRUE(added.ok()) << added.reason();
    Rect r{0, 0, e_.w, e_.h};
    if (!e_.shown.empty()) {
      int left = e_.w, top = e_.h, right = -1, bottom = -1;
      for (int y = 0; y < e_.h; ++y)
        for (int x = 0; x < e_.w; ++x)
          if (picture[size_t(y) * e_.w + x] != e_.shown.back()[size_t(y) * e_.w + x])
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
      r = right < 0 ? Rect{0, 0, 1, 1} : Rect{left, top, right - left + 1, bottom - top + 1};
    }
    e_.shown.push_back(picture);
    e_.delays.push_back(delay);
    e_.rects.push_back(r);
  }
  std::string Finish() {
    std::string bytes;
    const io::Status done = film_.Finish(bytes);
    EXPECT_TRUE(done.ok()) << done.reason();
    return bytes;
  }
  const Expected& expected() const { return e_; }

 private:
  io::GifFilm film_;
  Expected e_;
};

struct Decoded {
  GifFileType* gif = nullptr;
  std::string bytes;
  size_t at = 0;
  ~Decoded() {
    if (gif) DGifCloseFile(gif, nullptr);
  }
};

int ReadBytes(GifFileType* gif, GifByteType* to, int n) {
  auto* d = static_cast<Decoded*>(gif->UserData);
  const size_t k = std::min(static_cast<size_t>(n), d->bytes.size() - d->at);
  std::memcpy(to, d->bytes.data() + d->at, k);
  d->at += k;
  return static_cast<int>(k);
}

void CheckWithGiflib(const std::string& bytes, const Expected& e) {
  Decoded d;
  d.bytes = bytes;
  int err = 0;
  d.gif = DGifOpen(&d, ReadBytes, &err);
  ASSERT_NE(d.gif, nullptr) << GifErrorString(err);
  ASSERT_EQ(DGifSlurp(d.gif), GIF_OK) << GifErrorString(d.gif->Error);
  EXPECT_EQ(d.at, bytes.size()) << "bytes after the film's end";
  ASSERT_EQ(d.gif->ImageCount, static_cast<int>(e.shown.size()));
  ASSERT_EQ(d.gif->SWidth, e.w);
  ASSERT_EQ(d.gif->SHeight, e.h);
  ASSERT_NE(d.gif->SColorMap, nullptr);
  ASSERT_EQ(d.gif->SColorMap->ColorCount, 256);
  for (int i = 0; i < 256; ++i) {
    const GifColorType& c = d.gif->SColorMap->Colors[i];
    ASSERT_EQ(std::vector<int>({c.Red, c.Green, c.Blue}),
              std::vector<int>({e.palette[i].r, e.palette[i].g, e.palette[i].b}))
        << "colour " << i;
  }
  // The loop block, before the first frame: repeat for ever (count 0).
  const SavedImage& first = d.gif->SavedImages[0];
  bool loops = false;
  for (int i = 0; i + 1 < first.ExtensionBlockCount; ++i) {
    const ExtensionBlock& b = first.ExtensionBlocks[i];
    const ExtensionBlock& next = first.ExtensionBlocks[i + 1];
    if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 && std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0)
      loops = next.ByteCount == 3 && next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0;
  }
  EXPECT_TRUE(loops);
  std::vector<uint8_t> canvas(size_t(e.w) * e.h, 0);
  for (int f = 0; f < d.gif->ImageCount; ++f) {
    SCOPED_TRACE("giflib, frame " + std::to_string(f));
    const SavedImage& im = d.gif->SavedImages[f];
    const GifImageDesc& r = im.ImageDesc;
    ASSERT_EQ(Rect({r.Left, r.Top, r.Width, r.Height}), e.rects[f]);
    EXPECT_EQ(r.ColorMap, nullptr);
    EXPECT_FALSE(r.Interlace);
    GraphicsControlBlock gcb;
    ASSERT_EQ(DGifSavedExtensionToGCB(d.gif, f, &gcb), GIF_OK);
    EXPECT_EQ(gcb.DelayTime, e.delays[f]);
    EXPECT_EQ(gcb.DisposalMode, DISPOSE_DO_NOT);
    EXPECT_EQ(gcb.TransparentColor, NO_TRANSPARENT_COLOR);
    for (int y = 0; y < r.Height; ++y)
      std::copy_n(im.RasterBits + size_t(y) * r.Width, r.Width, canvas.begin() + size_t(r.Top + y) * e.w + r.Left);
    ASSERT_TRUE(canvas == e.shown[f]);
  }
}

std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

std::string Temp(const std::string& name) { return testing::TempDir() + "gif_test." + std::to_string(getpid()) + "." + name; }

// Each frame a decoder wrote as RGB, one after another, against the pixels
// the frames should show.
void ExpectFrames(std::istream& in, const Expected& e, const char* decoder) {
  std::vector<uint8_t> pixels(size_t(e.w) * e.h * 3);
  for (size_t k = 0; k < e.shown.size(); ++k) {
    ASSERT_TRUE(in.read(reinterpret_cast<char*>(pixels.data()), std::streamsize(pixels.size()))) << "frame " << k;
    size_t differ = 0;
    for (size_t i = 0; i < e.shown[k].size(); ++i) {
      const io::Rgb& c = e.palette[e.shown[k][i]];
      differ += pixels[3 * i] != c.r || pixels[3 * i + 1] != c.g || pixels[3 * i + 2] != c.b;
    }
    ASSERT_EQ(differ, 0u) << decoder << ", frame " << k;
  }
}

void CheckWithImageMagick(const std::string& bytes, const Expected& e) {
  const std::string gif = Temp("film.gif"), rgb = Temp("film.rgb");
  std::ofstream(gif, std::ios::binary) << bytes;
  // Canvas, frame rectangle, delay and disposal of every frame.
  std::istringstream frames(Run("identify -format '%W %H %w %h %X %Y %T %D\\n' " + gif + " 2>&1"));
  std::string line;
  size_t f = 0;
  for (; std::getline(frames, line); ++f) {
    ASSERT_LT(f, e.shown.size()) << line;
    int cw, ch, w, h, x, y, delay;
    char dispose[32];
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %d %d %d %d %d %31s", &cw, &ch, &w, &h, &x, &y, &delay, dispose), 8)
        << line;
    EXPECT_EQ(cw, e.w);
    EXPECT_EQ(ch, e.h);
    EXPECT_EQ(Rect({x, y, w, h}), e.rects[f]) << "ImageMagick, frame " << f;
    EXPECT_EQ(delay, e.delays[f]) << "ImageMagick, frame " << f;
    EXPECT_STREQ(dispose, "None") << "ImageMagick, frame " << f;
  }
  ASSERT_EQ(f, e.shown.size());
  EXPECT_NE(Run("identify -verbose '" + gif + "[0]'").find("Iterations: 0"), std::string::npos);
  // Every frame as a viewer shows it, drawn over the ones before.
  ASSERT_EQ(std::system(("convert " + gif + " -coalesce -depth 8 rgb:" + rgb).c_str()), 0);
  std::ifstream in(rgb, std::ios::binary);
  ExpectFrames(in, e, "ImageMagick");
  EXPECT_EQ(in.peek(), EOF) << "more frames than made";
  std::remove(gif.c_str()), std::remove(rgb.c_str());
}

// Pillow, where a python3 has it (Debian's python3-pil).
void CheckWithPillow(const std::string& bytes, const Expected& e) {
  const std::string gif = Temp("pillow.gif"), rgb = Temp("pillow.rgb");
  std::ofstream(gif, std::ios::binary) << bytes;
  std::istringstream lines(Run("for p in python3 /usr/bin/python3; do $p -c 'import PIL' 2>/dev/null && exec $p " +
                               std::string(GIF_PILLOW) + " " + gif + " " + rgb + " 2>&1; done; echo no Pillow"));
  std::string line;
  std::getline(lines, line);
  if (line == "no Pillow") GTEST_SKIP() << "no python3 with Pillow";
  EXPECT_EQ(line, "loop 0");
  size_t f = 0;
  for (; std::getline(lines, line); ++f) {
    ASSERT_LT(f, e.shown.size()) << line;
    int x, y, w, h, delay, dispose;
    ASSERT_EQ(std::sscanf(line.c_str(), "%d %d %d %d %d %d", &x, &y, &w, &h, &delay, &dispose), 6) << line;
    EXPECT_EQ(Rect({x, y, w, h}), e.rects[f]) << "Pillow, frame " << f;
    EXPECT_EQ(delay, e.delays[f]) << "Pillow, frame " << f;
    EXPECT_EQ(dispose, 1) << "Pillow, frame " << f;  // left in place
  }
  ASSERT_EQ(f, e.shown.size());
  std::ifstream in(rgb, std::ios::binary);
  ExpectFrames(in, e, "Pillow");
  std::remove(gif.c_str()), std::remove(rgb.c_str());
}

// ImageMagick's policy on Debian refuses sides beyond 16384 pixels: wider
// films are read by the other two.
void CheckWithAll(const std::string& bytes, const Expected& e) {
  {
    SCOPED_TRACE("giflib");
    CheckWithGiflib(bytes, e);
  }
  if (e.w <= 16384 && e.h <= 16384) {
    SCOPED_TRACE("ImageMagick");
    CheckWithImageMagick(bytes, e);
  }
  SCOPED_TRACE("Pillow");
  CheckWithPillow(bytes, e);
}

TEST(GifFilm, FramesStoreOnlyWhatChangedAndAddUpToThePicture) {
  constexpr int W = 200, H = 120;
  Recorder film(W, H, Palette(1));
  std::vector<uint8_t> picture(W * H, 0);
  picture[60 * W + 100] = 7;
  film.Add(picture, 4);
  // Two pixels far apart: one rectangle spanning both.
  picture[10 * W + 20] = 200;
  picture[30 * W + 150] = 255;
  film.Add(picture, 4);
  // Nothing new: still a frame, of one pixel.
  film.Add(picture, 4);
  // A change at the far corner only, held long.
  picture[(H - 1) * W + W - 1] = 1;
  film.Add(picture, 150);
  const Expected& e = film.expected();
  EXPECT_EQ(e.rects[1], Rect({20, 10, 131, 21}));
  EXPECT_EQ(e.rects[2], Rect({0, 0, 1, 1}));
  EXPECT_EQ(e.rects[3], Rect({W - 1, H - 1, 1, 1}));
  CheckWithAll(film.Finish(), e);
}

// Films of a growing cluster at several sizes, with now and then a block of
// noise (which fills the code table several times over) and an idle frame.
TEST(GifFilm, DecodersAgreeAtSeveralSizes) {
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 3}, {7, 1}, {1, 9}, {97, 61}, {320, 200}};
  for (const auto& [W, H] : sizes) {
    SCOPED_TRACE(std::to_string(W) + " x " + std::to_string(H));
    std::mt19937 random(W * 1000 + H);
    Recorder film(W, H, Palette(W + H));
    std::vector<uint8_t> picture(size_t(W) * H, 0);
    int x = W / 2, y = H / 2;
    for (int f = 0; f < 40; ++f) {
      if (f % 13 == 7) {
        const int bw = 1 + int(random() % W), bh = 1 + int(random() % H);
        const int bx = int(random() % (W - bw + 1)), by = int(random() % (H - bh + 1));
        for (int j = 0; j < bh; ++j)
          for (int i = 0; i < bw; ++i) picture[size_t(by + j) * W + bx + i] = uint8_t(random());
      } else if (f % 11 != 5) {
        for (int k = 0; k < 6; ++k) {
          x = std::clamp(x + int(random() % 3) - 1, 0, W - 1);
          y = std::clamp(y + int(random() % 3) - 1, 0, H - 1);
          picture[size_t(y) * W + x] = uint8_t(random());
        }
      }
      film.Add(picture, f == 39 ? 200 : int(random() % 12));
    }
    CheckWithAll(film.Finish(), film.expected());
  }
}

// Frames of 3400 to 4400 pixels of noise whose code counts, one apart from
// frame to frame, sweep through the point where the 4096 codes run out and
// the table starts again: whichever code falls last before the clear, and
// whichever is the frame's last, decoders read the same pixels.
TEST(GifLzw, TableFillsAndClearsAtEveryCount) {
  constexpr int W = 4400;
  std::mt19937 random(7);
  std::vector<uint8_t> noise(W);
  for (uint8_t& v : noise) v = uint8_t(1 + random() % 255);
  Recorder film(W, 1, Palette(3));
  std::vector<uint8_t> picture(W, 0);
  film.Add(picture, 1);
  for (int n = 3400; n <= W; n += 1) {
    std::copy_n(noise.begin(), n, picture.begin());
    picture[0] = n % 2 ? 1 : 2;  // each frame starts at the left edge
    film.Add(picture, 1);
  }
  CheckWithAll(film.Finish(), film.expected());
}

TEST(GifLzw, OnePixelFrames) {
  Recorder film(1, 1, Palette(4));
  for (const int v : {0, 255, 255, 1, 128, 0}) film.Add(std::vector<uint8_t>{uint8_t(v)}, v % 7);
  CheckWithAll(film.Finish(), film.expected());
}

// One colour over 2800 × 2800 pixels: the strings grow a pixel a code until
// the table fills, mid-frame, and starts again; then stripes of runs of
// every length up to a few hundred.
TEST(GifLzw, RunsOfOneColour) {
  constexpr int W = 2800, H = 2800;
  Recorder film(W, H, Palette(5));
  std::vector<uint8_t> picture(size_t(W) * H, 9);
  film.Add(picture, 3);
  std::string oneColour = film.Finish();
  EXPECT_LT(oneColour.size(), 20000u) << "one colour codes to a few kilobytes";
  CheckWithAll(oneColour, film.expected());

  Recorder stripes(W, H, Palette(5));
  stripes.Add(picture, 3);
  size_t i = 0;
  for (int run = 1; i < picture.size(); run = run % 400 + 1) {
    const uint8_t colour = uint8_t(run * 37);
    for (int k = 0; k < run && i < picture.size(); ++k) picture[i++] = colour;
  }
  stripes.Add(picture, 3);
  CheckWithAll(stripes.Finish(), stripes.expected());
}

// GIF's own limit: 16 bits a side.  Rows and columns of 65535 pixels,
// whole and a single pixel at the far end.
TEST(GifLzw, SidesOf65535) {
  EXPECT_TRUE(io::GifFrameFits(65535, 65535).ok());
  EXPECT_TRUE(io::GifFrameFits(1, 1).ok());
  const std::pair<int64_t, int64_t> refused[] = {{65536, 1}, {1, 65536}, {0, 5}, {5, -1}, {int64_t(1) << 32, 1}};
  for (const auto& [w, h] : refused) {
    const io::Status fits = io::GifFrameFits(w, h);
    EXPECT_FALSE(fits.ok()) << w << " x " << h;
    EXPECT_NE(fits.reason().find("65535"), std::string::npos) << fits.reason();
  }
  std::array<io::Rgb, 256> palette = Palette(6);
  io::GifFilm tooWide(65536, 1, palette);
  const std::vector<uint8_t> row(65536, 1);
  EXPECT_FALSE(tooWide.AddFrame(row.data(), 1).ok());
  std::string bytes;
  EXPECT_FALSE(tooWide.Finish(bytes).ok());
  EXPECT_TRUE(bytes.empty());

  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "65535 x 2" : "2 x 65535");
    const int W = wide ? 65535 : 2, H = wide ? 2 : 65535;
    std::mt19937 random(8);
    Recorder film(W, H, palette);
    std::vector<uint8_t> picture(size_t(W) * H);
    for (uint8_t& v : picture) v = uint8_t(random() % 4);
    film.Add(picture, 2);
    picture.back() ^= 0x80;
    film.Add(picture, 2);
    for (int i = 0; i < 65535; ++i) picture[wide ? size_t(i) : size_t(i) * 2] = uint8_t(random());
    picture[0] = 200, picture[wide ? 65534 : size_t(65534) * 2] = 201;
    film.Add(picture, 2);
    EXPECT_EQ(film.expected().rects[1], Rect({W - 1, H - 1, 1, 1}));
    EXPECT_EQ(film.expected().rects[2], wide ? Rect({0, 0, W, 1}) : Rect({0, 0, 1, H}));
    CheckWithAll(film.Finish(), film.expected());
  }
}

// giflib's own encoder on the same frames: the project's writer may not
// cost more than 5% beyond it, on a growing cluster or on noise.
std::string GiflibFilm(const Expected& e) {
  std::string out;
  int err = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* g, const GifByteType* data, int n) {
        static_cast<std::string*>(g->UserData)->append(reinterpret_cast<const char*>(data), size_t(n));
        return n;
      },
      &err);
  EXPECT_NE(gif, nullptr);
  if (!gif) return out;
  EGifSetGifVersion(gif, true);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) colours[i] = {e.palette[i].r, e.palette[i].g, e.palette[i].b};
  ColorMapObject* map = GifMakeMapObject(256, colours);
  EXPECT_EQ(EGifPutScreenDesc(gif, e.w, e.h, 8, 0, map), GIF_OK);
  GifFreeMapObject(map);
  static const GifByteType kLoop[] = {1, 0, 0};
  EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
  EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
  EGifPutExtensionBlock(gif, 3, kLoop);
  EGifPutExtensionTrailer(gif);
  for (size_t f = 0; f < e.shown.size(); ++f) {
    GraphicsControlBlock gcb{DISPOSE_DO_NOT, false, e.delays[f], NO_TRANSPARENT_COLOR};
    GifByteType ext[4];
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(EGifGCBToExtension(&gcb, ext)), ext);
    const Rect& r = e.rects[f];
    EXPECT_EQ(EGifPutImageDesc(gif, r[0], r[1], r[2], r[3], false, nullptr), GIF_OK);
    for (int y = r[1]; y < r[1] + r[3]; ++y) {
      std::vector<GifPixelType> line(e.shown[f].begin() + size_t(y) * e.w + r[0],
                                     e.shown[f].begin() + size_t(y) * e.w + r[0] + r[2]);
      EXPECT_EQ(EGifPutLine(gif, line.data(), r[2]), GIF_OK);
    }
  }
  EXPECT_EQ(EGifCloseFile(gif, &err), GIF_OK);
  return out;
}

TEST(GifFilm, NoLargerThanGiflibsEncoder) {
  constexpr int W = 640, H = 480;
  Recorder growth(W, H, Palette(9)), noise(64, 64, Palette(9));
  std::vector<uint8_t> picture(W * H, 0), block(64 * 64);
  std::mt19937 random(10);
  int x = W / 2, y = H / 2;
  for (int f = 0; f < 300; ++f) {
    for (int k = 0; k < 5; ++k) {
      x = std::clamp(x + int(random() % 3) - 1, 0, W - 1);
      y = std::clamp(y + int(random() % 3) - 1, 0, H - 1);
      picture[size_t(y) * W + x] = uint8_t(20 + f / 2);
    }
    growth.Add(picture, 4);
    for (uint8_t& v : block) v = uint8_t(random() % (f % 5 == 0 ? 256 : 3));
    noise.Add(block, 4);
  }
  for (Recorder* r : {&growth, &noise}) {
    const std::string ours = r->Finish(), theirs = GiflibFilm(r->expected());
    EXPECT_LE(double(ours.size()), 1.05 * double(theirs.size())) << ours.size() << " against giflib's " << theirs.size();
    CheckWithGiflib(ours, r->expected());
  }
}

TEST(GifFilm, AFilmNeedsAFrameAndEndsOnce) {
  io::GifFilm film(10, 10, Palette(11));
  std::string bytes;
  EXPECT_FALSE(film.Finish(bytes).ok());
  const std::vector<uint8_t> picture(100, 3);
  ASSERT_TRUE(film.AddFrame(picture.data(), 1).ok());
  ASSERT_TRUE(film.Finish(bytes).ok());
  EXPECT_EQ(bytes.back(), '\x3B');
  EXPECT_FALSE(film.AddFrame(picture.data(), 1).ok());
  std::string again;
  EXPECT_FALSE(film.Finish(again).ok());
}

}  // namespace
