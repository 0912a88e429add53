// Helpers for tests that end the process through the runtime's exit path.
#pragma once

#include "runtime/system.h"

namespace testsupport {

// Opens the standard channels and sends the run-time error report to
// standard error, where death tests can match it.
inline void ReportToStderr() {
  sys::InitSystemUnit();
  sys::OpenStdIO(sys::StdOut, sys::fmOutput, sys::os::GetStdHandle(sys::os::StdErrorHandle));
}

// Death-test patterns.  GoogleTest on Windows knows only a simple regular
// expression syntax (no brackets, no counts), and lines end there in CR LF.
#ifdef _WIN32
#define AGG_EOL "\r?\n"
#define AGG_HEX8 "\\w\\w\\w\\w\\w\\w\\w\\w"
#else
#define AGG_EOL "\n"
#define AGG_HEX8 "[0-9A-F]{8}"
#endif
// The report's first two lines for error n.
#define AGG_REPORT_RE(n) "Runtime error " #n " at 0x" AGG_HEX8 AGG_EOL "  0x" AGG_HEX8 AGG_EOL

}  // namespace testsupport
