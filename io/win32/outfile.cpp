// Output files on Windows: handles, exclusive temporaries and replace.
#define _CRT_RAND_S
#include <stdlib.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "io/outfile.h"
#include "io/outfile_impl.h"
#include "io/win32/wide.h"

namespace io {

using win32::Utf8;
using win32::Wide;

namespace detail {

void RemoveFileNow(const char* path) { ::DeleteFileW(Wide(path).c_str()); }

std::string RandomHex() {
  char hex[17];
  for (int i = 0; i < 2; ++i) {
    unsigned int v = 0;
    if (rand_s(&v) != 0) v = ::GetTickCount() ^ (::GetCurrentProcessId() << 16);
    std::snprintf(hex + 8 * i, 9, "%08x", v);
  }
  return hex;
}

}  // namespace detail

namespace {

std::string Reason(const std::string& path, DWORD err) {
  wchar_t text[256] = L"";
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, text,
                                   sizeof text / sizeof text[0], nullptr);
  std::string why = Utf8(text, n);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
    why.pop_back();
  if (why.empty()) why = "system error " + std::to_string(err);
  return "cannot write " + path + ": " + why;
}

enum class Kind { Stdout, InPlace, Replace, Folder, Broken };

struct Where {
  Kind kind;
  HANDLE handle = INVALID_HANDLE_VALUE;  // for InPlace: opened already
  DWORD err = 0;
};

Where Classify(const std::string& path) {
  if (path == "-") return {Kind::Stdout};
  const std::wstring name = Wide(path);
  const DWORD attrs = ::GetFileAttributesW(name.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) return {Kind::Folder};
  const HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD err = ::GetLastError();
    if (err == ERROR_FILE_NOT_FOUND) return {Kind::Replace};
    return {Kind::Broken, INVALID_HANDLE_VALUE, err};
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) return {Kind::InPlace, h};
  ::CloseHandle(h);
  return {Kind::Replace};
}

// A file the folder takes, made and at once given up.
DWORD TryFolder(const std::string& folder) {
  const std::string probe = folder + "\\.agg-" + detail::RandomHex() + ".tmp";
  const HANDLE h = ::CreateFileW(Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  ::CloseHandle(h);
  return 0;
}

// The full name, folded to one case as the file system compares names.
std::wstring FullName(const std::string& path) {
  const std::wstring name = Wide(path);
  std::wstring full(MAX_PATH * 4, L'\0');
  const DWORD n = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  full = n > 0 && n < full.size() ? full.substr(0, n) : name;
  for (wchar_t& c : full)
    if (c == L'/') c = L'\\';
  if (!full.empty()) ::CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
  return full;
}

}  // namespace

Status CheckOutput(const std::string& path) {
  if (path.empty()) return "an output file name cannot be empty";
  const Where w = Classify(path);
  switch (w.kind) {
    case Kind::Stdout: return {};
    case Kind::Folder: return "cannot write " + path + ": it is a folder";
    case Kind::Broken: return Reason(path, w.err);
    case Kind::InPlace: ::CloseHandle(w.handle); return {};
    case Kind::Replace: {
      const DWORD err = TryFolder(detail::FolderOf(path));
      return err ? Reason(path, err) : std::string();
    }
  }
  return {};
}

bool SameOutput(const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (a == "-" || b == "-") return false;
  return FullName(a) == FullName(b);
}

Status OutputFile::Open(const std::string& path) {
  Abandon();
  path_ = path;
  error_.clear();
  if (path.empty()) return error_ = "an output file name cannot be empty";
  const Where w = Classify(path);
  switch (w.kind) {
    case Kind::Stdout:
      handle_ = reinterpret_cast<intptr_t>(::GetStdHandle(STD_OUTPUT_HANDLE));
      ownsHandle_ = false;
      return {};
    case Kind::Folder: return error_ = "cannot write " + path + ": it is a folder";
    case Kind::Broken: return error_ = Reason(path, w.err);
    case Kind::InPlace:
      handle_ = reinterpret_cast<intptr_t>(w.handle);
      ownsHandle_ = true;
      return {};
    case Kind::Replace: break;
  }
  target_ = path;
  const std::string folder = detail::FolderOf(path);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = folder + "\\.agg-" + detail::RandomHex() + ".tmp";
    slot_ = detail::RegisterTemporary(temp_);
    // Shared for deletion, so that a console control handler can take it
    // away while it is still open.
    const HANDLE h = ::CreateFileW(Wide(temp_).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<intptr_t>(h);
      ownsHandle_ = true;
      return {};
    }
    const DWORD err = ::GetLastError();
    detail::ForgetTemporary(slot_);
    slot_ = -1;
    temp_.clear();
    if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) return error_ = Reason(path, err);
  }
  return error_ = Reason(path, ERROR_FILE_EXISTS);
}

Status OutputFile::Write(std::string_view bytes) {
  if (!error_.empty()) return error_;
  if (handle_ == -1 || handle_ == 0) return error_ = "cannot write " + path_ + ": not open";
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD done = 0;
    if (!::WriteFile(h, bytes.data(), chunk, &done, nullptr) || done == 0)
      return error_ = Reason(path_, ::GetLastError());
    bytes.remove_prefix(done);
  }
  return {};
}

Status OutputFile::Commit() {
  if (!error_.empty()) {
    Abandon();
    return error_;
  }
  if (handle_ == -1 || handle_ == 0) return "cannot write " + path_ + ": not open";
  const HANDLE h = reinterpret_cast<HANDLE>(handle_);
  handle_ = -1;
  const bool owned = ownsHandle_;
  ownsHandle_ = false;
  if (temp_.empty()) {
    if (owned && !::CloseHandle(h)) return Reason(path_, ::GetLastError());
    return {};
  }
  std::string err;
  if (!::FlushFileBuffers(h)) err = Reason(path_, ::GetLastError());
  ::CloseHandle(h);
  // Replacing keeps the old file's attributes and access rules; a new name
  // is a plain move.
  const std::wstring target = Wide(target_), temp = Wide(temp_);
  if (err.empty() &&
      !(::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES &&
        ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) &&
      !::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    err = Reason(path_, ::GetLastError());
  if (!err.empty()) ::DeleteFileW(temp.c_str());
  detail::ForgetTemporary(slot_);
  slot_ = -1;
  temp_.clear();
  return err;
}

void OutputFile::Abandon() {
  if (handle_ != -1 && ownsHandle_) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  ownsHandle_ = false;
  if (!temp_.empty()) ::DeleteFileW(Wide(temp_).c_str());
  temp_.clear();
  detail::ForgetTemporary(slot_);
  slot_ = -1;
}

}  // namespace io
