// A program on the desktop backends whose key handler in the graph window
// fails with run-time error 201, on the window's own thread.  A module of
// its own says, after the exit procedures and before the report, whether
// the window is still on the server.
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

int32_t FailOnKey(uintptr_t, uint32_t msg, uint32_t, int32_t) {
  if (msg == 256) sys::RunError(201);  // WM_KEYDOWN
  return 0;
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
  // Drawing goes on while the handler fails; a key in the terminal would
  // end the run normally, so none comes.
  for (int16_t i = 0; i < 30000 && !crt::KeyPressed(); ++i) {
    graph::PutPixel(static_cast<int16_t>(400 + i % 200), static_cast<int16_t>(300 + i / 200 % 100), 15);
    sys::os::SleepMs(1);
  }
  sys::Halt(4);
}

}  // namespace

int main() {
  // A window just gone may draw an error on the check's connection.
  XSetErrorHandler(Quiet);
  sys::InitFinal = {static_cast<int32_t>(std::size(kUnits)), 0, kUnits};
  sys::Exe_Entry(ProbeMain);
}
