// The console device on a POSIX terminal.
//
// Input.  A terminal on standard input is put into raw mode (no line
// editing, no echo, Ctrl-S/Ctrl-Q and Ctrl-Z delivered as keys; Ctrl-C and
// Ctrl-\ still send their signals) and its bytes are decoded into the key
// events a Windows console gives for the same keys (keydecode.h).  Standard
// input that is no terminal is read as typed text: a byte waiting, or the
// end of the input, is a key; line ends are Enter, and once the input has
// ended every read gives Enter, so a line input at the end of the input
// ends and `sleep 5 | aggwhite` stops by itself after five seconds.  Text
// typed (or piped) as UTF-8 arrives as the code page 437 character of the
// same letter, as a console with that code page gives it; a character the
// code page lacks is dropped.
//
// Output.  Cells are written with escape sequences, between a save and a
// restore of the cursor, in the attribute's colours; characters are shown
// as their code page 437 glyphs in UTF-8.  The attribute reported at start,
// 0x07, stands for the terminal's own colours, so the echo looks like the
// rest of the terminal's text on a light background as on a dark one.
//
// Screen queries.  The size comes from the terminal (80 x 25 when it says
// 0); the cursor is asked of the terminal once per terminal (the first
// query), and when it does not answer within kCursorReplyMs the cursor is
// taken to be at the start of the bottom row, where a shell leaves it once
// its screen has filled.  Later queries report the cursor where this device
// last put it.
//
// Ending and stopping.  The terminal's modes are saved once per terminal,
// before the first change, and put back at every end of the process:
// through the process-end hooks for ExitProcess and faults left to the
// system, and by handlers of the signals whose default action ends the
// process, which put them back and then let that action happen.  A stop
// asked for (SIGTSTP) puts them back before the process stops, and a
// continue (SIGCONT, also after a SIGSTOP, which cannot be caught) takes the
// terminal again when the process is in its foreground.  Only SIGKILL ends
// the process with the terminal left raw, and SIGSTOP leaves it raw while
// stopped.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "runtime/console_device.h"
#include "runtime/posix/keydecode.h"

