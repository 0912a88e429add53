// Pictures to image files: one small interface over each platform's
// encoders (libpng on Linux, the Windows Imaging Component on Windows).
// The bytes it makes go to an output through tools/outfile.h.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// width × height pixels as 0x00RRGGBB, row after row from the top.
struct Picture {
  const uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0;
};

enum class ImageFormat { Png };

// An empty string when this build writes the format, otherwise why not;
// asked before a run so that it fails before the work, not after.
std::string ImageSupport(ImageFormat format);

// The picture encoded whole into bytes; an empty string or a one-line
// reason.
std::string EncodeImage(ImageFormat format, const Picture& picture, std::string& bytes);

namespace detail {
// Each platform's encoders.
std::string PngSupport();
std::string EncodePng(const Picture& picture, std::string& bytes);
}  // namespace detail

}  // namespace tools
