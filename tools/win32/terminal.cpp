#include <windows.h>

#include "tools/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace tools {
namespace {

int lastColumns = 0;

}  // namespace

StatusLineTerminal PrepareStatusLine() {
  const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return {};
  // Escape sequences only where the console says it reads them; otherwise
  // the line is drawn with carriage returns and spaces alone.
  const bool vt = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) ||
                  ::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  lastColumns = TerminalColumns();
  return {true, vt != 0};
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// The console sends no signal: its width is compared at each redraw.
bool TerminalResized() {
  const int now = TerminalColumns();
  const bool changed = now != lastColumns;
  lastColumns = now;
  return changed;
}

}  // namespace tools