namespace crt::device {

namespace {

constexpr uint32_t kCursorReplyMs = 200;

// ------------------------------------------------------------ terminal modes

struct SavedModes {
  int fd;
  dev_t device;
  termios modes;  // as found
  termios raw;    // as this device set them
};

// Written before savedCount is raised, read by the restore in any context.
constexpr int kMaxTerminals = 2;
SavedModes saved[kMaxTerminals];
std::atomic<int> savedCount{0};
// Set once the process is ending: a continue no longer takes the terminal.
std::atomic<bool> ending{false};
// The terminal that cells went to, which gets a colour reset at the end.
std::atomic<int> paintedFd{-1};
bool endHooked = false;

// Runs fn with SIGTTOU blocked: a background process would be stopped by
// tcsetattr otherwise.
template <class Fn>
void WithoutTtou(Fn fn) {
  sigset_t ttou, old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &ttou, &old);
  fn();
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

// Async-signal-safe, as everything down to the handlers below.  Newest
// first, so that whatever else was saved, the modes found first are the
// ones left.
void PutBackModes() {
  WithoutTtou([] {
    for (int i = savedCount.load() - 1; i >= 0; --i) tcsetattr(saved[i].fd, TCSANOW, &saved[i].modes);
    const int painted = paintedFd.load();
    if (painted >= 0) {
      static const char kReset[] = "\x1b[0m";
      [[maybe_unused]] ssize_t w = ::write(painted, kReset, sizeof kReset - 1);
    }
  });
}

void RestoreTerminals() {
  const int savedErrno = errno;
  ending.store(true);
  PutBackModes();
  errno = savedErrno;
}

// The terminal's modes again after a stop, unless the process was
// continued in the background, where the shell has the terminal.
void TakeTerminals() {
  if (ending.load()) return;
  WithoutTtou([] {
    const int n = savedCount.load();
    for (int i = 0; i < n; ++i)
      if (tcgetpgrp(saved[i].fd) == getpgrp()) tcsetattr(saved[i].fd, TCSANOW, &saved[i].raw);
  });
}

// Signals whose default action ends the process.  The processor faults are
// the fault hook's, which runs the process-end hooks itself.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGABRT, SIGTRAP, SIGPIPE, SIGALRM,
                                  SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};

void OnEndingSignal(int sig) {
  sys::os::RunProcessEndHooks();
  ::signal(sig, SIG_DFL);
  // Blocked while this handler runs; the default action follows its return,
  // so the process ends with the signal's status.
  ::raise(sig);
}

// Ctrl-Z from a line-editing terminal or `kill -TSTP`: the terminal as it
// was, then the stop itself, then the terminal taken again on the way on.
void OnStopSignal(int sig) {
  const int savedErrno = errno;
  PutBackModes();
  struct sigaction stop{}, mine{};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(sig, &stop, &mine);
  sigset_t only, old;
  sigemptyset(&only);
  sigaddset(&only, sig);
  ::raise(sig);
  // The stop happens here, as the signal is let through.
  pthread_sigmask(SIG_UNBLOCK, &only, &old);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  sigaction(sig, &mine, nullptr);
  TakeTerminals();
  errno = savedErrno;
}

void OnContinue(int) {
  const int savedErrno = errno;
  TakeTerminals();
  errno = savedErrno;
}

// Handles sig unless the process has ignored or handled it itself.
void HandleIfDefault(int sig, void (*handler)(int)) {
  struct sigaction current{};
  if (sigaction(sig, nullptr, &current) != 0 || (current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL)
    return;
  struct sigaction sa{};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

void HookProcessEnd() {
  if (endHooked) return;
  endHooked = true;
  sys::os::AtProcessEnd(RestoreTerminals);
  for (int sig : kEndingSignals) HandleIfDefault(sig, OnEndingSignal);
  HandleIfDefault(SIGTSTP, OnStopSignal);
  HandleIfDefault(SIGCONT, OnContinue);
}

// The controlling terminal's device, from /proc.  Opened as /dev/tty it
// reports a device number of its own, which would make it a second
// terminal whose modes, saved after the first raw switch, are raw.
bool ControllingTerminal(dev_t& device) {
  const int fd = ::open("/proc/self/stat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[1024];
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  // The command name in parentheses may hold spaces; the fields after it
  // are state, ppid, pgrp, session, tty_nr.
  const char* p = std::strrchr(text, ')');
  unsigned long long ttyNr = 0;
  if (p == nullptr || std::sscanf(p + 1, " %*c %*d %*d %*d %llu", &ttyNr) != 1 || ttyNr == 0) return false;
  device = makedev((ttyNr >> 8) & 0xFFF, (ttyNr & 0xFF) | ((ttyNr >> 12) & 0xFFF00));
  return true;
}

bool DeviceOf(int fd, dev_t& device) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  device = st.st_rdev;
  dev_t controlling;
  if (device == makedev(5, 0) && ControllingTerminal(controlling)) device = controlling;
  return true;
}

// Raw mode for the life of the program, once per terminal.
void MakeRaw(int fd) {
  dev_t device;
  if (!DeviceOf(fd, device)) return;
  const int n = savedCount.load();
  for (int i = 0; i < n; ++i)
    if (saved[i].device == device) return;
  termios modes;
  if (n == kMaxTerminals || tcgetattr(fd, &modes) != 0) return;
  termios raw = modes;
  raw.c_iflag &= ~static_cast<tcflag_t>(PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  // Ctrl-Z is a key of the line editor, as on a console.
  raw.c_cc[VSUSP] = _POSIX_VDISABLE;
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  saved[n] = SavedModes{fd, device, modes, raw};
  savedCount.store(n + 1);
  HookProcessEnd();
  tcsetattr(fd, TCSANOW, &raw);
}

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

int32_t Elapsed(uint32_t since) { return static_cast<int32_t>(sys::os::TickCount() - since); }

// ------------------------------------------------------------ input

struct InputState {
  bool bound = false;
  int fd = -1;
  bool tty = false;
  bool ended = false;       // end of input: every read from now on is Enter
  term::KeyDecoder keys;
  uint32_t lastByte = 0;    // when the latest bytes came, for the Esc time-out
};

InputState input;

InputState& InputOf(Handle h) {
  const int fd = h >= 0 && h <= INT_MAX ? static_cast<int>(h) : -1;
  if (!input.bound || input.fd != fd) {
    input = InputState{};
    input.bound = true;
    input.fd = fd;
    input.tty = fd >= 0 && isatty(fd);
    input.keys = term::KeyDecoder(!input.tty);
    if (input.tty) MakeRaw(fd);
  }
  return input;
}

void EndInput(InputState& in) {
  in.keys.Expire();
  in.ended = true;
}

void ExpireIfDue(InputState& in) {
  if (in.keys.Holding() && Elapsed(in.lastByte) >= static_cast<int32_t>(term::kEscTimeoutMs)) in.keys.Expire();
}

// Takes what the input has within timeoutMs into the decoder; one poll when
// nothing has come.
void Fill(InputState& in, int timeoutMs) {
  pollfd p{in.fd, POLLIN, 0};
  const int ready = poll(&p, 1, timeoutMs);
  if (ready > 0) {
    if (p.revents & POLLNVAL) {
      EndInput(in);
      return;
    }
    uint8_t bytes[256];
    const ssize_t n = ::read(in.fd, bytes, sizeof bytes);
    if (n > 0) {
      in.keys.Feed(bytes, static_cast<size_t>(n));
      in.lastByte = sys::os::TickCount();
      return;
    }
    if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      EndInput(in);
      return;
    }
  } else if (ready < 0 && errno != EINTR) {
    EndInput(in);
    return;
  }
  ExpireIfDue(in);
}

// At the end of the input an Enter is always waiting.
void EnterAtEnd(InputState& in) {
  if (in.ended && in.keys.Queued() == 0) in.keys.Feed('\r');
}

// ------------------------------------------------------------ output

struct Screen {
  int fd = -1;
  dev_t device = 0;
  bool asked = false;     // the cursor was asked of the terminal
  int32_t x = 0, y = 0;   // the cursor as last known
};

constexpr int kMaxScreens = 4;
Screen screens[kMaxScreens];
int screenCount = 0;
int consoleFd = -1;

Screen* ScreenOf(Handle h) {
  for (int i = 0; i < screenCount; ++i)
    if (screens[i].fd == h) return &screens[i];
  return nullptr;
}

void ScreenSize(int fd, int32_t& columns, int32_t& rows) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    columns = ws.ws_col;
    rows = ws.ws_row;
  } else {
    columns = 80;
    rows = 25;
  }
}

// Asks the terminal where its cursor is.  The answer comes on the
// terminal's input: through standard input when that is the same terminal,
// so that keys typed meanwhile are kept as input, else on the output handle
// itself if it can be read.
void AskCursor(Screen& s, int32_t rows) {
  s.x = 0;
  s.y = rows - 1;
  dev_t inDevice;
  const bool viaInput = isatty(STDIN_FILENO) && DeviceOf(STDIN_FILENO, inDevice) && inDevice == s.device;
  const int flags = fcntl(s.fd, F_GETFL);
  if (!viaInput && (flags < 0 || (flags & O_ACCMODE) == O_WRONLY)) return;
  InputState* in = viaInput ? &InputOf(STDIN_FILENO) : nullptr;
  InputState own;
  if (!viaInput) {
    own.bound = true;
    own.fd = s.fd;
    own.tty = true;
  }
  InputState& reply = viaInput ? *in : own;
  // Without raw mode the answer would be echoed and held back until Enter.
  MakeRaw(s.fd);
  static const char kAsk[] = "\x1b[6n";
  if (!WriteAll(s.fd, kAsk, sizeof kAsk - 1)) return;
  reply.keys.ExpectCursorReport();
  const uint32_t start = sys::os::TickCount();
  int32_t row = 0, column = 0;
  while (!reply.keys.TakeCursorReport(row, column)) {
    const int32_t left = static_cast<int32_t>(kCursorReplyMs) - Elapsed(start);
    if (left <= 0 || reply.ended) return;
    Fill(reply, left);
  }
  s.x = column - 1;
  s.y = row - 1;
}

// SGR colours in the console's order: bit 0 blue, 1 green, 2 red, 3 bright.
int AnsiColour(int c) { return ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2); }

