// The window thread: it makes the window and its back buffer on a
// connection of its own, reports the start to the main thread and runs the
// event loop (repaints, keys and buttons, the close box) until the window
// is closed, destroyed or lost.  A close request from the main thread is a
// byte on a pipe that the loop polls beside its connection.
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cstring>
#include <mutex>

#include "graph/window.h"
#include "graph/x11/input.h"
#include "graph/x11/internal.h"
#include "runtime/procsvc.h"
#include "runtime/system.h"

namespace graph::x11 {
namespace {

constexpr const char* kTitle = "Graph window application";
constexpr const char* kClass = "XUMGraphWindow";
// How long a start waits for the window manager to map the window and for
// its first exposure, and a teardown for it to drop the window's frame.
constexpr int kMapWaitMs = 5000;
constexpr int kExposeWaitMs = 500;
constexpr int kFrameWaitMs = 1000;

void Report(Phase phase, Window win = 0, bool shm = false, const PixelFormat& format = {}) {
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

class GraphWindow {
 public:
  explicit GraphWindow(const StartRequest& req)
      : req_(req), link_(*req.Conn), image_(*req.Conn, req.Width, req.Height) {}

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
    format_ = PixelFormat(visual->red_mask, visual->green_mask, visual->blue_mask);
    if (!format_.Valid() || depth < 15 || depth > 32) return false;
    if (!image_.Make(visual, depth, format_, req_.SharedMemory)) return false;

    XSetWindowAttributes attrs{};
    unsigned long attrMask = CWBackPixel | CWBorderPixel | CWBitGravity | CWEventMask;
    if (visual->c_class == DirectColor && (colormap_ = MakeIdentityColormap(link_, visual)) != 0) {
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

    SurfacesCreated(image_.Pixels(), req_.Width, req_.Height);
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
      image_.Free();
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
  bool SharedMemory() const { return image_.Shared(); }
  const PixelFormat& Format() const { return format_; }

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
        Message m;
        if (MouseMessageHandler && ButtonMessage(ev.type == ButtonPress, ev.xbutton.button, ev.xbutton.state,
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
    const KeyInput key{press,  e.keycode,
                       sym,    e.state,
                       repeat, n == 1 ? static_cast<int32_t>(static_cast<unsigned char>(text[0])) : -1};
    Message out[2];
    const int count = KeyMessages(key, out);
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
    image_.Put(win_, gc_, x, y, static_cast<unsigned>(right - x), static_cast<unsigned>(bottom - y));
  }

  StartRequest req_;
  Link& link_;
  BackImage image_;
  Window win_ = 0;
  GC gc_ = nullptr;
  PixelFormat format_;
  Colormap colormap_ = 0;
  Atom wmProtocols_ = None, wmDelete_ = None;
  bool ended_ = false;      // closed by the user or destroyed
  bool destroyed_ = false;  // destroyed by someone else
  std::bitset<256> down_;   // keys down, to tell a repeat from a press
};

// The window that this thread runs, if it is a window thread.
thread_local GraphWindow* ThisWindow = nullptr;

}  // namespace

Handshake& StartState() {
  static auto* h = new Handshake;
  return *h;
}

void WindowThread(StartRequest req) {
  sys::os::PrepareThreadForFaults();
  sys::ThreadOutermostFrame = __builtin_frame_address(0);
  sys::SetFPUControlWord(sys::FPUCW);
  // The thread is the backend's own: a write to a closed connection is an
  // error of the connection for it, never a signal.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  GraphWindow window(req);
  ThisWindow = &window;
  if (!window.Create()) {
    window.Destroy();
    ThisWindow = nullptr;
    Report(Phase::Failed);
    return;
  }
  Report(Phase::Open, window.Id(), window.SharedMemory(), window.Format());
  window.Run();
  window.Destroy();
  ThisWindow = nullptr;
}

bool DestroyOwnWindow() {
  if (!ThisWindow) return false;
  ThisWindow->Destroy();
  return true;
}

}  // namespace graph::x11
