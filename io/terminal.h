// What the progress line needs to know of the terminal on standard error.
#pragma once

namespace io {

struct StatusLineTerminal {
  bool on = false;       // standard error is a terminal a person reads
  bool escapes = false;  // it takes escape sequences (erase to the end of line)
};

// Whether a terminal of this type (the TERM variable; null when unset)
// erases to the end of a line on an escape sequence: not "dumb", as Emacs'
// shell and many CI logs call themselves, and not an unnamed one.
bool TermErases(const char* term);

// Asks once, and on Windows turns the console's escape-sequence mode on
// where it has one; from then on the terminal's size changes are watched.
StatusLineTerminal PrepareStatusLine();
// Columns of standard error's terminal now; 0 when it cannot tell.
int TerminalColumns();
// Whether the terminal changed its size since last asked.
bool TerminalResized();

}  // namespace io