size_t SetColours(char* out, uint8_t attr) {
  if (attr == 0x07) return static_cast<size_t>(std::sprintf(out, "\x1b[0m"));
  const int fg = attr & 0x0F, bg = attr >> 4;
  return static_cast<size_t>(std::sprintf(out, "\x1b[0;%d;%dm", (fg & 8 ? 90 : 30) + AnsiColour(fg),
                                          (bg & 8 ? 100 : 40) + AnsiColour(bg)));
}

}  // namespace

bool QueryScreen(Handle out, ScreenInfo& info) {
  Screen* s = ScreenOf(out);
  if (s == nullptr) {
    if (out < 0 || out > INT_MAX || screenCount == kMaxScreens) return false;
    const int fd = static_cast<int>(out);
    dev_t device;
    if (!isatty(fd) || !DeviceOf(fd, device)) return false;
    s = &screens[screenCount++];
    *s = Screen{fd, device};
  }
  int32_t columns, rows;
  ScreenSize(s->fd, columns, rows);
  if (!s->asked) {
    s->asked = true;
    AskCursor(*s, rows);
  }
  info.Width = columns;
  info.Height = rows;
  info.CursorX = std::clamp(s->x, 0, columns - 1);
  info.CursorY = std::clamp(s->y, 0, rows - 1);
  info.Attributes = 0x07;
  return true;
}

