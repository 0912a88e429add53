#include <windows.h>

#include "runtime/procsvc.h"
#include "io/terminal.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace io {
namespace {

int lastColumns = 0;
DWORD modeBefore = 0;

// The console is left in the mode it was found in, however the process ends.
void RestoreMode() { ::SetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), modeBefore); }

}  // namespace

StatusLineTerminal PrepareStatusLine() {
  const HANDLE h = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return {};
  // Escape sequences only where the console reads them: some accept the
  // mode and still print the sequences, so a harmless one is tried at the
  // start of the line and the cursor asked whether it moved.
  bool vt = ::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  if (vt) {
    static const char probe[] = "\r\x1b[0m";
    DWORD done = 0;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    vt = ::WriteConsoleA(h, probe, sizeof probe - 1, &done, nullptr) && ::GetConsoleScreenBufferInfo(h, &info) &&
         info.dwCursorPosition.X == 0;
    if (!vt) {
      static const char wipe[] = "\r    \r";
      ::WriteConsoleA(h, wipe, sizeof wipe - 1, &done, nullptr);
      ::SetConsoleMode(h, mode);
    } else if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      modeBefore = mode;
      sys::os::AtProcessEnd(RestoreMode);
    }
  }
  lastColumns = TerminalColumns();
  return {true, vt};
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

}  // namespace io
