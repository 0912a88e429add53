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

// The report's first line for error n, as a death-test pattern.
#define AGG_REPORT_RE(n) "Runtime error " #n " at 0x[0-9A-F]{8}\n  0x[0-9A-F]{8}\n"

}  // namespace testsupport
