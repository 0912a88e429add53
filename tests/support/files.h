// A file's whole content, for tests that compare what a program wrote.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace testsupport {

// The bytes of the file at path; empty when it cannot be read.
inline std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace testsupport
