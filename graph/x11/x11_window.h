// What the X11 window backend lets tests and tools choose and see beyond
// the backend seam.
#pragma once

namespace graph::x11 {

// Whether the next window start may put its back buffer in a shared-memory
// segment that the X server reads directly (MIT-SHM); true at start.  When
// it may not, or the server does not offer it, repaints send the pixels.
void AllowSharedMemory(bool allowed);
// Whether the window that runs has its back buffer in shared memory.
bool UsingSharedMemory();
// The X window of the graph window started last, while it has not been
// closed by CloseGraph; 0 otherwise.
unsigned long WindowId();

}  // namespace graph::x11
