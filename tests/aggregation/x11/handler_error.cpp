// A program on the desktop backends whose key handler in the graph window
// fails on the window's own thread, in the way its argument names:
//   (none)  run-time error 201;
//   stack   a recursion without end, so the window thread's stack runs out;
//   both    the main thread fails with 201 first, and while its exit
//           procedures close the window the handler fails with 202.
// A module of its own says, after the exit procedures and before the
// report, whether the window is still on the server.
#include <atomic>
#include <cstring>
#include <iterator>

#include "graph/graph.h"
#include "graph/window.h"
#include "graph/x11/x11_window.h"
#include "runtime/crt.h"
#include "runtime/procsvc.h"
#include "runtime/system.h"
// After the modules: its macros would rename their names.
#include <X11/Xlib.h>

namespace {

unsigned long window = 0;

int Quiet(Display*, XErrorEvent*) { return 0; }

void TellWindowState() {
  bool open = false;
  if (Display* dpy = XOpenDisplay(nullptr)) {
    XWindowAttributes a;
    open = window != 0 && XGetWindowAttributes(dpy, window, &a) != 0;
    XCloseDisplay(dpy);
  }
  sys::WriteStr(sys::StdOut, open ? "window open" : "window closed");
  sys::WriteLnEnd(sys::StdOut);
}

constexpr sys::UnitEntry kUnits[] = {
    {sys::InitSystemUnit, nullptr},
    {nullptr, TellWindowState},
    {crt::InitCrt, nullptr},
    {graph::InitializeGraph, nullptr},
};

const char* failure = "";
std::atomic<bool> handlerEntered{false};

volatile bool deeper = true;
[[gnu::noinline]] int Recurse(int depth) {
  volatile char pad[4096];
  pad[depth % sizeof pad] = static_cast<char>(depth);
  return (deeper ? Recurse(depth + 1) : 0) + pad[0];
}

int32_t FailOnKey(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  if (msg != 256) return 0;  // WM_KEYDOWN
  if (!std::strcmp(failure, "stack")) Recurse(0);
  if (!std::strcmp(failure, "both")) {
    handlerEntered = true;
    // Long enough for the main thread to be waiting for this one.
    sys::os::SleepMs(300);
    sys::RunError(202);
  }
  sys::RunError(201);
}

// The exit procedure that runs before the graphics module's: a key to the
// window, and on once its handler runs.
sys::ExitProcPtr graphExit = nullptr;
void KeyToTheWindowThenClose() {
  sys::ExitProc = graphExit;
  if (Display* dpy = XOpenDisplay(nullptr)) {
    XEvent ev{};
    ev.xkey.type = KeyPress;
    ev.xkey.window = window;
    ev.xkey.root = DefaultRootWindow(dpy);
    ev.xkey.same_screen = True;
    ev.xkey.keycode = XKeysymToKeycode(dpy, 'a');
    XSendEvent(dpy, window, True, KeyPressMask, &ev);
    XCloseDisplay(dpy);
  }
  for (int i = 0; i < 10000 && !handlerEntered; ++i) sys::os::SleepMs(1);
}

void ProbeMain() {
  sys::IsConsole = true;
  sys::InitializeUnits();
  // Before the window thread starts, so that its first key finds it.
  graph::CharMessageHandler = FailOnKey;
  int16_t driver = 0, mode = 0;
  graph::DetectGraph(driver, mode);
  graph::InitGraph(driver, mode, "");
  if (!graph::GraphRunning) sys::Halt(3);
  window = graph::x11::WindowId();
  if (!std::strcmp(failure, "both")) {
    graphExit = sys::ExitProc;
    sys::ExitProc = KeyToTheWindowThenClose;
    sys::RunError(201);
  }
  // Drawing goes on while the handler fails; a key in the terminal would
  // end the run normally, so none comes.
  for (int16_t i = 0; i < 30000 && !crt::KeyPressed(); ++i) {
    graph::PutPixel(static_cast<int16_t>(400 + i % 200), static_cast<int16_t>(300 + i / 200 % 100), 15);
    sys::os::SleepMs(1);
  }
  sys::Halt(4);
}

}  // namespace

int main(int argc, char** argv) {
  failure = argc > 1 ? argv[1] : "";
  // A window just gone may draw an error on the check's connection.
  XSetErrorHandler(Quiet);
  sys::InitFinal = {static_cast<int32_t>(std::size(kUnits)), 0, kUnits};
  sys::Exe_Entry(ProbeMain);
}
