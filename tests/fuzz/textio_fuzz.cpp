// The text channel's writer on any sequence of writes, through the plain
// handle writer into a file and into a handle that refuses: what reaches
// the file is exactly what was written, in order, and a refusal stops the
// channel with an error instead of losing bytes silently or looping.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int file = memfd_create("textio_fuzz", 0);
  if (file < 0) std::abort();
  const bool refuse = data[0] & 1;  // a handle that takes nothing
  const bool hookless = (data[0] & 6) == 6;  // an output record without hooks
  sys::TextRec t;
  sys::InOutRes = 0;
  if (hookless) {
    sys::AssignEmpty(t);
    sys::Rewrite(t);
  } else {
    sys::OpenStdIO(t, sys::fmOutput, refuse ? sys::os::Handle{-1} : sys::os::Handle{file});
  }
  if (ftruncate(file, 0) != 0 || lseek(file, 0, SEEK_SET) != 0) std::abort();
  std::string expected;
  for (size_t i = 1; i < size;) {
    const uint8_t op = data[i++];
    switch (op % 4) {
      case 0: {  // a string of the next bytes, up to 63 of them
        const size_t n = std::min<size_t>(op / 4, size - i);
        sys::WriteStr(t, reinterpret_cast<const char*>(data + i), static_cast<int32_t>(n));
        expected.append(reinterpret_cast<const char*>(data + i), n);
        i += n;
        break;
      }
      case 1: {  // a long run of one byte, past the buffer
        const std::string run(static_cast<size_t>(op) * 4, static_cast<char>(op));
        sys::WriteStr(t, run.c_str());
        expected += run;
        break;
      }
      case 2: {
        uint32_t v = 0;
        for (int k = 0; k < 4 && i < size; ++k) v = v << 8 | data[i++];
        sys::WriteDec(t, v);
        expected += std::to_string(v);
        break;
      }
      default:
        sys::WriteLnEnd(t);
        expected += "\n";
        break;
    }
    if (t.Position < 0 || t.Position > t.BufferSize) std::abort();
  }
  if (sys::InOutRes == 0 && t.FlushHook) t.FlushHook(t);
  std::string got(expected.size() + 1, '\0');
  const ssize_t n = pread(file, got.data(), got.size(), 0);
  got.resize(n > 0 ? static_cast<size_t>(n) : 0);
  if (hookless || refuse) {
    // Nothing reaches the file; once a buffer's worth is refused, the
    // channel says so.
    if (!got.empty()) std::abort();
    if (expected.size() > 256 && sys::InOutRes == 0) std::abort();
  } else {
    if (sys::InOutRes != 0 || got != expected) std::abort();
  }
  sys::InOutRes = 0;
  return 0;
}
