// UTF-8 inside, UTF-16 at the system's door: every name handed to Windows
// goes through its wide calls, so that no name depends on the code page.
#pragma once

#include <windows.h>

#include <string>

namespace io::win32 {

inline std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

inline std::string Utf8(const wchar_t* w, size_t len) {
  if (len == 0) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
  return s;
}

inline std::string Utf8(const std::wstring& w) { return Utf8(w.data(), w.size()); }

}  // namespace io::win32
