// The runner's text in UTF-8 wherever it comes from or goes to: the command
// line it is given and the messages it writes on standard error, whatever
// the system's code page.
#pragma once

#include <string>

namespace io {

// Replaces argc and argv with the program's arguments in UTF-8, in arrays
// that last as long as the program.  On Windows they are read again from
// the command line as the system keeps it (UTF-16), which holds every name
// a file can have, where the arguments a program is handed hold only what
// the code page can spell.  Elsewhere they stay as given.
void TakeUtf8Arguments(int& argc, char**& argv);

// Writes text, UTF-8, to standard error: to a Windows console as the
// characters it stands for, anywhere else as its bytes.
void WriteError(const std::string& text);

}  // namespace io
