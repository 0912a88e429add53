// The X11 window backend.
//
// Two connections to the X server, each used by one thread only: the window
// thread opens its own, makes the window and the back buffer's image on it
// and runs the event loop; StartWindow opens a second one on which the main
// thread draws straight onto the window.  Neither thread ever waits for the
// other while it holds GraphDrawing.
//
// On a 24-bit true-colour display the back buffer is the pixel memory of an
// XImage, in a shared-memory segment that the server reads directly where
// it offers MIT-SHM; repaints put the exposed rectangle of it 1:1 onto the
// window.  On any other true- or direct-colour display (15, 16, 30 bits)
// the back buffer stays 32-bit, so that what the program reads back never
// depends on the display, and a repaint first converts the rectangle into
// an image of the display's own format; the main thread's drawing colours
// are converted alike.  A close request
// from the main thread is a byte on a pipe that the window thread polls
// beside its connection.
//
// A lost connection (the server gone) is the window gone: GraphRunning
// false, no further call on that connection, the program going on in its
// own way.  Xlib would end the process after its I/O error handler; the
// per-connection exit handler of libX11 1.7 and later lets it return
// instead.  Without that handler the window thread ends itself from the
// handler, and a lost main-thread connection still ends the process.
#include "graph/window.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <bitset>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "graph/x11/input.h"
#include "graph/x11/measures.h"
#include "graph/x11/pixelformat.h"
#include "graph/x11/x11_window.h"
#include "runtime/system.h"

namespace graph {
namespace {

constexpr const char* kTitle = "Graph window application";
constexpr const char* kClass = "XUMGraphWindow";
constexpr const char* kCreationFailed = "Window creation failed\n";
// How long a start waits for the window manager to map the window and for
// its first exposure, a teardown for it to drop the window's frame, and the
// screen query for it to publish a window's frame.
constexpr int kMapWaitMs = 5000;
constexpr int kExposeWaitMs = 500;
constexpr int kFrameWaitMs = 1000;
constexpr int kExtentsWaitMs = 500;

// ---------------------------------------------------------------- connections

// One connection of the backend.  Once lost it is never called again.  Dpy
// is set once, before the error handlers can find the link.
struct Link {
  Display* Dpy = nullptr;
  std::atomic<bool> Lost{false};
  bool Closed = false;  // the owning thread's own
};

// The backend's open connections, for the process-wide error handlers to
// tell them from other code's.
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
// (attaching shared memory, making the window) waits for the server.
thread_local Display* TrapDisplay = nullptr;
thread_local bool Trapped = false;

// The window is gone with its connection: drawing stops at once.
void WindowGone() {
  std::lock_guard lock(GraphDrawing);
  if (GraphRunning) SurfacesDestroyed();
}

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

// Set on the window thread while its start has not been reported.
thread_local bool OnWindowThread = false;
thread_local bool StartPending = false;
#ifndef AGG_X11_IO_ERROR_EXIT_HANDLER
void ReportStartFailed();
#endif

int OnXIOError(Display* dpy) {
  if (!FindLink(dpy)) return PreviousIOErrorHandler ? PreviousIOErrorHandler(dpy) : 0;
  // Both connections go to the same server: neither is called again.
  for (auto& slot : Links)
    if (Link* l = slot.load()) l->Lost = true;
  WindowGone();
#ifndef AGG_X11_IO_ERROR_EXIT_HANDLER
  // Xlib ends the process when this handler returns: the window thread
  // ends itself instead, its locks released by the unwinding.
  if (OnWindowThread) {
    if (StartPending) ReportStartFailed();
    pthread_exit(nullptr);
  }
#endif
  return 0;
}

#ifdef AGG_X11_IO_ERROR_EXIT_HANDLER
// The connection is already marked lost; returning keeps the process.
void OnLinkLost(Display*, void*) {}
#endif

void InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    PreviousErrorHandler = XSetErrorHandler(OnXError);
    PreviousIOErrorHandler = XSetIOErrorHandler(OnXIOError);
  });
}

