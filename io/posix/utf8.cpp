// The command line and standard error as they are: a POSIX system hands a
// program the bytes of its names, and a terminal shows UTF-8 as such.
#include "io/utf8.h"

#include <cstdio>

namespace io {

void TakeUtf8Arguments(int&, char**&) {}

void WriteError(const std::string& text) { std::fputs(text.c_str(), stderr); }

}  // namespace io
