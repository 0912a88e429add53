#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

#include "io/terminal.h"

namespace io {
namespace {

std::atomic<bool> resized{false};

void OnResize(int) { resized.store(true); }

}  // namespace

StatusLineTerminal PrepareStatusLine() {
  if (!::isatty(STDERR_FILENO)) return {};
  struct sigaction sa{};
  sa.sa_handler = OnResize;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGWINCH, &sa, nullptr);
  // A terminal that cannot erase gets carriage returns and spaces instead.
  return {true, TermErases(std::getenv("TERM"))};
}

int TerminalColumns() {
  winsize ws{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) != 0) return 0;
  return ws.ws_col;
}

bool TerminalResized() { return resized.exchange(false); }

}  // namespace io
