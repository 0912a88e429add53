// GIF films read back with giflib's own decoder: the frames, their
// rectangles, the loop, and the picture that the frames add up to.
#include <gtest/gtest.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

#include "io/giffile.h"

namespace {

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

void Decode(Decoded& d, const std::string& bytes) {
  d.bytes = bytes;
  int err = 0;
  d.gif = DGifOpen(&d, ReadBytes, &err);
  ASSERT_NE(d.gif, nullptr) << GifErrorString(err);
  ASSERT_EQ(DGifSlurp(d.gif), GIF_OK) << GifErrorString(d.gif->Error);
}

// The picture after every frame so far, drawn over one another.
std::vector<uint8_t> Compose(const GifFileType* gif, int upTo) {
  std::vector<uint8_t> canvas(static_cast<size_t>(gif->SWidth * gif->SHeight), 0);
  for (int i = 0; i <= upTo; ++i) {
    const SavedImage& im = gif->SavedImages[i];
    for (int y = 0; y < im.ImageDesc.Height; ++y)
      for (int x = 0; x < im.ImageDesc.Width; ++x)
        canvas[static_cast<size_t>((im.ImageDesc.Top + y) * gif->SWidth + im.ImageDesc.Left + x)] =
            im.RasterBits[y * im.ImageDesc.Width + x];
  }
  return canvas;
}

std::array<io::Rgb, 256> Greys() {
  std::array<io::Rgb, 256> p;
  for (int i = 0; i < 256; ++i) p[static_cast<size_t>(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
  return p;
}

TEST(GifFilm, FramesStoreOnlyWhatChangedAndAddUpToThePicture) {
  constexpr int W = 200, H = 120;
  io::GifFilm film(W, H, Greys());
  std::vector<uint8_t> picture(W * H, 0);
  picture[60 * W + 100] = 7;
  std::vector<std::vector<uint8_t>> shown;
  ASSERT_TRUE(film.AddFrame(picture.data(), 4));
  shown.push_back(picture);
  // Two pixels far apart: one rectangle spanning both.
  picture[10 * W + 20] = 200;
  picture[30 * W + 150] = 255;
  ASSERT_TRUE(film.AddFrame(picture.data(), 4));
  shown.push_back(picture);
  // Nothing new: still a frame, of one pixel.
  ASSERT_TRUE(film.AddFrame(picture.data(), 4));
  shown.push_back(picture);
  // A change at the far corner only.
  picture[(H - 1) * W + W - 1] = 1;
  ASSERT_TRUE(film.AddFrame(picture.data(), 150));
  shown.push_back(picture);
  EXPECT_EQ(film.Frames(), 4);
  const std::string bytes = film.Finish();
  ASSERT_FALSE(bytes.empty()) << film.Error();

  Decoded d;
  Decode(d, bytes);
  ASSERT_EQ(d.gif->ImageCount, 4);
  EXPECT_EQ(d.gif->SWidth, W);
  EXPECT_EQ(d.gif->SHeight, H);
  ASSERT_NE(d.gif->SColorMap, nullptr);
  ASSERT_EQ(d.gif->SColorMap->ColorCount, 256);
  EXPECT_EQ(d.gif->SColorMap->Colors[200].Red, 200);
  EXPECT_EQ(d.gif->SColorMap->Colors[200].Green, 55);
  EXPECT_EQ(d.gif->SColorMap->Colors[200].Blue, 100);

  const GifImageDesc* desc[4];
  for (int i = 0; i < 4; ++i) desc[i] = &d.gif->SavedImages[i].ImageDesc;
  EXPECT_EQ(std::vector<int>({desc[0]->Left, desc[0]->Top, desc[0]->Width, desc[0]->Height}),
            std::vector<int>({0, 0, W, H}));
  EXPECT_EQ(std::vector<int>({desc[1]->Left, desc[1]->Top, desc[1]->Width, desc[1]->Height}),
            std::vector<int>({20, 10, 131, 21}));
  EXPECT_EQ(desc[2]->Width * desc[2]->Height, 1);
  EXPECT_EQ(std::vector<int>({desc[3]->Left, desc[3]->Top, desc[3]->Width, desc[3]->Height}),
            std::vector<int>({W - 1, H - 1, 1, 1}));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Compose(d.gif, i), shown[static_cast<size_t>(i)]) << "frame " << i;

  // Each frame drawn over the one before it, with its own time.
  GraphicsControlBlock gcb;
  ASSERT_EQ(DGifSavedExtensionToGCB(d.gif, 3, &gcb), GIF_OK);
  EXPECT_EQ(gcb.DelayTime, 150);
  EXPECT_EQ(gcb.DisposalMode, DISPOSE_DO_NOT);
  EXPECT_EQ(gcb.TransparentColor, NO_TRANSPARENT_COLOR);
  ASSERT_EQ(DGifSavedExtensionToGCB(d.gif, 0, &gcb), GIF_OK);
  EXPECT_EQ(gcb.DelayTime, 4);

  // The loop block before the first frame: repeat for ever (count 0).
  const SavedImage& first = d.gif->SavedImages[0];
  bool loops = false;
  for (int i = 0; i + 1 < first.ExtensionBlockCount; ++i) {
    const ExtensionBlock& e = first.ExtensionBlocks[i];
    const ExtensionBlock& next = first.ExtensionBlocks[i + 1];
    if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 && std::memcmp(e.Bytes, "NETSCAPE2.0", 11) == 0)
      loops = next.ByteCount == 3 && next.Bytes[0] == 1 && next.Bytes[1] == 0 && next.Bytes[2] == 0;
  }
  EXPECT_TRUE(loops);
}

TEST(GifFilm, ALongFilmOfSmallChangesStaysSmall) {
  constexpr int W = 640, H = 480, Frames = 200;
  io::GifFilm film(W, H, Greys());
  std::vector<uint8_t> picture(W * H, 0);
  // A few pixels a frame, close together, as an aggregate grows.
  uint32_t noise = 12345;
  int x = W / 2, y = H / 2;
  for (int f = 0; f < Frames; ++f) {
    for (int k = 0; k < 5; ++k) {
      noise = noise * 1103515245u + 12345u;
      x = std::clamp(x + static_cast<int>(noise >> 28) % 3 - 1, 0, W - 1);
      y = std::clamp(y + static_cast<int>(noise >> 24 & 3) % 3 - 1, 0, H - 1);
      picture[y * W + x] = static_cast<uint8_t>(noise >> 16);
    }
    ASSERT_TRUE(film.AddFrame(picture.data(), 4));
  }
  const std::string bytes = film.Finish();
  ASSERT_FALSE(bytes.empty());
  // Frames of the whole picture, even at LZW's best, cost hundreds of bytes
  // each; stored rectangles of a few pixels cost tens.
  io::GifFilm whole(W, H, Greys());
  std::vector<uint8_t> blank(W * H, 0);
  for (int f = 0; f < 20; ++f) {
    blank[0] = static_cast<uint8_t>(f);
    blank[W * H - 1] = static_cast<uint8_t>(f);
    ASSERT_TRUE(whole.AddFrame(blank.data(), 4));
  }
  const size_t wholeFrameBytes = whole.Finish().size() / 20;
  EXPECT_LT(bytes.size(), Frames * wholeFrameBytes / 10) << bytes.size() << " vs " << wholeFrameBytes << " a frame";
  Decoded d;
  Decode(d, bytes);
  EXPECT_EQ(d.gif->ImageCount, Frames);
  EXPECT_EQ(Compose(d.gif, Frames - 1), picture);
}

TEST(GifFilm, AFilmNeedsAFrame) {
  io::GifFilm film(10, 10, Greys());
  EXPECT_TRUE(film.Finish().empty());
  EXPECT_FALSE(film.Error().empty());
}

}  // namespace
