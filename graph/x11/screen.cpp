// The screen and window-manager probe behind the mode table: the screen's
// size, the work area and the frame a window manager puts round a window,
// read on a connection of its own (see measures.h for what becomes of
// them).
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <utility>
#include <vector>

#include "graph/window.h"
#include "graph/x11/internal.h"
#include "graph/x11/measures.h"

namespace graph {
namespace x11 {
namespace {

// How long the probe waits for a window manager to publish a frame.
constexpr int kExtentsWaitMs = 500;

// The frame that the window manager puts round a normal window, asked for
// with a window that is never mapped.
bool ReadFrameExtents(Link& link, FrameExtents& extents) {
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

void ReadScreen(Link& link, ScreenReadings& r) {
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

// The connection that read the screen measures stays open until a window
// start has opened its own: a server whose last client leaves resets (a
// bare Xvfb does), refusing connections meanwhile, and the start that
// follows the measures at once would find no server.
Link* MeasuringLink = nullptr;

}  // namespace

void KeepMeasuringLink(Link* link) {
  if (Link* old = std::exchange(MeasuringLink, link)) {
    Close(*old);
    delete old;
  }
}

}  // namespace x11

namespace backend {

ScreenMeasures QueryScreenMeasures() {
  const x11::PipeSignalGuard quiet;
  x11::ScreenReadings r;
  auto* link = new x11::Link;
  if (x11::Open(*link)) {
    x11::ReadScreen(*link, r);
    x11::KeepMeasuringLink(link);
  } else {
    delete link;
  }
  return x11::FromReadings(r);
}

}  // namespace backend
}  // namespace graph
