// The command line from its UTF-16 original, and messages written to a
// console as characters rather than bytes of a code page.
#include "io/utf8.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "io/win32/wide.h"

namespace io {

void TakeUtf8Arguments(int& argc, char**& argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr || count < 1) return;
  // Kept for the program's life: argv points into them.
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  for (int i = 0; i < count; ++i) args.push_back(win32::Utf8(wide[i], wcslen(wide[i])));
  ::LocalFree(wide);
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  argc = count;
  argv = pointers.data();
}

void WriteError(const std::string& text) {
  const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !::GetConsoleMode(h, &mode)) {
    std::fputs(text.c_str(), stderr);
    return;
  }
  // What the C library has buffered comes first.
  std::fflush(stderr);
  const std::wstring w = win32::Wide(text);
  for (size_t done = 0; done < w.size();) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(w.size() - done, 8192));
    if (!::WriteConsoleW(h, w.data() + done, chunk, &n, nullptr) || n == 0) return;
    done += n;
  }
}

}  // namespace io
