// The Windows window backend's public state beyond the backend seam: the
// window and its two device contexts, valid while GraphRunning is true.
#pragma once

#include <windows.h>

namespace graph::win32 {

inline constexpr const char* kClassName = "XUMGraphWindow";
inline constexpr const char* kWindowTitle = "Graph window application";

extern HWND MainWindow;  // the window of the last start, 0 before one
extern HDC WinDC;        // the window's own context, held for its life
extern HDC BitmapDC;     // the memory context holding the back buffer

}  // namespace graph::win32
