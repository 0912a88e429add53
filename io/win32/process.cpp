#include "io/process.h"

#include <windows.h>

#include "io/win32/wide.h"

namespace io {

namespace {

// One argument as the C runtime's command-line parser reads it back.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, '\\');
  return out + "\"";
}

std::string LastError(const std::string& what) { return what + ": error " + std::to_string(GetLastError()); }

}  // namespace

std::string SelfPath() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
  return n > 0 && n < sizeof path / sizeof path[0] ? win32::Utf8(path, n) : std::string();
}

bool StartChild(const std::string& program, const std::vector<std::string>& args, Child& child, std::string& error) {
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 0)) {
    error = LastError("cannot make a pipe");
    return false;
  }
  // Only this child inherits the write end: the parent closes it at once,
  // so no later child holds it and the reader sees the end of the output.
  SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  // Quoting touches only ASCII, so it is done on UTF-8; the names reach
  // the child as the wide command line it reads its arguments from.
  std::string line = Quote(program);
  for (const std::string& a : args) line += " " + Quote(a);
  std::wstring wideLine = win32::Wide(line);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  const std::wstring wideProgram = win32::Wide(program);
  const BOOL ok =
      CreateProcessW(wideProgram.c_str(), wideLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  if (!ok) error = LastError("cannot start " + program);
  CloseHandle(write);
  if (!ok) {
    CloseHandle(read);
    return false;
  }
  CloseHandle(pi.hThread);
  child.process = reinterpret_cast<intptr_t>(pi.hProcess);
  child.output = reinterpret_cast<intptr_t>(read);
  return true;
}

int WaitChild(Child& child, std::string& output) {
  const HANDLE read = reinterpret_cast<HANDLE>(child.output);
  const HANDLE process = reinterpret_cast<HANDLE>(child.process);
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) output.append(buf, n);
  CloseHandle(read);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  child = Child{};
  return static_cast<int>(code);
}

}  // namespace io
