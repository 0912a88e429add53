// The X11 backend's connections: a registry that lets the process-wide
// Xlib error handlers tell them from other code's, the handlers themselves,
// and the guard that keeps a write to a dead server from raising SIGPIPE.
#include <X11/Xlib.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "graph/window.h"
#include "graph/x11/internal.h"

namespace graph::x11 {
namespace {

// The backend's open connections.
constexpr int kMaxLinks = 8;
std::atomic<Link*> Links[kMaxLinks];

Link* FindLink(Display* dpy) {
  for (auto& slot : Links)
    if (Link* l = slot.load(); l && l->Dpy == dpy) return l;
  return nullptr;
}

void Unregister(Link& link) {
  for (auto& slot : Links) {
    Link* expected = &link;
    slot.compare_exchange_strong(expected, nullptr);
  }
}

XErrorHandler PreviousErrorHandler = nullptr;
XIOErrorHandler PreviousIOErrorHandler = nullptr;

// Protocol errors on this thread's connection while a step that may fail
// waits for the server.
thread_local Display* TrapDisplay = nullptr;
thread_local bool Trapped = false;

// Errors of the backend's own requests are expected only where a window
// has just gone under a drawing call, or in a trapped step; both are
// harmless, so none ends the process.
int OnXError(Display* dpy, XErrorEvent* e) {
  if (FindLink(dpy)) {
    if (dpy == TrapDisplay) Trapped = true;
    return 0;
  }
  return PreviousErrorHandler ? PreviousErrorHandler(dpy, e) : 0;
}

int OnXIOError(Display* dpy) {
  if (!FindLink(dpy)) return PreviousIOErrorHandler ? PreviousIOErrorHandler(dpy) : 0;
  // Both connections go to the same server: neither is called again.
  for (auto& slot : Links)
    if (Link* l = slot.load()) l->Lost = true;
  WindowGone();
  return 0;
}

// The connection is already marked lost; returning keeps the process.
void OnLinkLost(Display*, void*) {}

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    PreviousErrorHandler = XSetErrorHandler(OnXError);
    PreviousIOErrorHandler = XSetIOErrorHandler(OnXIOError);
  });
}

sigset_t PipeSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

}  // namespace

PipeSignalGuard::PipeSignalGuard() {
  const sigset_t pipe = PipeSignalSet();
  sigset_t old;
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  wasBlocked_ = sigismember(&old, SIGPIPE) == 1;
}

PipeSignalGuard::~PipeSignalGuard() {
  // A thread that blocks it itself keeps what is pending for its own use.
  if (wasBlocked_) return;
  const int savedErrno = errno;
  const sigset_t pipe = PipeSignalSet();
  sigset_t pending;
  sigemptyset(&pending);
  if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1) {
    const timespec now{0, 0};
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
  errno = savedErrno;
}

void WindowGone() {
  std::lock_guard lock(GraphDrawing);
  if (GraphRunning) SurfacesDestroyed();
}

bool Open(Link& link) {
  InstallHandlers();
  const PipeSignalGuard quiet;
  link.Dpy = XOpenDisplay(nullptr);
  if (!link.Dpy) return false;
  for (auto& slot : Links) {
    Link* empty = nullptr;
    if (slot.compare_exchange_strong(empty, &link)) {
      XSetIOErrorExitHandler(link.Dpy, OnLinkLost, &link);
      return true;
    }
  }
  XCloseDisplay(link.Dpy);
  link.Closed = true;
  return false;
}

void Close(Link& link) {
  if (!link.Dpy || link.Closed) return;
  link.Closed = true;
  // A lost connection's structure is left alone: closing it would call the
  // server again.
  if (!link.Lost) {
    const PipeSignalGuard quiet;
    XCloseDisplay(link.Dpy);
  }
  Unregister(link);
}

void BeginTrap(Display* dpy) {
  TrapDisplay = dpy;
  Trapped = false;
}

bool EndTrap() {
  TrapDisplay = nullptr;
  return Trapped;
}

Atom Intern(Display* dpy, const char* name) { return XInternAtom(dpy, name, False); }

std::vector<long> Property32(Display* dpy, Window w, Atom property, Atom type) {
  std::vector<long> values;
  Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(dpy, w, property, 0, 1024, False, type, &actual, &format, &count, &after, &data) == Success &&
      actual == type && format == 32 && data)
    values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + count);
  if (data) XFree(data);
  return values;
}

}  // namespace graph::x11
