#include "tools/pngfile.h"

#ifndef AGG_NO_PNG
#include <png.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace tools {

namespace {

std::string TempName(const std::string& path) { return path + ".part"; }

std::string Reason(const std::string& path) { return "cannot write " + path + ": " + std::strerror(errno); }

// Moves a finished temporary into place, or removes it.
std::string Commit(const std::string& path, bool ok, const std::string& why) {
  const std::string tmp = TempName(path);
#ifdef _WIN32
  // Windows renames only onto a name that is free.
  if (ok) std::remove(path.c_str());
#endif
  if (ok && std::rename(tmp.c_str(), path.c_str()) == 0) return {};
  const std::string reason = ok ? Reason(path) : why;
  std::remove(tmp.c_str());
  return reason;
}

}  // namespace

std::string CheckWritable(const std::string& path) {
  const std::string tmp = TempName(path);
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return Reason(path);
  std::fclose(f);
  std::remove(tmp.c_str());
  return {};
}

std::string WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(TempName(path).c_str(), "wb");
  if (!f) return Reason(path);
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = (std::fclose(f) == 0) && ok;
  return Commit(path, ok, Reason(path));
}

#ifdef AGG_NO_PNG
std::string WritePng(const std::string& path, const uint32_t*, int32_t, int32_t) {
  return "cannot write " + path + ": built without PNG support";
}
#else
std::string WritePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height) {
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (size_t i = 0, n = static_cast<size_t>(width) * static_cast<size_t>(height); i < n; ++i) {
    rgb[3 * i] = static_cast<uint8_t>(pixels[i] >> 16);
    rgb[3 * i + 1] = static_cast<uint8_t>(pixels[i] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(pixels[i]);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const std::string tmp = TempName(path);
  errno = 0;
  const bool ok = png_image_write_to_file(&image, tmp.c_str(), 0, rgb.data(), 0, nullptr) != 0;
  const std::string why = errno ? Reason(path) : "cannot write " + path + ": " + image.message;
  png_image_free(&image);
  return Commit(path, ok, why);
}
#endif

}  // namespace tools
