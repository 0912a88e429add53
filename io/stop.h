// Stopping a long run from outside: Ctrl-C, SIGTERM and SIGHUP on Linux, a
// console's control events on Windows.  The first asks the run to stop at
// its next chance; a second ends the process at once, taking away any
// temporary output file.
#pragma once

namespace io {

void CatchStopRequests();
// 0 while nobody asked, else the signal's number (SIGINT 2, SIGTERM 15,
// SIGHUP 1; Windows' control events map onto these).
int StopRequested();
// From now on the first request already ends at once: for the time
// outputs are being written, when there is nothing left to stop gently.
void StopAtOnceFromNow();

}  // namespace io
