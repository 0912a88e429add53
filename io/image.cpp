#include "io/image.h"

namespace io {

Status ImageSupport(ImageFormat format) {
  switch (format) {
    case ImageFormat::Png: return detail::PngSupport();
  }
  return "unknown image format";
}

Status EncodeImage(ImageFormat format, const Picture& picture, std::string& bytes) {
  bytes.clear();
  if (picture.width <= 0 || picture.height <= 0 || !picture.pixels) return "there is no picture to write";
  switch (format) {
    case ImageFormat::Png: return detail::EncodePng(picture, bytes);
  }
  return "unknown image format";
}

}  // namespace io
