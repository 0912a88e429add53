// The runner in a Windows console (this test's own): its progress line drawn
// in place on one row, never with an escape sequence shown as text, and
// gone before the summary; Ctrl-C ending a run with what grew written; a
// file's name outside the code page shown in its own letters.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

HANDLE Console() {
  return ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

std::string Row(HANDLE out, SHORT y, SHORT width) {
  std::string text(static_cast<size_t>(width), ' ');
  DWORD got = 0;
  ::ReadConsoleOutputCharacterA(out, text.data(), static_cast<DWORD>(width), COORD{0, y}, &got);
  text.resize(got);
  return text;
}

TEST(Win32Aggsim, TheProgressLineIsDrawnInPlaceWithoutRawEscapes) {
  HANDLE console = Console();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(console, &info)) << "no console";
  const SHORT width = info.dwSize.X;
  const SHORT first = info.dwCursorPosition.Y;

  char dir[MAX_PATH];
  ::GetTempPathA(sizeof dir, dir);
  const std::string outPath = std::string(dir) + "aggsim_console" + std::to_string(::GetCurrentProcessId()) + ".out";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
  HANDLE in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in, si.hStdOutput = out, si.hStdError = err;
  std::string cmd = "\"" + WindowsPath(AGGSIM) + "\" --seed 3 --particles 3000";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  for (HANDLE h : {out, err, in}) ::CloseHandle(h);

  std::vector<std::string> lines;
  while (::WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) {
    ::GetConsoleScreenBufferInfo(console, &info);
    for (SHORT y = first; y <= info.dwCursorPosition.Y; ++y) {
      const std::string row = Row(console, y, width);
      EXPECT_EQ(row.find('\x1b'), std::string::npos) << row;
      EXPECT_EQ(row.find("[K"), std::string::npos) << row;
      if (row.find("stuck") != std::string::npos) lines.push_back(row);
    }
    EXPECT_EQ(info.dwCursorPosition.Y, first) << "the line stays on its row";
  }
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  EXPECT_EQ(code, 0u);
  // The row is read while aggsim rewrites it, so a single reading may be
  // torn between two redraws; whole ones must show the count of the target.
  const auto whole = std::count_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.find("/3000 stuck") != std::string::npos; });
  EXPECT_GT(whole, 0) << "the line was seen";
  // Cleared at the end: the row is blank again.
  const std::string after = Row(console, first, width);
  EXPECT_EQ(after.find_first_not_of(' '), std::string::npos) << after;

  std::ifstream f(outPath, std::ios::binary);
  std::stringstream summary;
  summary << f.rdbuf();
  f.close();
  ::DeleteFileA(outPath.c_str());
  EXPECT_EQ(summary.str().rfind("stuck 3000, ", 0), 0u) << summary.str();
  EXPECT_EQ(summary.str().find('\x1b'), std::string::npos);
}

TEST(Win32Aggsim, AMessageShowsAFileNameInItsOwnLettersOnTheConsole) {
  HANDLE console = Console();
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ASSERT_TRUE(::GetConsoleScreenBufferInfo(console, &info)) << "no console";
  const SHORT first = info.dwCursorPosition.Y;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE err = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                             OPEN_EXISTING, 0, nullptr);
  HANDLE null = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                              OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = null, si.hStdOutput = null, si.hStdError = err;
  // A folder that is not there: the message names the file.
  const std::wstring name = L"\u043D\u0435\u0442 \u6D4B\u8BD5\\\u0444\u0430\u0439\u043B.csv";
  std::string exe = WindowsPath(AGGSIM);
  std::wstring cmd = L"\"" + std::wstring(exe.begin(), exe.end()) + L"\" --trace \"C:\\" + name + L"\"";
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  ::CloseHandle(err);
  ::CloseHandle(null);
  ASSERT_EQ(::WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 99;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  EXPECT_EQ(code, 1u);
  ::GetConsoleScreenBufferInfo(console, &info);
  std::wstring shown;
  for (SHORT y = first; y <= info.dwCursorPosition.Y; ++y) {
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    DWORD got = 0;
    ::ReadConsoleOutputCharacterW(console, row.data(), static_cast<DWORD>(row.size()), COORD{0, y}, &got);
    shown += row.substr(0, got);
  }
  ::CloseHandle(console);
  EXPECT_NE(shown.find(L"aggsim: cannot write C:\\" + name), std::wstring::npos)
      << "the console shows: " << std::string(shown.begin(), shown.end());
}

BOOL WINAPI KeepTheTest(DWORD) { return TRUE; }

TEST(Win32Aggsim, CtrlCEndsTheRunWithWhatGrewWritten) {
  char dir[MAX_PATH];
  ::GetTempPathA(sizeof dir, dir);
  const std::string stem = std::string(dir) + "aggsim_break" + std::to_string(::GetCurrentProcessId());
  const std::string outPath = stem + ".out", trace = stem + ".csv";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  HANDLE in = ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in, si.hStdOutput = out, si.hStdError = out;
  std::string cmd = "\"" + WindowsPath(AGGSIM) + "\" --seed 5 --particles 100000000 --trace " + trace;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  ::CloseHandle(out);
  ::CloseHandle(in);
  ::Sleep(1500);
  // Ctrl-C reaches every process of the console; this one lets it pass.
  ::SetConsoleCtrlHandler(KeepTheTest, TRUE);
  EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
  const DWORD waited = ::WaitForSingleObject(pi.hProcess, 20000);
  if (waited != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 99);
  DWORD code = 0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hProcess);
  ::CloseHandle(pi.hThread);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(code, 130u);
  std::ifstream f(outPath, std::ios::binary);
  std::stringstream said;
  said << f.rdbuf();
  f.close();
  std::ifstream t(trace, std::ios::binary);
  std::stringstream lines;
  lines << t.rdbuf();
  t.close();
  ::DeleteFileA(outPath.c_str());
  ::DeleteFileA(trace.c_str());
  const std::string text = said.str();
  const size_t stuckAt = text.find("stuck ");
  ASSERT_NE(stuckAt, std::string::npos) << text;
  const unsigned long stuck = std::stoul(text.substr(stuckAt + 6));
  EXPECT_GT(stuck, 0ul);
  size_t n = 0;
  for (char c : lines.str()) n += c == '\n';
  EXPECT_EQ(n, stuck) << "the trace holds every particle stuck";
  EXPECT_NE(text.find("interrupted"), std::string::npos) << text;
}

}  // namespace
