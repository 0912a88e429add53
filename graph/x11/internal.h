// What the rooms of the X11 window backend share, and nothing beyond it.
//
// connection.cpp  the backend's connections, the Xlib error handlers and
//                 the SIGPIPE guard of every call that talks to the server
// screen.cpp      the screen and window-manager probe behind the mode table
// image.cpp       the back buffer and the image in the display's format
// window_thread.cpp  the window thread: the window, its events, repaints
// window.cpp      the main thread's side: start, drawing, tear-down
//
// Two connections to the X server, each used by one thread only: the window
// thread opens its own, makes the window and the back buffer's image on it
// and runs the event loop; StartWindow opens a second one on which the main
// thread draws straight onto the window.  Neither thread ever waits for the
// other while it holds GraphDrawing.
//
// A lost connection (the server gone) is the window gone: GraphRunning
// false, no further call on that connection, the program going on in its
// own way.  libX11's per-connection exit handler lets the I/O error handler
// return instead of ending the process; the build requires it.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "graph/x11/pixelformat.h"

namespace graph::x11 {

// ---------------------------------------------------------------- connections

// One connection of the backend.  Once lost it is never called again.  Dpy
// is set once, before the error handlers can find the link.
struct Link {
  Display* Dpy = nullptr;
  std::atomic<bool> Lost{false};
  bool Closed = false;  // the owning thread's own
};

// Opens a connection to the display in DISPLAY and registers it with the
// error handlers; false when there is none, or no room for another.
bool Open(Link& link);
// Closes it unless lost (a lost one would call the server again) and
// forgets it.  Does nothing the second time.
void Close(Link& link);

// The window is gone with its connection: drawing stops at once.
void WindowGone();

// While one lives, a write on a connection whose server has gone fails on
// this thread with EPIPE, which Xlib takes for the connection's end,
// instead of raising SIGPIPE, which would end the process unless its host
// program happened to ignore it.  A SIGPIPE raised meanwhile is taken back
// before the signal is let through again.  Where the thread blocks SIGPIPE
// already, it does nothing.
class PipeSignalGuard {
 public:
  PipeSignalGuard();
  ~PipeSignalGuard();
  PipeSignalGuard(const PipeSignalGuard&) = delete;
  PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

 private:
  bool wasBlocked_;
};

// Protocol errors on this thread's connection while a trapped step runs.
void BeginTrap(Display* dpy);
bool EndTrap();  // true when the step caused one

// Runs a step whose protocol errors are to be caught (attaching shared
// memory, making the window); true when it caused none and the connection
// lives.
template <class Step>
bool Trap(Link& link, Step step) {
  BeginTrap(link.Dpy);
  step();
  if (!link.Lost) XSync(link.Dpy, False);
  const bool trapped = EndTrap();
  return !trapped && !link.Lost;
}

Atom Intern(Display* dpy, const char* name);
// A window's property of 32-bit items (CARDINAL, WINDOW, ATOM).
std::vector<long> Property32(Display* dpy, Window w, Atom property, Atom type);

// Waits on a connection until pred holds for an event or ms have passed;
// every event goes to handle first.
template <class Handle, class Pred>
void WaitForEvent(Link& link, int ms, Handle handle, Pred pred) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    while (!link.Lost && XPending(link.Dpy) > 0) {
      XEvent ev;
      XNextEvent(link.Dpy, &ev);
      handle(ev);
      if (pred(ev)) return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (link.Lost || left.count() <= 0) return;
    pollfd fd{ConnectionNumber(link.Dpy), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
  }
}

// ---------------------------------------------------------------- the screen

// Keeps the connection that read the screen measures open until a window
// start has opened its own (nullptr: closes the one kept).
void KeepMeasuringLink(Link* link);

// ---------------------------------------------------------------- the image

// The back buffer and the image that repaints send: one and the same on a
// 24-bit display, a 32-bit buffer beside an image of the display's format
// on any other, so that what the program reads back never depends on the
// display.  The image lies in a shared-memory segment that the server reads
// directly where it offers MIT-SHM and the start allows it.
class BackImage {
 public:
  BackImage(Link& link, int32_t width, int32_t height) : link_(link), width_(width), height_(height) {}
  BackImage(const BackImage&) = delete;
  BackImage& operator=(const BackImage&) = delete;

  // False with nothing kept when it cannot be made.
  bool Make(Visual* visual, int depth, const PixelFormat& format, bool sharedMemoryAllowed);
  // The pixels the graphics module draws in.
  uint32_t* Pixels() const { return pixels_; }
  bool Shared() const { return shmUsed_; }
  // Puts the back buffer's rectangle onto the window, converted when the
  // display's format is not the buffer's.
  void Put(Window win, GC gc, int x, int y, unsigned w, unsigned h);
  // Releases everything; the server stops reading the segment first.
  void Free();

 private:
  bool MakePlain(Visual* visual, int depth, bool direct);
  bool MakeShared(Visual* visual, int depth, bool direct);
  void Convert(int x, int y, unsigned w, unsigned h);
  void DropImage();

  Link& link_;
  int32_t width_, height_;
  PixelFormat format_;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shmUsed_ = false;
  uint32_t* plain_ = nullptr;
  uint32_t* back_ = nullptr;  // the back buffer when it is not the image's memory
  uint32_t* pixels_ = nullptr;
};

// A direct-colour visual looks its pixels' channels up in a colour map: one
// whose every channel maps straight through makes it true colour.  0 when
// none could be made.
Colormap MakeIdentityColormap(Link& link, Visual* visual);

// ---------------------------------------------------------------- the window thread

struct StartRequest {
  int32_t Width, Height;
  bool Maximized;
  bool SharedMemory;  // may use it
  int CloseFd;        // readable when the main thread asks the window to close
  // The window thread's connection: kept by the main thread's side until
  // the thread has ended, so that an error handler on either thread always
  // finds it alive.
  Link* Conn;
};

enum class Phase { Starting, Open, Failed };

// How the window thread reports its start to the main thread.
struct Handshake {
  std::mutex Mutex;
  std::condition_variable Changed;
  Phase Now = Phase::Starting;
  Window Win = 0;
  bool SharedMemory = false;
  PixelFormat Format;
};
// Never destroyed, so that a window thread still running at the process's
// end finds it intact.
Handshake& StartState();

// The window thread's body: makes the window, reports the start and runs
// the event loop until the window is closed, destroyed or lost.
void WindowThread(StartRequest req);
// On a window thread whose window still stands, takes that window down and
// returns true; false on any other thread.
bool DestroyOwnWindow();

}  // namespace graph::x11
