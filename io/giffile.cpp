#include "io/giffile.h"

#include <algorithm>
#include <initializer_list>
#include <new>

namespace io {

namespace {

// Palette indices of 8 bits: codes 0-255 are the pixels themselves, then
// the clear and end codes, then the strings the encoder learns.
constexpr uint32_t kClear = 256, kEnd = 257, kFirstFree = 258;
constexpr uint32_t kCodeLimit = 4096;  // 12-bit codes
constexpr int kStartBits = 9;

// The dictionary: open addressing over twice as many slots as codes, each
// slot the string's key (its prefix code and last index, 20 bits) above
// its code (12 bits).  No key is all ones: the prefix 4095 never extends.
constexpr size_t kSlots = 8192;
constexpr uint32_t kEmptySlot = 0xFFFFFFFFu;

size_t SlotOf(uint32_t key) { return (key * 2654435761u) >> 19; }

// Codes of growing width packed least significant bit first into blocks
// of at most 255 bytes, each after its length.
class CodeBlocks {
 public:
  explicit CodeBlocks(std::string& out) : out_(out) {}
  void Put(uint32_t code, int bits) {
    pending_ |= code << pendingBits_;
    pendingBits_ += bits;
    while (pendingBits_ >= 8) {
      Byte(static_cast<uint8_t>(pending_));
      pending_ >>= 8;
      pendingBits_ -= 8;
    }
  }
  void End() {
    if (pendingBits_ > 0) Byte(static_cast<uint8_t>(pending_));
    Flush();
    out_.push_back('\0');
  }

 private:
  void Byte(uint8_t b) {
    block_[used_++] = b;
    if (used_ == 255) Flush();
  }
  void Flush() {
    if (used_ == 0) return;
    out_.push_back(static_cast<char>(used_));
    out_.append(reinterpret_cast<const char*>(block_), used_);
    used_ = 0;
  }

  std::string& out_;
  uint32_t pending_ = 0;
  int pendingBits_ = 0;
  uint8_t block_[255];
  size_t used_ = 0;
};

void Put(std::string& out, std::initializer_list<uint8_t> bytes) {
  for (const uint8_t b : bytes) out.push_back(static_cast<char>(b));
}

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8 & 0xFF));
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

// The image data of one rectangle of palette indices (width × height, rows
// stride apart): the LZW code size, the codes in blocks of at most 255
// bytes, and the empty block that ends them, appended to out.  table is
// the dictionary, kept by the film so that many small frames ask for it once.
void AppendLzw(std::string& out, const uint8_t* first, size_t stride, int32_t width, int32_t height,
               std::vector<uint32_t>& table) {
  out.push_back(8);  // the code size of 256 colours
  CodeBlocks codes(out);
  table.resize(kSlots);
  int bits = kStartBits;
  uint32_t next = kFirstFree;
  const auto restart = [&] {
    codes.Put(kClear, bits);
    std::fill(table.begin(), table.end(), kEmptySlot);
    bits = kStartBits;
    next = kFirstFree;
  };
  restart();
  uint32_t prefix = first[0];
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* row = first + static_cast<size_t>(y) * stride;
    for (int32_t x = y == 0 ? 1 : 0; x < width; ++x) {
      const uint32_t key = prefix << 8 | row[x];
      size_t slot = SlotOf(key);
      while (table[slot] != kEmptySlot && table[slot] >> 12 != key) slot = (slot + 1) % kSlots;
      if (table[slot] != kEmptySlot) {
        prefix = table[slot] & 0xFFF;
        continue;
      }
      codes.Put(prefix, bits);
      if (next == kCodeLimit) {
        // The dictionary is full: start it again rather than code the rest
        // with strings learnt from what came long before.
        restart();
      } else {
        table[slot] = key << 12 | next;
        // Codes widen once the table holds one that needs the extra bit;
        // a decoder, which learns each string a code later, widens there too.
        if (++next > (1u << bits) && bits < 12) ++bits;
      }
      prefix = row[x];
    }
  }
  codes.Put(prefix, bits);
  // A decoder learns a string from that last code too, and may widen for
  // it: the end code comes at the width it then reads.
  if (next < kCodeLimit && ++next > (1u << bits) && bits < 12) ++bits;
  codes.Put(kEnd, bits);
  codes.End();
}

}  // namespace

Status GifFrameFits(int64_t width, int64_t height) {
  if (width < 1 || height < 1 || width > kGifMaxSide || height > kGifMaxSide)
    return "a GIF frame is 1 to " + std::to_string(kGifMaxSide) + " pixels a side, not " + std::to_string(width) +
           " x " + std::to_string(height);
  return {};
}

GifFilm::GifFilm(int32_t width, int32_t height, const std::array<Rgb, 256>& palette)
    : width_(width), height_(height), palette_(palette) {
  failed_ = GifFrameFits(width, height);
}

Status GifFilm::AddFrame(const uint8_t* indices, int delay) {
  if (!failed_.ok()) return failed_;
  try {
    if (frames_ == 0) {
      bytes_ = "GIF89a";
      Put16(bytes_, static_cast<uint32_t>(width_));
      Put16(bytes_, static_cast<uint32_t>(height_));
      // A global table of 256 colours of 8 bits each; background 0; square
      // pixels.
      Put(bytes_, {0xF7, 0, 0});
      for (const Rgb& c : palette_) Put(bytes_, {c.r, c.g, c.b});
      // The application block that makes viewers loop the film for ever
      // (a loop count of 0).
      Put(bytes_, {0x21, 0xFF, 11});
      bytes_ += "NETSCAPE2.0";
      Put(bytes_, {3, 1, 0, 0, 0});
    }
    const size_t size = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    std::array<int32_t, 4> box{0, 0, width_, height_};
    if (frames_ > 0) {
      box = Changed(previous_.data(), indices, width_, height_);
      // A frame needs at least one pixel: an unchanged one keeps its time.
      if (box[2] == 0) box = {0, 0, 1, 1};
    }
    // Each frame's time, drawn over the frames before it (disposal 1: left
    // in place), no transparent colour.
    Put(bytes_, {0x21, 0xF9, 4, 1 << 2});
    Put16(bytes_, static_cast<uint32_t>(std::clamp(delay, 0, 65535)));
    Put(bytes_, {0, 0, 0x2C});
    for (const int32_t v : box) Put16(bytes_, static_cast<uint32_t>(v));
    Put(bytes_, {0});  // no local colour table, not interlaced
    const uint8_t* corner = indices + static_cast<size_t>(box[1]) * static_cast<size_t>(width_) + static_cast<size_t>(box[0]);
    AppendLzw(bytes_, corner, static_cast<size_t>(width_), box[2], box[3], table_);
    previous_.assign(indices, indices + size);
  } catch (const std::bad_alloc&) {
    failed_ = "not enough memory for frame " + std::to_string(frames_ + 1) + " of the film";
    return failed_;
  }
  ++frames_;
  return {};
}

Status GifFilm::Finish(std::string& bytes) {
  if (!failed_.ok()) return failed_;
  if (frames_ == 0) return "the GIF has no frame";
  try {
    bytes_.push_back('\x3B');
  } catch (const std::bad_alloc&) {
    return "not enough memory for the end of the film";
  }
  bytes = std::move(bytes_);
  bytes_.clear();
  failed_ = "the film is already finished";
  return {};
}

}  // namespace io
