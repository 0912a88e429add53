// Writing a surface of 0x00RRGGBB pixels as a PNG file.
#pragma once

#include <cstdint>
#include <string>

namespace tools {

// Writes width × height pixels to path through a temporary file beside it,
// renamed into place only when complete.  Returns an empty string on
// success, otherwise a one-line reason.
std::string WritePng(const std::string& path, const uint32_t* pixels, int32_t width, int32_t height);

// Writes text to path the same way.
std::string WriteTextFile(const std::string& path, const std::string& text);

// Whether a file can be created at path (tried with a temporary beside it,
// removed at once); an empty string when it can, else the reason.
std::string CheckWritable(const std::string& path);

}  // namespace tools
