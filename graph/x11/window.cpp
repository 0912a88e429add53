// The X11 window backend, the main thread's side: the window start and its
// handshake with the window thread, drawing straight onto the window on a
// connection of the main thread's own, and the tear-down.  internal.h tells
// how the backend's rooms fit together.
//
// Every call here that talks to the server does so under a
// PipeSignalGuard: the program that hosts the window may or may not ignore
// SIGPIPE, and a server gone mid-drawing must not end it either way.
#include "graph/window.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "graph/x11/internal.h"
#include "graph/x11/x11_window.h"
#include "runtime/system.h"

namespace graph {
namespace {

using x11::Link;
using x11::PipeSignalGuard;

constexpr const char* kCreationFailed = "Window creation failed\n";

std::atomic<bool> SharedMemoryAllowed{true};

struct MainSide {
  Link Conn;        // the main thread's, for drawing
  Link ThreadConn;  // the window thread's
  GC Gc = nullptr;
  Window Win = 0;
  bool SharedMemory = false;
  int Pipe[2] = {-1, -1};
  std::thread Thread;
  uint32_t Foreground = 0;
  bool ForegroundSet = false;
  x11::PixelFormat Format;  // the window's visual
  std::atomic<bool> LetGo{false};  // the thread ended the window itself
};
MainSide* Current = nullptr;

// Waits for the window thread and releases everything of the last start.
void Release() {
  MainSide* m = Current;
  if (!m) return;
  if (m->Thread.get_id() == std::this_thread::get_id() && x11::DestroyOwnWindow()) {
    // A run-time error in one of the window's handlers runs the exit
    // procedures on the window thread, which cannot wait for its own end:
    // it has taken its window down here, before the report, and the
    // process ends soon after.  The rest is left for the main thread to
    // find.
    m->Thread.detach();
    m->LetGo = true;
    return;
  }
  Current = nullptr;
  if (m->LetGo) {
    // That thread may still be on its way out of a handler, using its
    // connection: the record stays, the drawing connection goes.
    x11::Close(m->Conn);
    return;
  }
  if (m->Pipe[1] >= 0) {
    // A thread still running (its window kept by a lost drawing
    // connection) is asked to end first.
    [[maybe_unused]] ssize_t n = write(m->Pipe[1], "c", 1);
  }
  if (m->Thread.joinable()) m->Thread.join();
  x11::Close(m->ThreadConn);  // already closed unless the thread ended inside Xlib
  for (int fd : m->Pipe)
    if (fd >= 0) close(fd);
  if (m->Gc && m->Conn.Dpy && !m->Conn.Lost) XFreeGC(m->Conn.Dpy, m->Gc);
  x11::Close(m->Conn);
  delete m;
}

// The drawing colour, changed only when it differs from the last one.
void SetForeground(MainSide& m, uint32_t pixel) {
  if (m.ForegroundSet && m.Foreground == pixel) return;
  XSetForeground(m.Conn.Dpy, m.Gc, m.Format(pixel));
  m.Foreground = pixel;
  m.ForegroundSet = true;
}

bool Failed(MainSide* m) {
  Current = m;
  Release();
  // In place of a message box: one line on standard error, written
  // directly so that no text channel's state changes.
  sys::os::WriteHandle(sys::os::GetStdHandle(sys::os::StdErrorHandle), kCreationFailed,
                       static_cast<int32_t>(std::strlen(kCreationFailed)));
  return false;
}

}  // namespace

namespace backend {

bool StartWindow(int32_t w, int32_t h, bool maximized) {
  const PipeSignalGuard quiet;
  // A window the user closed leaves its ended thread for this start.
  Release();
  auto* m = new MainSide;
  const bool opened = w > 0 && h > 0 && x11::Open(m->Conn);
  x11::KeepMeasuringLink(nullptr);
  if (!opened || pipe2(m->Pipe, O_CLOEXEC) != 0) return Failed(m);
  Display* dpy = m->Conn.Dpy;
  m->Gc = XCreateGC(dpy, DefaultRootWindow(dpy), 0, nullptr);
  x11::Handshake& hs = x11::StartState();
  {
    std::lock_guard lock(hs.Mutex);
    hs.Now = x11::Phase::Starting;
  }
  try {
    const x11::StartRequest req{w, h, maximized, SharedMemoryAllowed.load(), m->Pipe[0], &m->ThreadConn};
    m->Thread = std::thread(x11::WindowThread, req);
  } catch (const std::system_error&) {
    return Failed(m);
  }
  std::unique_lock lock(hs.Mutex);
  hs.Changed.wait(lock, [&] { return hs.Now != x11::Phase::Starting; });
  if (hs.Now != x11::Phase::Open) {
    lock.unlock();
    return Failed(m);
  }
  m->Win = hs.Win;
  m->SharedMemory = hs.SharedMemory;
  m->Format = hs.Format;
  Current = m;
  return true;
}

void DrawPixel(int32_t x, int32_t y, uint32_t pixel) {
  MainSide* m = Current;
  if (!m || m->Conn.Lost) return;
  const PipeSignalGuard quiet;
  SetForeground(*m, pixel);
  XDrawPoint(m->Conn.Dpy, m->Win, m->Gc, x, y);
  XFlush(m->Conn.Dpy);
}

void DrawHLine(int32_t x1, int32_t x2, int32_t y, uint32_t pixel) {
  MainSide* m = Current;
  if (!m || m->Conn.Lost || x2 < x1) return;
  const PipeSignalGuard quiet;
  SetForeground(*m, pixel);
  XFillRectangle(m->Conn.Dpy, m->Win, m->Gc, x1, y, static_cast<unsigned>(x2 - x1 + 1), 1);
  XFlush(m->Conn.Dpy);
}

bool PostClose() {
  MainSide* m = Current;
  return m && m->Pipe[1] >= 0 && write(m->Pipe[1], "c", 1) == 1;
}

void JoinWindowThread() {
  const PipeSignalGuard quiet;
  Release();
}

}  // namespace backend

namespace x11 {

void AllowSharedMemory(bool allowed) { SharedMemoryAllowed = allowed; }
bool UsingSharedMemory() { return Current && GraphRunning && Current->SharedMemory; }
unsigned long WindowId() { return Current ? Current->Win : 0; }

}  // namespace x11
}  // namespace graph
