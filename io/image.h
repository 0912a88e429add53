// Pictures to image files: one small interface over each platform's
// encoders (libpng on Linux, the Windows Imaging Component on Windows).
// The bytes it makes go to an output through io/outfile.h.
#pragma once

#include <cstdint>
#include <string>

#include "io/status.h"

namespace io {

// width × height pixels as 0x00RRGGBB, row after row from the top.
struct Picture {
  const uint32_t* pixels = nullptr;
  int32_t width = 0, height = 0;
};

enum class ImageFormat { Png };

// Success when this build writes the format, otherwise why not;
// asked before a run so that it fails before the work, not after.
Status ImageSupport(ImageFormat format);

// The picture encoded whole into bytes.
Status EncodeImage(ImageFormat format, const Picture& picture, std::string& bytes);

namespace detail {
// Each platform's encoders.
Status PngSupport();
Status EncodePng(const Picture& picture, std::string& bytes);
}  // namespace detail

}  // namespace io
