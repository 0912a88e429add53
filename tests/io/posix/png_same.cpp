// png_same A B: exit 0 when two PNG files decode to the same RGB picture,
// else 1 with the first difference; for comparing builds' pictures.
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

bool Decode(const char* path, png_image& image, std::vector<unsigned char>& rgb) {
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) {
    std::fprintf(stderr, "%s: %s\n", path, image.message);
    return false;
  }
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    std::fprintf(stderr, "%s: %s\n", path, image.message);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: png_same A B\n");
    return 2;
  }
  png_image a, b;
  std::vector<unsigned char> pa, pb;
  if (!Decode(argv[1], a, pa) || !Decode(argv[2], b, pb)) return 1;
  if (a.width != b.width || a.height != b.height) {
    std::fprintf(stderr, "sizes differ: %ux%u and %ux%u\n", a.width, a.height, b.width, b.height);
    return 1;
  }
  for (size_t i = 0; i < pa.size(); ++i) {
    if (pa[i] != pb[i]) {
      const size_t pixel = i / 3;
      std::fprintf(stderr, "pixel (%zu, %zu) differs\n", pixel % a.width, pixel / a.width);
      return 1;
    }
  }
  std::printf("%ux%u, the same pixels\n", a.width, a.height);
  return 0;
}