Handle OpenConsoleOutput() {
  // The controlling terminal stands for the console's screen buffer.
  if (consoleFd < 0) consoleFd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  return consoleFd < 0 ? sys::os::InvalidHandle : consoleFd;
}

int32_t PendingEvents(Handle in) {
  InputState& state = InputOf(in);
  if (state.keys.Queued() == 0 && !state.ended && state.fd >= 0) Fill(state, 0);
  if (state.fd < 0) state.ended = true;
  EnterAtEnd(state);
  return static_cast<int32_t>(std::min<size_t>(state.keys.Queued(), INT32_MAX));
}

bool ReadEvent(Handle in, InputEvent& ev) {
  InputState& state = InputOf(in);
  if (state.keys.Queued() == 0) PendingEvents(in);
  return state.keys.Pop(ev);
}

void WaitForInput(Handle in, uint32_t ms) {
  InputState& state = InputOf(in);
  if (state.fd < 0) return;
  const uint32_t start = sys::os::TickCount();
  while (state.keys.Queued() == 0 && !state.ended) {
    int32_t left = static_cast<int32_t>(std::min<uint32_t>(ms, INT32_MAX)) - Elapsed(start);
    if (state.keys.Holding())
      left = std::min(left, static_cast<int32_t>(term::kEscTimeoutMs) - Elapsed(state.lastByte));
    if (left < 0) left = 0;
    Fill(state, left);
    if (left == 0) return;
  }
}

void WriteCell(Handle out, int32_t x, int32_t y, uint8_t ch, uint8_t attr) {
  Screen* s = ScreenOf(out);
  if (s == nullptr || x < 0 || y < 0) return;
  char seq[64];
  size_t n = static_cast<size_t>(std::sprintf(seq, "\x1b" "7\x1b[%d;%dH", y + 1, x + 1));
  n += SetColours(seq + n, attr);
  n += term::GlyphUtf8(ch, seq + n);
  seq[n++] = '\x1b';
  seq[n++] = '8';
  paintedFd.store(s->fd);
  WriteAll(s->fd, seq, n);
}

void SetCursor(Handle out, int32_t x, int32_t y) {
  Screen* s = ScreenOf(out);
  if (s == nullptr || x < 0 || y < 0) return;
  char seq[32];
  const int n = std::sprintf(seq, "\x1b[%d;%dH", y + 1, x + 1);
  if (WriteAll(s->fd, seq, static_cast<size_t>(n))) {
    s->x = x;
    s->y = y;
  }
}

void ScrollUp(Handle out, int32_t left, int32_t top, int32_t right, int32_t bottom, uint8_t attr) {
  Screen* s = ScreenOf(out);
  if (s == nullptr) return;
  int32_t columns, rows;
  ScreenSize(s->fd, columns, rows);
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, columns - 1);
  bottom = std::min(bottom, rows - 1);
  if (left > right || top > bottom) return;
  // A terminal scrolls whole rows: the block's columns only bound the
  // filled row.  Index at the bottom margin scrolls; a margin other than
  // the screen's is set for it and cleared after.
  const bool region = top > 0 || bottom < rows - 1;
  char seq[160 + 1024];
  size_t n = static_cast<size_t>(std::sprintf(seq, "\x1b" "7"));
  if (region) n += static_cast<size_t>(std::sprintf(seq + n, "\x1b[%d;%dr", top + 1, bottom + 1));
  n += static_cast<size_t>(std::sprintf(seq + n, "\x1b[%d;1H\x1b" "D", bottom + 1));
  if (region) n += static_cast<size_t>(std::sprintf(seq + n, "\x1b[r"));
  n += static_cast<size_t>(std::sprintf(seq + n, "\x1b[%d;%dH", bottom + 1, left + 1));
  n += SetColours(seq + n, attr);
  const size_t blanks = std::min<size_t>(static_cast<size_t>(right - left + 1), 1024);
  std::memset(seq + n, ' ', blanks);
  n += blanks;
  seq[n++] = '\x1b';
  seq[n++] = '8';
  paintedFd.store(s->fd);
  WriteAll(s->fd, seq, n);
}

}  // namespace crt::device