bool Open(Link& link) {
  InstallHandlers();
  link.Dpy = XOpenDisplay(nullptr);
  if (!link.Dpy) return false;
  for (auto& slot : Links) {
    Link* empty = nullptr;
    if (slot.compare_exchange_strong(empty, &link)) {
#ifdef AGG_X11_IO_ERROR_EXIT_HANDLER
      XSetIOErrorExitHandler(link.Dpy, OnLinkLost, &link);
#endif
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
  if (!link.Lost) XCloseDisplay(link.Dpy);
  Unregister(link);
}

// Runs a step whose protocol errors are to be caught; true when it caused
// none and the connection lives.
template <class Step>
bool Trap(Link& link, Step step) {
  TrapDisplay = link.Dpy;
  Trapped = false;
  step();
  if (!link.Lost) XSync(link.Dpy, False);
  TrapDisplay = nullptr;
  return !Trapped && !link.Lost;
}

Atom Intern(Display* dpy, const char* name) { return XInternAtom(dpy, name, False); }

// A window's property of 32-bit items (CARDINAL, WINDOW, ATOM).
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

// ---------------------------------------------------------------- screen measures

// The frame that the window manager puts round a normal window, asked for
// with a window that is never mapped.
bool ReadFrameExtents(Link& link, x11::FrameExtents& extents) {
  Display* dpy = link.Dpy;
  const Window root = DefaultRootWindow(dpy);
  const Atom request = Intern(dpy, "_NET_REQUEST_FRAME_EXTENTS");
  const Atom frameExtents = Intern(dpy, "_NET_FRAME_EXTENTS");

  // Only a running window manager that says it answers is asked.
  const std::vector<long> check = Property32(dpy, root, Intern(dpy, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
  if (check.empty()) return false;
  bool alive = false;
  Trap(link, [&] {
    const std::vector<long> self =
        Property32(dpy, static_cast<Window>(check[0]), Intern(dpy, "_NET_SUPPORTING_WM_CHECK"), XA_WINDOW);
    alive = !self.empty() && self[0] == check[0];
  });
  if (!alive || link.Lost) return false;
  bool supported = false;
  for (long atom : Property32(dpy, root, Intern(dpy, "_NET_SUPPORTED"), XA_ATOM))
    supported |= static_cast<Atom>(atom) == request;
  if (!supported) return false;

  XSetWindowAttributes attrs{};
  attrs.event_mask = PropertyChangeMask;
  const Window probe =
      XCreateWindow(dpy, root, 0, 0, 100, 100, 0, CopyFromParent, InputOutput, CopyFromParent, CWEventMask, &attrs);
  XEvent ask{};
  ask.xclient.type = ClientMessage;
  ask.xclient.window = probe;
  ask.xclient.message_type = request;
  ask.xclient.format = 32;
  XSendEvent(dpy, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ask);
  XFlush(dpy);
  WaitForEvent(
      link, kExtentsWaitMs, [](XEvent&) {},
      [&](const XEvent& ev) {
        return ev.type == PropertyNotify && ev.xproperty.window == probe && ev.xproperty.atom == frameExtents;
      });
  if (link.Lost) return false;
  const std::vector<long> e = Property32(dpy, probe, frameExtents, XA_CARDINAL);
  XDestroyWindow(dpy, probe);
  XSync(dpy, False);
  if (e.size() < 4) return false;
  extents = {static_cast<int32_t>(e[0]), static_cast<int32_t>(e[1]), static_cast<int32_t>(e[2]),
             static_cast<int32_t>(e[3])};
  return true;
}

void ReadScreen(Link& link, x11::ScreenReadings& r) {
  Display* dpy = link.Dpy;
  const int screen = DefaultScreen(dpy);
  r.Display = true;
  r.ScreenWidth = DisplayWidth(dpy, screen);
  r.ScreenHeight = DisplayHeight(dpy, screen);
  const Window root = RootWindow(dpy, screen);
  const std::vector<long> area = Property32(dpy, root, Intern(dpy, "_NET_WORKAREA"), XA_CARDINAL);
  const std::vector<long> desktop = Property32(dpy, root, Intern(dpy, "_NET_CURRENT_DESKTOP"), XA_CARDINAL);
  // Four figures per desktop: x, y, width, height.
  size_t at = 0;
  if (!desktop.empty() && desktop[0] >= 0 && static_cast<size_t>(desktop[0]) < area.size() / 4)
    at = static_cast<size_t>(desktop[0]) * 4;
  if (area.size() >= at + 4) {
    r.HasWorkArea = true;
    r.WorkWidth = static_cast<int32_t>(area[at + 2]);
    r.WorkHeight = static_cast<int32_t>(area[at + 3]);
  }
  if (!link.Lost) r.HasExtents = ReadFrameExtents(link, r.Extents);
}

// ---------------------------------------------------------------- the start handshake

enum class Phase { Starting, Open, Failed };

struct Handshake {
  std::mutex Mutex;
  std::condition_variable Changed;
  Phase Now = Phase::Starting;
  Window Win = 0;
  bool SharedMemory = false;
  x11::PixelFormat Format;
};

// Never destroyed, so that a window thread still running at the process's
// end finds it intact.
Handshake& StartState() {
  static auto* h = new Handshake;
  return *h;
}

void Report(Phase phase, Window win = 0, bool shm = false, const x11::PixelFormat& format = {}) {
  Handshake& h = StartState();
  {
    std::lock_guard lock(h.Mutex);
    h.Now = phase;
    h.Win = win;
    h.SharedMemory = shm;
    h.Format = format;
  }
  h.Changed.notify_all();
}

#ifndef AGG_X11_IO_ERROR_EXIT_HANDLER
void ReportStartFailed() { Report(Phase::Failed); }
#endif

std::atomic<bool> SharedMemoryAllowed{true};

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

class GraphWindow {
 public:
  explicit GraphWindow(const StartRequest& req) : req_(req), link_(*req.Conn) {}

  // Makes, maps and paints the window with the back buffer adopted; false
  // when there is no window, with everything made on the way released.
  bool Create() {
    if (!Open(link_)) return false;
    Display* dpy = link_.Dpy;
    const int screen = DefaultScreen(dpy);
    Visual* visual = DefaultVisual(dpy, screen);
    const int depth = DefaultDepth(dpy, screen);
    // A colour-mapped display (8-bit pseudo-colour) cannot show the
    // palette's colours without a colour map of its own: refused.
    if (visual->c_class != TrueColor && visual->c_class != DirectColor) return false;
    format_ = x11::PixelFormat(visual->red_mask, visual->green_mask, visual->blue_mask);
    if (!format_.Valid() || depth < 15 || depth > 32) return false;
    if (!MakeImage(visual, depth)) return false;

    XSetWindowAttributes attrs{};
    unsigned long attrMask = CWBackPixel | CWBorderPixel | CWBitGravity | CWEventMask;
    if (visual->c_class == DirectColor && MakeIdentityColormap(visual)) {
      attrs.colormap = colormap_;
      attrMask |= CWColormap;
    }
    attrs.background_pixel = BlackPixel(dpy, screen);
    attrs.border_pixel = BlackPixel(dpy, screen);
    attrs.bit_gravity = NorthWestGravity;
    attrs.event_mask =
        ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask;
    bool made = Trap(link_, [&] {
      win_ = XCreateWindow(dpy, RootWindow(dpy, screen), 0, 0, static_cast<unsigned>(req_.Width),
                           static_cast<unsigned>(req_.Height), 0, CopyFromParent, InputOutput, CopyFromParent,
                           attrMask, &attrs);
      gc_ = XCreateGC(dpy, win_, 0, nullptr);
    });
    if (!made) return false;
    SetProperties();
    XkbSetDetectableAutoRepeat(dpy, True, nullptr);

    SurfacesCreated(pixels_, req_.Width, req_.Height);
    XMapWindow(dpy, win_);
    WaitForEvent(
        link_, kMapWaitMs, [&](XEvent& ev) { Handle(ev); },
        [&](const XEvent& ev) { return ev.type == MapNotify && ev.xmap.window == win_; });
    // The first exposure is painted here, so that the program starts
    // drawing on a window that is already on the screen; a window mapped
    // fully covered gets none.
    WaitForEvent(
        link_, kExposeWaitMs, [&](XEvent& ev) { Handle(ev); },
        [&](const XEvent& ev) { return ev.type == Expose && ev.xexpose.count == 0; });
    Repaint(0, 0, req_.Width, req_.Height);
    if (!link_.Lost) XSync(dpy, False);
    return !link_.Lost && !ended_;
  }

  // The event loop, until the window is closed, destroyed or lost.
  void Run() {
    Display* dpy = link_.Dpy;
    while (!ended_ && !link_.Lost) {
      while (!ended_ && !link_.Lost && XPending(dpy) > 0) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        Handle(ev);
      }
      if (ended_ || link_.Lost) break;
      pollfd fds[2] = {{ConnectionNumber(dpy), POLLIN, 0}, {req_.CloseFd, POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) break;  // the close request
      // A hang-up that Xlib does not take for the connection's end still is.
      if ((fds[0].revents & (POLLHUP | POLLERR)) && XPending(dpy) == 0 && !link_.Lost) {
        link_.Lost = true;
        WindowGone();
      }
    }
  }

  // The teardown: the surfaces go under the lock, then the window and the
  // connection.
  void Destroy() {
    Display* dpy = link_.Dpy;
    {
      std::lock_guard lock(GraphDrawing);
      if (GraphRunning) SurfacesDestroyed();
      FreeImage();
    }
    if (dpy && !link_.Lost) {
      if (win_ && !destroyed_) DestroyWindow();
      if (gc_) XFreeGC(dpy, gc_);
      if (colormap_) XFreeColormap(dpy, colormap_);
      XSync(dpy, False);
    }
    destroyed_ = ended_ = true;
    gc_ = nullptr;
    colormap_ = 0;
    Close(link_);
  }

  Window Id() const { return win_; }

  bool SharedMemory() const { return shmUsed_; }
  const x11::PixelFormat& Format() const { return format_; }

 private:
  // Destroys the window and waits a moment for the window manager to drop
  // the frame it put round it: the next window may get the same id, and
  // must not be taken for this one.
  void DestroyWindow() {
    Display* dpy = link_.Dpy;
    Window root = None, frame = None, *children = nullptr;
    unsigned count = 0;
    const bool framed = XQueryTree(dpy, win_, &root, &frame, &children, &count) && frame != root;
    if (children) XFree(children);
    if (framed) XSelectInput(dpy, frame, StructureNotifyMask);
    XDestroyWindow(dpy, win_);
    if (framed)
      WaitForEvent(
          link_, kFrameWaitMs, [](XEvent&) {},
          [&](const XEvent& ev) { return ev.type == DestroyNotify && ev.xdestroywindow.window == frame; });
  }

  // The back buffer and the image that repaints send: one and the same on
  // a 24-bit display, a 32-bit buffer beside an image of the display's
  // format on any other.
  bool MakeImage(Visual* visual, int depth) {
    Display* dpy = link_.Dpy;
    const size_t count = static_cast<size_t>(req_.Width) * static_cast<size_t>(req_.Height);
    const bool direct = depth == 24 && format_.Identity();
    if (!direct) {
      back_ = new (std::nothrow) uint32_t[count];
      if (!back_) return false;
    }
    const bool shared = req_.SharedMemory && XShmQueryExtension(dpy) && MakeSharedImage(visual, depth, direct);
    if (!shared && !MakePlainImage(visual, depth, direct)) return false;
    pixels_ = direct ? reinterpret_cast<uint32_t*>(image_->data) : back_;
    return true;
  }

  bool MakePlainImage(Visual* visual, int depth, bool direct) {
    Display* dpy = link_.Dpy;
    image_ = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(req_.Width), static_cast<unsigned>(req_.Height), 32, 0);
    if (!image_ || (direct && image_->bits_per_pixel != 32)) return false;
    const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(req_.Height);
    plain_ = new (std::nothrow) uint32_t[(bytes + 3) / 4];
    if (!plain_) return false;
    image_->data = reinterpret_cast<char*>(plain_);
    // The pixels are host-order words; Xlib converts them when the server
    // wants the other order.
    image_->byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
    return true;
  }

  bool MakeSharedImage(Visual* visual, int depth, bool direct) {
    Display* dpy = link_.Dpy;
    image_ = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &shm_,
                             static_cast<unsigned>(req_.Width), static_cast<unsigned>(req_.Height));
    if (!image_) return false;
    if (direct && (image_->bits_per_pixel != 32 || image_->bytes_per_line != req_.Width * 4)) {
      DropImage();
      return false;
    }
    const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(req_.Height);
    shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shm_.shmid < 0) {
      DropImage();
      return false;
    }
    void* at = shmat(shm_.shmid, nullptr, 0);
    if (at == reinterpret_cast<void*>(-1)) {
      shmctl(shm_.shmid, IPC_RMID, nullptr);
      DropImage();
      return false;
    }
    shm_.shmaddr = image_->data = static_cast<char*>(at);
    shm_.readOnly = False;
    // A server on another machine refuses the segment.
    const bool attached = Trap(link_, [&] { XShmAttach(dpy, &shm_); });
    // Marked for removal now, so that it goes with the process however it
    // ends; it lives while attached.
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    if (!attached) {
      shmdt(shm_.shmaddr);
      shm_ = {};
      DropImage();
      return false;
    }
    shmUsed_ = true;
    return true;
  }

  // A direct-colour visual looks its pixels' channels up in a colour map:
  // one whose every channel maps straight through makes it true colour.
  bool MakeIdentityColormap(Visual* visual) {
    Display* dpy = link_.Dpy;
    bool made = Trap(link_, [&] { colormap_ = XCreateColormap(dpy, DefaultRootWindow(dpy), visual, AllocAll); });
    if (!made) {
      colormap_ = 0;
      return false;
    }
    const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
    const char flags[3] = {DoRed, DoGreen, DoBlue};
    for (int c = 0; c < 3; ++c) {
      const int shift = std::countr_zero(masks[c]);
      const unsigned long top = masks[c] >> shift;
      const int entries = std::min<int>(static_cast<int>(top + 1), visual->map_entries);
      std::vector<XColor> ramp(static_cast<size_t>(entries));
      for (int i = 0; i < entries; ++i) {
        const auto level = static_cast<unsigned short>(static_cast<unsigned long>(i) * 65535 / top);
        ramp[static_cast<size_t>(i)] = {static_cast<unsigned long>(i) << shift, level, level, level, flags[c], 0};
      }
      XStoreColors(dpy, colormap_, ramp.data(), entries);
    }
    return true;
  }

  // The back buffer's rectangle into the image in the display's format.
  void Convert(int x, int y, unsigned w, unsigned h) {
    const bool swap = image_->byte_order != (std::endian::native == std::endian::little ? LSBFirst : MSBFirst);
    for (unsigned r = 0; r < h; ++r) {
      const size_t row = static_cast<size_t>(y) + r;
      const uint32_t* from = back_ + row * static_cast<size_t>(req_.Width) + static_cast<size_t>(x);
      char* line = image_->data + row * static_cast<size_t>(image_->bytes_per_line);
      if (image_->bits_per_pixel == 32) {
        auto* to = reinterpret_cast<uint32_t*>(line) + x;
        for (unsigned c = 0; c < w; ++c) {
          const uint32_t v = format_(from[c]);
          to[c] = swap ? __builtin_bswap32(v) : v;
        }
      } else if (image_->bits_per_pixel == 16) {
        auto* to = reinterpret_cast<uint16_t*>(line) + x;
        for (unsigned c = 0; c < w; ++c) {
          const auto v = static_cast<uint16_t>(format_(from[c]));
          to[c] = swap ? __builtin_bswap16(v) : v;
        }
      } else {
        for (unsigned c = 0; c < w; ++c) XPutPixel(image_, x + static_cast<int>(c), static_cast<int>(row), format_(from[c]));
      }
    }
  }

  // Frees the XImage structure alone: the pixels are not Xlib's.
  void DropImage() {
    if (!image_) return;
    image_->data = nullptr;
    XDestroyImage(image_);
    image_ = nullptr;
  }

  void FreeImage() {
    if (shmUsed_) {
      // The server must have stopped reading the segment before it goes.
      if (!link_.Lost) {
        XShmDetach(link_.Dpy, &shm_);
        XSync(link_.Dpy, False);
      }
      shmdt(shm_.shmaddr);
      shmUsed_ = false;
    }
    DropImage();
    delete[] plain_;
    plain_ = nullptr;
    delete[] back_;
    back_ = nullptr;
    pixels_ = nullptr;
  }

  void SetProperties() {
    Display* dpy = link_.Dpy;
    char* title = const_cast<char*>(kTitle);
    XTextProperty name{};
    XStringListToTextProperty(&title, 1, &name);
    XSizeHints* size = XAllocSizeHints();
    size->flags = PSize;
    size->width = req_.Width;
    size->height = req_.Height;
    XWMHints* hints = XAllocWMHints();
    hints->flags = InputHint | StateHint;
    hints->input = True;
    hints->initial_state = NormalState;
    XClassHint* cls = XAllocClassHint();
    cls->res_name = program_invocation_short_name;
    cls->res_class = const_cast<char*>(kClass);
    XSetWMProperties(dpy, win_, &name, &name, nullptr, 0, size, hints, cls);
    XFree(size);
    XFree(hints);
    XFree(cls);
    XFree(name.value);

    XChangeProperty(dpy, win_, Intern(dpy, "_NET_WM_NAME"), Intern(dpy, "UTF8_STRING"), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(kTitle), static_cast<int>(std::strlen(kTitle)));
    const long pid = getpid();
    XChangeProperty(dpy, win_, Intern(dpy, "_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    wmProtocols_ = Intern(dpy, "WM_PROTOCOLS");
    wmDelete_ = Intern(dpy, "WM_DELETE_WINDOW");
    XSetWMProtocols(dpy, win_, &wmDelete_, 1);
    if (req_.Maximized) {
      const long states[2] = {static_cast<long>(Intern(dpy, "_NET_WM_STATE_MAXIMIZED_VERT")),
                              static_cast<long>(Intern(dpy, "_NET_WM_STATE_MAXIMIZED_HORZ"))};
      XChangeProperty(dpy, win_, Intern(dpy, "_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(states), 2);
    }
  }

  void Handle(XEvent& ev) {
    switch (ev.type) {
      case Expose:
        Repaint(ev.xexpose.x, ev.xexpose.y, ev.xexpose.width, ev.xexpose.height);
        break;
      case ClientMessage:
        if (ev.xclient.message_type == wmProtocols_ && static_cast<Atom>(ev.xclient.data.l[0]) == wmDelete_)
          ended_ = true;
        break;
      case DestroyNotify:
        if (ev.xdestroywindow.window == win_) ended_ = destroyed_ = true;
        break;
      case KeyPress:
      case KeyRelease:
        Key(ev.xkey);
        break;
      case ButtonPress:
      case ButtonRelease: {
        x11::Message m;
        if (MouseMessageHandler && x11::ButtonMessage(ev.type == ButtonPress, ev.xbutton.button, ev.xbutton.state,
                                                      ev.xbutton.x, ev.xbutton.y, m))
          MouseMessageHandler(win_, m.Msg, m.WParam, m.LParam);
        break;
      }
      case MappingNotify:
        if (ev.xmapping.request == MappingKeyboard || ev.xmapping.request == MappingModifier)
          XRefreshKeyboardMapping(&ev.xmapping);
        break;
      default:
        break;
    }
  }

  void Key(XKeyEvent& e) {
    const bool press = e.type == KeyPress;
    const uint32_t code = e.keycode & 0xFF;
    const bool repeat = press && down_[code];
    down_[code] = press;
    if (!CharMessageHandler) return;
    char text[8];
    KeySym typed = NoSymbol;
    const int n = XLookupString(&e, text, sizeof text, &typed, nullptr);
    // The key's own code does not change with Shift, but a keypad key's
    // does with NumLock.
    KeySym sym = XLookupKeysym(&e, 0);
    if (IsKeypadKey(sym)) sym = typed;
    const x11::KeyInput key{press,  e.keycode,
                            sym,    e.state,
                            repeat, n == 1 ? static_cast<int32_t>(static_cast<unsigned char>(text[0])) : -1};
    x11::Message out[2];
    const int count = x11::KeyMessages(key, out);
    for (int i = 0; i < count; ++i) CharMessageHandler(win_, out[i].Msg, out[i].WParam, out[i].LParam);
  }

  // Puts the part of the rectangle that lies on the back buffer onto the
  // window; the rest of a larger window keeps its black background.
  void Repaint(int x, int y, int w, int h) {
    const int right = std::min(x + w, req_.Width), bottom = std::min(y + h, req_.Height);
    x = std::max(x, 0);
    y = std::max(y, 0);
    if (x >= right || y >= bottom) return;
    std::lock_guard lock(GraphDrawing);
    if (!GraphRunning || link_.Lost) return;
    const unsigned cw = static_cast<unsigned>(right - x), ch = static_cast<unsigned>(bottom - y);
    if (back_) Convert(x, y, cw, ch);
    if (shmUsed_) {
      XShmPutImage(link_.Dpy, win_, gc_, image_, x, y, x, y, cw, ch, False);
      XFlush(link_.Dpy);
    } else {
      // The pixels travel in the request: it must reach the window before
      // the main thread can draw a newer pixel over it.
      XPutImage(link_.Dpy, win_, gc_, image_, x, y, x, y, cw, ch);
      XSync(link_.Dpy, False);
    }
  }

  StartRequest req_;
  Link& link_;
  Window win_ = 0;
  GC gc_ = nullptr;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
  bool shmUsed_ = false;
  uint32_t* plain_ = nullptr;
  uint32_t* back_ = nullptr;  // the back buffer when it is not the image's memory
  uint32_t* pixels_ = nullptr;
  x11::PixelFormat format_;
  Colormap colormap_ = 0;
  Atom wmProtocols_ = None, wmDelete_ = None;
  bool ended_ = false;      // closed by the user or destroyed
  bool destroyed_ = false;  // destroyed by someone else
  std::bitset<256> down_;   // keys down, to tell a repeat from a press
};

// The window that this thread runs, if it is a window thread.
thread_local GraphWindow* ThisWindow = nullptr;

void WindowThread(StartRequest req) {
  sys::os::PrepareThreadForFaults();
  sys::ThreadOutermostFrame = __builtin_frame_address(0);
  sys::SetFPUControlWord(sys::FPUCW);
  OnWindowThread = StartPending = true;
  // A write to a closed connection is an error of the connection, not a
  // signal that would end the process.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  GraphWindow window(req);
  ThisWindow = &window;
  if (!window.Create()) {
    window.Destroy();
    StartPending = false;
    Report(Phase::Failed);
    return;
  }
  StartPending = false;
  Report(Phase::Open, window.Id(), window.SharedMemory(), window.Format());
  window.Run();
  window.Destroy();
  ThisWindow = nullptr;
}

// ---------------------------------------------------------------- the main thread's side

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

// The connection that read the screen measures stays open until a window
// start has opened its own: a server whose last client leaves resets (a
// bare Xvfb does), refusing connections meanwhile, and the start that
// follows the measures at once would find no server.
Link* MeasuringLink = nullptr;

void KeepMeasuringLink(Link* link) {
  if (Link* old = std::exchange(MeasuringLink, link)) {
    Close(*old);
    delete old;
  }
}

// Waits for the window thread and releases everything of the last start.
void Release() {
  MainSide* m = Current;
  if (!m) return;
  if (ThisWindow && m->Thread.get_id() == std::this_thread::get_id()) {
    // A run-time error in one of the window's handlers runs the exit
    // procedures on the window thread, which cannot wait for its own end:
    // it takes its window down here, before the report, and the process
    // ends soon after.  The rest is left for the main thread to find.
    ThisWindow->Destroy();
    m->Thread.detach();
    m->LetGo = true;
    return;
  }
  Current = nullptr;
  if (m->LetGo) {
    // That thread may still be on its way out of a handler, using its
    // connection: the record stays, the drawing connection goes.
    Close(m->Conn);
    return;
  }
  if (m->Pipe[1] >= 0) {
    // A thread still running (its window kept by a lost drawing
    // connection) is asked to end first.
    [[maybe_unused]] ssize_t n = write(m->Pipe[1], "c", 1);
  }
  if (m->Thread.joinable()) m->Thread.join();
  Close(m->ThreadConn);  // already closed unless the thread ended inside Xlib
  for (int fd : m->Pipe)
    if (fd >= 0) close(fd);
  if (m->Gc && m->Conn.Dpy && !m->Conn.Lost) XFreeGC(m->Conn.Dpy, m->Gc);
  Close(m->Conn);
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

ScreenMeasures QueryScreenMeasures() {
  x11::ScreenReadings r;
  auto* link = new Link;
  if (Open(*link)) {
    ReadScreen(*link, r);
    KeepMeasuringLink(link);
  } else {
    delete link;
  }
  return x11::FromReadings(r);
}

bool StartWindow(int32_t w, int32_t h, bool maximized) {
  // A window the user closed leaves its ended thread for this start.
  Release();
  auto* m = new MainSide;
  const bool opened = w > 0 && h > 0 && Open(m->Conn);
  KeepMeasuringLink(nullptr);
  if (!opened || pipe2(m->Pipe, O_CLOEXEC) != 0) return Failed(m);
  Display* dpy = m->Conn.Dpy;
  m->Gc = XCreateGC(dpy, DefaultRootWindow(dpy), 0, nullptr);
  Handshake& hs = StartState();
  {
    std::lock_guard lock(hs.Mutex);
    hs.Now = Phase::Starting;
  }
  try {
    const StartRequest req{w, h, maximized, SharedMemoryAllowed.load(), m->Pipe[0], &m->ThreadConn};
    m->Thread = std::thread(WindowThread, req);
  } catch (const std::system_error&) {
    return Failed(m);
  }
  std::unique_lock lock(hs.Mutex);
  hs.Changed.wait(lock, [&] { return hs.Now != Phase::Starting; });
  if (hs.Now != Phase::Open) {
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
  SetForeground(*m, pixel);
  XDrawPoint(m->Conn.Dpy, m->Win, m->Gc, x, y);
  XFlush(m->Conn.Dpy);
}

void DrawHLine(int32_t x1, int32_t x2, int32_t y, uint32_t pixel) {
  MainSide* m = Current;
  if (!m || m->Conn.Lost || x2 < x1) return;
  SetForeground(*m, pixel);
  XFillRectangle(m->Conn.Dpy, m->Win, m->Gc, x1, y, static_cast<unsigned>(x2 - x1 + 1), 1);
  XFlush(m->Conn.Dpy);
}

bool PostClose() {
  MainSide* m = Current;
  return m && m->Pipe[1] >= 0 && write(m->Pipe[1], "c", 1) == 1;
}

void JoinWindowThread() { Release(); }

}  // namespace backend

namespace x11 {

void AllowSharedMemory(bool allowed) { SharedMemoryAllowed = allowed; }
bool UsingSharedMemory() { return Current && GraphRunning && Current->SharedMemory; }
unsigned long WindowId() { return Current ? Current->Win : 0; }

}  // namespace x11
}  // namespace graph
