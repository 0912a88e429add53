// X servers for tests: an Xvfb of the test's own on a free display, with a
// window manager when asked, and a connection of the test's own to look at
// windows, read their pixels and act as a user or a window manager would.
// Every wait is bounded.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace xtest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls pred every 10 ms until it holds or `wait` has passed.
inline bool Until(const std::function<bool()>& pred, std::chrono::milliseconds wait = 5s) {
  for (const auto end = Clock::now() + wait; Clock::now() < end; std::this_thread::sleep_for(10ms))
    if (pred()) return true;
  return pred();
}

inline bool HaveProgram(const char* name) {
  const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Errors on the tests' own connections (a window that has just gone) are
// expected; a lost server is what some tests cause.  Installed before the
// backend's handlers, which pass other connections' errors on to these.
inline int IgnoreError(Display*, XErrorEvent*) { return 0; }
inline int IgnoreIOError(Display*) { return 0; }
inline void IgnoreIOExit(Display*, void*) {}
inline void InstallQuietHandlers() {
  XSetErrorHandler(IgnoreError);
  XSetIOErrorHandler(IgnoreIOError);
}

struct ServerOptions {
  int width = 1024, height = 768, depth = 24;
  bool windowManager = false;
  // Starts afresh whenever its last client leaves, as a bare Xvfb does.
  bool resets = false;
  // The default visual's class (5: direct colour), when not the server's own.
  int visualClass = -1;
};

// Starts the child with DISPLAY set, all output to /dev/null; it ends with
// the test, however the test ends.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& display, int keepFd = -1) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(null, 1);
  dup2(null, 2);
  for (int fd = 3; fd < 256; ++fd)
    if (fd != keepFd) close(fd);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

class XServer {
 public:
  explicit XServer(ServerOptions o = {}) {
    int fds[2];
    if (!HaveProgram("Xvfb") || pipe(fds) != 0) return;
    const std::string screen = std::to_string(o.width) + "x" + std::to_string(o.height) + "x" + std::to_string(o.depth);
    // -noreset: the server would otherwise start afresh, and refuse
    // connections meanwhile, whenever its last client leaves.
    std::vector<std::string> argv{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"};
    if (!o.resets) argv.push_back("-noreset");
    if (o.visualClass >= 0) argv.insert(argv.end(), {"-cc", std::to_string(o.visualClass)});
    server_ = Spawn(argv, "", fds[1]);
    close(fds[1]);
    // The server writes its display number once it accepts connections.
    std::string number;
    for (const auto end = Clock::now() + 10s; Clock::now() < end && number.find('\n') == std::string::npos;) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[16];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      number.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) return;
    number_ = std::stoi(number);
    name_ = ":" + std::to_string(number_);
    if (o.windowManager) StartWindowManager();
  }

  ~XServer() {
    if (wm_ > 0) {
      kill(wm_, SIGTERM);
      waitpid(wm_, nullptr, 0);
    }
    Kill();
  }

  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // Running and, when asked for, with its window manager.
  bool Ready() const { return !name_.empty() && server_ > 0 && wmReady_; }
  const std::string& Name() const { return name_; }

  // Ends the server at once, as a crash would.
  void Kill() {
    if (server_ <= 0) return;
    kill(server_, SIGKILL);
    waitpid(server_, nullptr, 0);
    server_ = -1;
    if (number_ >= 0) {
      unlink(("/tmp/.X" + std::to_string(number_) + "-lock").c_str());
      unlink(("/tmp/.X11-unix/X" + std::to_string(number_)).c_str());
    }
  }

 private:
  void StartWindowManager() {
    wmReady_ = false;
    if (!HaveProgram("openbox")) return;
    wm_ = Spawn({"openbox", "--sm-disable"}, name_);
    Display* dpy = XOpenDisplay(name_.c_str());
    if (!dpy) return;
    // It has settled once it publishes the work area, its last step.
    const Atom area = XInternAtom(dpy, "_NET_WORKAREA", False);
    wmReady_ = Until([&] {
      Atom type;
      int format;
      unsigned long n = 0, after;
      unsigned char* data = nullptr;
      XGetWindowProperty(dpy, DefaultRootWindow(dpy), area, 0, 4, False, XA_CARDINAL, &type, &format, &n, &after,
                         &data);
      if (data) XFree(data);
      return n == 4;
    });
    XCloseDisplay(dpy);
  }

  pid_t server_ = -1, wm_ = -1;
  int number_ = -1;
  std::string name_;
  bool wmReady_ = true;
};

// DISPLAY set to a server for a scope, and put back after it.
class UseDisplay {
 public:
  explicit UseDisplay(const std::string& name) {
    if (const char* d = std::getenv("DISPLAY")) saved_ = d, had_ = true;
    if (name.empty())
      unsetenv("DISPLAY");
    else
      setenv("DISPLAY", name.c_str(), 1);
  }
  ~UseDisplay() {
    if (had_)
      setenv("DISPLAY", saved_.c_str(), 1);
    else
      unsetenv("DISPLAY");
  }

 private:
  std::string saved_;
  bool had_ = false;
};

// A test's own connection.
class Probe {
 public:
  explicit Probe(const std::string& name) : dpy_(XOpenDisplay(name.c_str())) {
    if (dpy_) XSetIOErrorExitHandler(dpy_, IgnoreIOExit, nullptr);
  }
  ~Probe() {
    if (dpy_) XCloseDisplay(dpy_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  Display* dpy() const { return dpy_; }
  explicit operator bool() const { return dpy_ != nullptr; }
  Window Root() const { return DefaultRootWindow(dpy_); }
  Atom Atom_(const char* name) const { return XInternAtom(dpy_, name, False); }

  bool Exists(Window w) const {
    XWindowAttributes a;
    return XGetWindowAttributes(dpy_, w, &a) != 0;
  }
  bool Viewable(Window w) const {
    XWindowAttributes a;
    return XGetWindowAttributes(dpy_, w, &a) != 0 && a.map_state == IsViewable;
  }
  // The client area's size, 0 × 0 for no window.
  std::pair<int, int> Size(Window w) const {
    XWindowAttributes a;
    if (!XGetWindowAttributes(dpy_, w, &a)) return {0, 0};
    return {a.width, a.height};
  }

  std::string Text(Window w, const char* property) const {
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    std::string s;
    if (XGetWindowProperty(dpy_, w, Atom_(property), 0, 1024, False, AnyPropertyType, &type, &format, &n, &after,
                           &data) == Success &&
        data && format == 8)
      s.assign(reinterpret_cast<char*>(data), n);
    if (data) XFree(data);
    return s;
  }
  std::vector<long> Longs(Window w, const char* property) const {
    Atom type;
    int format;
    unsigned long n = 0, after;
    unsigned char* data = nullptr;
    std::vector<long> v;
    if (XGetWindowProperty(dpy_, w, Atom_(property), 0, 1024, False, AnyPropertyType, &type, &format, &n, &after,
                           &data) == Success &&
        data && format == 32)
      v.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + n);
    if (data) XFree(data);
    return v;
  }

  // The window's pixels as 0x00RRGGBB, row after row; empty when it cannot
  // be read (no window, or not viewable).
  std::vector<uint32_t> Pixels(Window w, int x, int y, int width, int height) const {
    std::vector<uint32_t> out;
    XImage* img =
        XGetImage(dpy_, w, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!img) return out;
    out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height));
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) out.push_back(static_cast<uint32_t>(XGetPixel(img, c, r) & 0xFFFFFF));
    XDestroyImage(img);
    return out;
  }
  // One pixel, or 0xFFFFFFFF when it cannot be read.
  uint32_t Pixel(Window w, int x, int y) const {
    const std::vector<uint32_t> p = Pixels(w, x, y, 1, 1);
    return p.empty() ? 0xFFFFFFFFu : p[0];
  }
  int Lit(Window w) const {
    const auto [width, height] = Size(w);
    int n = 0;
    for (uint32_t p : Pixels(w, 0, 0, width, height)) n += p != 0;
    return n;
  }

  // The window manager's close box.
  void SendDelete(Window w) const {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = Atom_("WM_PROTOCOLS");
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(Atom_("WM_DELETE_WINDOW"));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(dpy_, w, False, NoEventMask, &ev);
    XSync(dpy_, False);
  }
  // A key pressed or released in the window, with modifier state.
  void SendKey(Window w, KeySym sym, bool press, unsigned state = 0) const {
    XEvent ev{};
    ev.xkey.type = press ? KeyPress : KeyRelease;
    ev.xkey.window = w;
    ev.xkey.root = Root();
    ev.xkey.subwindow = None;
    ev.xkey.time = CurrentTime;
    ev.xkey.same_screen = True;
    ev.xkey.state = state;
    ev.xkey.keycode = XKeysymToKeycode(dpy_, sym);
    XSendEvent(dpy_, w, True, press ? KeyPressMask : KeyReleaseMask, &ev);
    XSync(dpy_, False);
  }
  void SendButton(Window w, unsigned button, bool press, int x, int y, unsigned state = 0) const {
    XEvent ev{};
    ev.xbutton.type = press ? ButtonPress : ButtonRelease;
    ev.xbutton.window = w;
    ev.xbutton.root = Root();
    ev.xbutton.time = CurrentTime;
    ev.xbutton.same_screen = True;
    ev.xbutton.button = button;
    ev.xbutton.state = state;
    ev.xbutton.x = x;
    ev.xbutton.y = y;
    XSendEvent(dpy_, w, True, press ? ButtonPressMask : ButtonReleaseMask, &ev);
    XSync(dpy_, False);
  }

  // A window of another program put over the whole screen, and taken away.
  Window Cover() const {
    XSetWindowAttributes a{};
    a.override_redirect = True;
    a.background_pixel = 0x808080;
    const Window w = XCreateWindow(dpy_, Root(), 0, 0, static_cast<unsigned>(DisplayWidth(dpy_, 0)),
                                   static_cast<unsigned>(DisplayHeight(dpy_, 0)), 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
    XMapRaised(dpy_, w);
    XSync(dpy_, False);
    return w;
  }
  void Uncover(Window w) const {
    XDestroyWindow(dpy_, w);
    XSync(dpy_, False);
  }

  // The top-level window of a process, by the _NET_WM_PID it sets.
  Window WindowOf(pid_t pid) const {
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    Window found = 0;
    std::vector<Window> todo{Root()};
    while (!todo.empty() && !found) {
      const Window w = todo.back();
      todo.pop_back();
      if (!XQueryTree(dpy_, w, &root, &parent, &children, &n)) continue;
      for (unsigned i = 0; i < n; ++i) {
        const std::vector<long> p = Longs(children[i], "_NET_WM_PID");
        if (!p.empty() && p[0] == pid) found = children[i];
        todo.push_back(children[i]);
      }
      if (children) XFree(children);
    }
    return found;
  }

 private:
  Display* dpy_;
};

}  // namespace xtest
