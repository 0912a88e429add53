// A program on the Windows backends that opens graphics the way the
// programs do and then fails in the way its argument names, on the main
// thread or in a key handler on the window's thread, or on both: the main
// thread first, and the handler while the main thread's exit procedures
// close the window.  A module of
// its own reports, after the exit procedures and before any report,
// whether the graph window is still there.
// The console module's names are Windows' console macros: it comes first.
#include "runtime/crt.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <iterator>

#include "graph/graph.h"
#include "graph/win32/win32_window.h"
#include "graph/window.h"
#include "runtime/system.h"

namespace {

const char* failure = "";

void TellWindowState() {
  const bool open = ::FindWindowA(graph::win32::kClassName, graph::win32::kWindowTitle) != nullptr;
  sys::WriteStr(sys::StdOut, open ? "window open" : "window closed");
  sys::WriteLnEnd(sys::StdOut);
}

constexpr sys::UnitEntry kUnits[] = {
    {sys::InitSystemUnit, nullptr},
    {nullptr, TellWindowState},
    {crt::InitCrt, nullptr},
    {graph::InitializeGraph, nullptr},
};

// Deep enough for any stack the system gives a thread.
[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[4096];
  pad[depth % sizeof pad] = static_cast<char>(depth);
  return depth < (1 << 20) ? Recurse(depth + 1) + pad[0] : 0;
}

int32_t AGG_WINAPI FailOnKey(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  if (msg == WM_KEYDOWN) sys::RunError(201);
  return 0;
}

int32_t AGG_WINAPI OverflowOnKey(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  return msg == WM_KEYDOWN ? Recurse(0) : 0;
}

std::atomic<bool> handlerEntered{false};

int32_t AGG_WINAPI FailLateOnKey(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  if (msg != WM_KEYDOWN) return 0;
  handlerEntered = true;
  // Long enough for the main thread to be waiting for this one.
  ::Sleep(300);
  sys::RunError(202);
}

// Runs before the graphics module's exit procedure: a key to the window,
// and on once its handler runs.
sys::ExitProcPtr graphExit = nullptr;
void KeyToTheWindowThenClose() {
  sys::ExitProc = graphExit;
  ::PostMessageA(graph::win32::MainWindow, WM_KEYDOWN, 'A', 0);
  for (int i = 0; i < 10000 && !handlerEntered; ++i) ::Sleep(1);
}

void ProbeMain() {
  sys::IsConsole = true;
  sys::InitializeUnits();
  int16_t driver = 0, mode = 0;
  graph::DetectGraph(driver, mode);
  graph::InitGraph(driver, mode, "");
  if (!graph::GraphRunning) sys::Halt(3);
  volatile int izero = 0;
  volatile long double fzero = 0.0L;
  volatile long double result = 0.0L;
  if (!std::strcmp(failure, "access")) {
    *static_cast<volatile int*>(nullptr) = 1;
  } else if (!std::strcmp(failure, "intdiv")) {
    result = 12345 / izero;
  } else if (!std::strcmp(failure, "x87div")) {
    result = 1.0L / fzero;
  } else if (!std::strcmp(failure, "x87invalid")) {
    result = fzero / fzero;
  } else if (!std::strcmp(failure, "stack")) {
    result = Recurse(0);
  } else if (!std::strcmp(failure, "range")) {
    sys::Int_RangeError();
  } else if (!std::strcmp(failure, "handler")) {
    // A key handler that fails on the window's own thread while the main
    // thread waits.
    graph::CharMessageHandler = FailOnKey;
    ::PostMessageA(graph::win32::MainWindow, WM_KEYDOWN, 'A', 0);
    ::Sleep(30000);
    sys::Halt(4);
  } else if (!std::strcmp(failure, "handlerstack")) {
    graph::CharMessageHandler = OverflowOnKey;
    ::PostMessageA(graph::win32::MainWindow, WM_KEYDOWN, 'A', 0);
    ::Sleep(30000);
    sys::Halt(4);
  } else if (!std::strcmp(failure, "both")) {
    graph::CharMessageHandler = FailLateOnKey;
    graphExit = sys::ExitProc;
    sys::ExitProc = KeyToTheWindowThenClose;
    sys::RunError(201);
  }
  (void)result;
}

}  // namespace

int main(int argc, char** argv) {
  failure = argc > 1 ? argv[1] : "";
  sys::InitFinal = {static_cast<int32_t>(std::size(kUnits)), 0, kUnits};
  sys::Exe_Entry(ProbeMain);
}
