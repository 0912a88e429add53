// Whole programs on the Windows backends, each in the console of this test
// process with its standard output and error in files: the window it
// opens, the key that stops it, the echo of the closing line, and the
// processor faults that end it with a report.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A Unix path of the build (a cross-build run under Wine) as Wine's Z: drive.
std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

HANDLE Inheritable(const char* name, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return ::CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, disposition, 0, nullptr);
}

std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Polls until cond holds or ms milliseconds have passed.
template <typename Cond>
bool Eventually(Cond cond, int ms) {
  for (int waited = 0; waited < ms; waited += 20) {
    if (cond()) return true;
    ::Sleep(20);
  }
  return cond();
}

// One program run in this process's console.
class Child {
 public:
  // Standard input is the console's unless a file is named.
  Child(const std::string& exe, const std::string& args, const std::string& input = "") {
    static int serial = 0;
    char dir[MAX_PATH];
    ::GetTempPathA(sizeof dir, dir);
    const std::string stem = std::string(dir) + "aggwin" + std::to_string(::GetCurrentProcessId()) + "_" +
                             std::to_string(++serial);
    outPath_ = stem + ".out";
    errPath_ = stem + ".err";
    HANDLE in = input.empty() ? Inheritable("CONIN$", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING)
                              : Inheritable(input.c_str(), GENERIC_READ, OPEN_EXISTING);
    HANDLE out = Inheritable(outPath_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = Inheritable(errPath_.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    std::string cmd = "\"" + WindowsPath(exe) + "\" " + args;
    started_ = ::CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi_);
    ::CloseHandle(in);
    ::CloseHandle(out);
    ::CloseHandle(err);
  }
  ~Child() {
    if (!started_) return;
    if (::WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(pi_.hProcess, 99);
    ::WaitForSingleObject(pi_.hProcess, 5000);
    ::CloseHandle(pi_.hProcess);
    ::CloseHandle(pi_.hThread);
    std::remove(outPath_.c_str());
    std::remove(errPath_.c_str());
  }
  bool Started() const { return started_; }
  // The exit code, or -1 when the program has not ended in time.
  long Wait(DWORD ms) {
    if (::WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
  }
  std::string Out() const { return ReadFileText(outPath_); }
  std::string Err() const { return ReadFileText(errPath_); }

 private:
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
  std::string outPath_, errPath_;
};

HWND GraphWindow() { return ::FindWindowA("XUMGraphWindow", "Graph window application"); }

// A key typed on the console's keyboard: down, then up.
void TypeKey(WORD vk, WORD scan, char ch) {
  HANDLE in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  INPUT_RECORD rec[2]{};
  for (int i = 0; i < 2; ++i) {
    rec[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& k = rec[i].Event.KeyEvent;
    k.bKeyDown = i == 0;
    k.wRepeatCount = 1;
    k.wVirtualKeyCode = vk;
    k.wVirtualScanCode = scan;
    k.uChar.AsciiChar = ch;
  }
  DWORD written = 0;
  ::WriteConsoleInputA(in, rec, 2, &written);
  ::CloseHandle(in);
}

COORD ConsoleCursor() {
  HANDLE out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  ::GetConsoleScreenBufferInfo(out, &info);
  ::CloseHandle(out);
  return info.dwCursorPosition;
}

char ConsoleChar(COORD at) {
  HANDLE out = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  char ch = 0;
  DWORD got = 0;
  ::ReadConsoleOutputCharacterA(out, &ch, 1, at, &got);
  ::CloseHandle(out);
  return ch;
}

COLORREF WindowPixel(HWND w, int x, int y) {
  HDC dc = ::GetDC(w);
  const COLORREF c = ::GetPixel(dc, x, y);
  ::ReleaseDC(w, dc);
  return c & 0xFFFFFF;
}

constexpr DWORD kStartMs = 30000;
constexpr DWORD kEndMs = 30000;

TEST(Win32ProgramTest, AggwhiteGrowsInAMaximizedWindowAndEndsAtEnterWithCode0) {
  ASSERT_EQ(GraphWindow(), nullptr) << "a graph window is left from elsewhere";
  Child run(AGGWHITE, "");
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(Eventually([] { return GraphWindow() != nullptr; }, kStartMs)) << run.Err();
  HWND w = GraphWindow();
  EXPECT_TRUE(Eventually([&] { return ::IsWindowVisible(w) != 0; }, 5000));
  EXPECT_TRUE(::IsZoomed(w));
  // The seed at (512, 384) is drawn straight onto the window in the
  // palette's white; far from it the window is still black.
  EXPECT_TRUE(Eventually([&] { return WindowPixel(w, 512, 384) == RGB(252, 252, 252); }, 5000))
      << std::hex << WindowPixel(w, 512, 384);
  EXPECT_EQ(WindowPixel(w, 0, 0), 0u);
  EXPECT_EQ(WindowPixel(w, 5, 300), 0u);
  TypeKey(VK_RETURN, 28, '\r');
  EXPECT_EQ(run.Wait(kEndMs), 0);
  EXPECT_FALSE(::IsWindow(w));
  EXPECT_EQ(run.Out(), "");
  EXPECT_EQ(run.Err(), "");
}

TEST(Win32ProgramTest, ALetterStopsTheRunAndIsEchoedAtTheCursorUntilEnter) {
  Child run(AGGRADIAL, "");
  ASSERT_TRUE(run.Started());
  ASSERT_TRUE(Eventually([] { return GraphWindow() != nullptr; }, kStartMs)) << run.Err();
  const COORD cursor = ConsoleCursor();
  // Shift, Ctrl and a key going up are no keys: the run goes on.
  TypeKey(VK_SHIFT, 42, 0);
  TypeKey(VK_CONTROL, 29, 0);
  EXPECT_EQ(run.Wait(300), -1);
  TypeKey('Q', 16, 'q');
  EXPECT_TRUE(Eventually([&] { return ConsoleChar(cursor) == 'q'; }, 10000));
  EXPECT_EQ(run.Wait(300), -1) << "the line waits for Enter";
  TypeKey(VK_RETURN, 28, '\r');
  EXPECT_EQ(run.Wait(kEndMs), 0);
  EXPECT_EQ(GraphWindow(), nullptr);
}

TEST(Win32ProgramTest, FromAFileEachByteIsAKeyAndItsEndIsEnter) {
  char dir[MAX_PATH];
  ::GetTempPathA(sizeof dir, dir);
  const std::string input = std::string(dir) + "aggwin_input" + std::to_string(::GetCurrentProcessId());
  std::ofstream(input, std::ios::binary) << "ab";
  const COORD cursor = ConsoleCursor();
  {
    Child run(AGGORDER, "", input);
    ASSERT_TRUE(run.Started());
    // 'a' stops the run, 'b' joins it on the line, the end of the file ends
    // the line; the echo still goes to the console.
    EXPECT_EQ(run.Wait(kStartMs + kEndMs), 0) << run.Err();
    EXPECT_EQ(ConsoleChar(cursor), 'a');
    EXPECT_EQ(ConsoleChar(COORD{static_cast<SHORT>(cursor.X + 1), cursor.Y}), 'b');
  }
  std::remove(input.c_str());
}

struct Fault {
  const char* Name;
  int Error;
};

TEST(Win32ProgramTest, FaultsAndAFailingKeyHandlerCloseTheWindowThenReportTheirErrorNumber) {
  const Fault faults[] = {{"access", 216}, {"intdiv", 200}, {"x87div", 200},
                          {"x87invalid", 207}, {"stack", 202}, {"range", 201}, {"handler", 201},
                          // A stack overflow on the window's thread; a failure there
                          // while the main thread, failed first, closes the window.
                          {"handlerstack", 202}, {"both", 201}};
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.Name);
    Child run(FAULT_PROBE, f.Name);
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.Wait(kStartMs + kEndMs), f.Error);
    // The exit procedure closed the window before the report, which names
    // the faulting instruction twice and ends with an empty line; the file
    // gets the console's line ends.
    const std::regex report("window closed\r\nRuntime error " + std::to_string(f.Error) +
                            " at 0x([0-9A-F]{8})\r\n  0x\\1\r\n(  0x[0-9A-F]{8}\r\n)+\r\n");
    EXPECT_TRUE(std::regex_match(run.Out(), report)) << run.Out();
    EXPECT_EQ(GraphWindow(), nullptr);
  }
}

}  // namespace
