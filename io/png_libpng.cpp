// PNG through libpng's simplified interface, into memory.
#include <png.h>

#include <cstring>
#include <vector>

#include "io/image.h"

namespace io::detail {

Status PngSupport() { return {}; }

Status EncodePng(const Picture& picture, std::string& bytes) {
  const size_t n = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height);
  std::vector<uint8_t> rgb(n * 3);
  for (size_t i = 0; i < n; ++i) {
    rgb[3 * i] = static_cast<uint8_t>(picture.pixels[i] >> 16);
    rgb[3 * i + 1] = static_cast<uint8_t>(picture.pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(picture.pixels[i]);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_RGB;
  // Asked once for the size, then written.
  png_alloc_size_t size = 0;
  bool ok = png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr) != 0;
  if (ok) {
    bytes.resize(size);
    ok = png_image_write_to_memory(&image, bytes.data(), &size, 0, rgb.data(), 0, nullptr) != 0;
    bytes.resize(size);
  }
  const std::string why = ok ? std::string() : std::string("PNG encoding failed: ") + image.message;
  png_image_free(&image);
  if (!ok) bytes.clear();
  return why;
}

}  // namespace io::detail
