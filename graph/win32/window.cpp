// The Windows window backend (user32, gdi32).
//
// A message thread of its own registers the class once per process, makes
// the window, runs its message loop, repaints it from the back buffer and
// tears it down.  The back buffer is a 32-bit top-down DIB section rather
// than a bitmap compatible with the display: its bits are the portable
// back buffer that the pixel routines read and write directly, and a
// display of fewer than 24 bits per pixel would otherwise quantise the
// colours, so that reading a pixel back would no longer find the palette
// entry that was drawn.
#include "graph/win32/win32_window.h"

#include <cstdint>
#include <mutex>

#include "graph/window.h"
#include "runtime/system.h"

namespace graph {

namespace win32 {
HWND MainWindow = nullptr;
HDC WinDC = nullptr;
HDC BitmapDC = nullptr;
}  // namespace win32

namespace {

using win32::BitmapDC;
using win32::MainWindow;
using win32::WinDC;

HBITMAP SavedScreen = nullptr;
HGDIOBJ OldBitmap = nullptr;
HANDLE MessageThreadHandle = nullptr;
DWORD MessageThreadID = 0;
HANDLE GraphInit = nullptr;
bool WinRegistered = false;  // never reset: the class is registered once per process
constexpr UINT GraphWindowStyle = CS_VREDRAW | CS_HREDRAW;
DWORD ExtraStyle = 0;
// The client size the next window is made with.
int32_t SurfaceWidth = 0, SurfaceHeight = 0;

// The surfaces, made on WM_CREATE; false when the back buffer could not
// be made, which fails the window's creation.
bool CreateSurfaces(HWND hwnd) {
  std::lock_guard lock(GraphDrawing);
  HDC screen = ::GetDC(hwnd);
  BitmapDC = ::CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = SurfaceWidth;
  bi.bmiHeader.biHeight = -SurfaceHeight;  // top-down: row 0 first, as BackBuffer
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  SavedScreen = ::CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ::ReleaseDC(hwnd, screen);
  if (!BitmapDC || !SavedScreen || !bits) {
    if (SavedScreen) ::DeleteObject(SavedScreen);
    if (BitmapDC) ::DeleteDC(BitmapDC);
    SavedScreen = nullptr;
    BitmapDC = nullptr;
    return false;
  }
  OldBitmap = ::SelectObject(BitmapDC, SavedScreen);
  WinDC = ::GetDC(hwnd);
  // The portable side clears the back buffer through its bits; GDI must
  // have finished with them first.
  ::GdiFlush();
  SurfacesCreated(static_cast<uint32_t*>(bits), SurfaceWidth, SurfaceHeight);
  ::PatBlt(WinDC, 0, 0, SurfaceWidth, SurfaceHeight, BLACKNESS);
  return true;
}

void Repaint(HWND hwnd) {
  RECT r;
  if (!::GetUpdateRect(hwnd, &r, FALSE)) return;
  std::lock_guard lock(GraphDrawing);
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(hwnd, &ps);
  if (GraphRunning) {
    // 1:1 from the same place, never scaled; the paint context clips.
    ::BitBlt(dc, r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1, BitmapDC, r.left, r.top, SRCCOPY);
    // The copy reads the bits that the main thread writes once the lock
    // is released.
    ::GdiFlush();
  }
  ::EndPaint(hwnd, &ps);
}

// False when there was nothing to tear down: a window whose creation failed.
bool DestroySurfaces(HWND hwnd) {
  std::lock_guard lock(GraphDrawing);
  if (!GraphRunning) return false;
  SurfacesDestroyed();
  ::ReleaseDC(hwnd, WinDC);
  ::SelectObject(BitmapDC, OldBitmap);
  ::DeleteObject(SavedScreen);
  ::DeleteDC(BitmapDC);
  WinDC = nullptr;
  BitmapDC = nullptr;
  SavedScreen = nullptr;
  return true;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  const auto handle = [&](MessageHandler handler) -> LRESULT {
    return handler ? handler(reinterpret_cast<uintptr_t>(hwnd), msg, static_cast<uint32_t>(wparam),
                             static_cast<int32_t>(lparam))
                   : 0;
  };
  switch (msg) {
    case WM_CREATE:
      return CreateSurfaces(hwnd) ? 0 : -1;
    case WM_DESTROY:
      // A window whose creation failed never reached the message loop; a
      // quit message would only cut short the message box that follows.
      if (DestroySurfaces(hwnd)) ::PostQuitMessage(0);
      return ::DefWindowProcA(hwnd, msg, wparam, lparam);
    case WM_PAINT:
      Repaint(hwnd);
      return 0;
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    // Keys and mouse buttons never reach default processing, so Alt+F4
    // and the like do nothing here.
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
    case WM_SYSCHAR:
      return handle(CharMessageHandler);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      return handle(MouseMessageHandler);
    default:
      return ::DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

bool WinRegister() {
  WNDCLASSA wc{};
  wc.style = GraphWindowStyle;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = ::GetModuleHandleA(nullptr);
  wc.hIcon = ::LoadIconA(nullptr, IDI_APPLICATION);
  wc.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = win32::kClassName;
  return ::RegisterClassA(&wc) != 0;
}

HWND WinCreate() {
  const int w = SurfaceWidth + 2 * ::GetSystemMetrics(SM_CXFRAME);
  const int h = SurfaceHeight + 2 * ::GetSystemMetrics(SM_CYFRAME) + ::GetSystemMetrics(SM_CYCAPTION);
  HWND hwnd = ::CreateWindowExA(0, win32::kClassName, win32::kWindowTitle,
                                ExtraStyle | WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, 0, w, h,
                                nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  if (hwnd) {
    ::ShowWindow(hwnd, SW_SHOW);
    ::UpdateWindow(hwnd);
  }
  return hwnd;
}

DWORD WINAPI MessageHandleThread(LPVOID) {
  sys::os::PrepareThreadForFaults();
  sys::ThreadOutermostFrame = __builtin_frame_address(0);
  asm volatile("fninit");
  sys::SetFPUControlWord(sys::FPUCW);
  if (!WinRegistered) {
    if (!WinRegister()) {
      ::MessageBoxA(nullptr, "Window registration failed", nullptr, MB_OK);
      ::SetEvent(GraphInit);
      return 1;
    }
    WinRegistered = true;
  }
  MainWindow = WinCreate();
  MSG msg{};
  // The thread's message queue exists before the main thread goes on.
  ::PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  ::SetEvent(GraphInit);
  if (!MainWindow) {
    ::MessageBoxA(nullptr, "Window creation failed", nullptr, MB_OK);
    return 1;
  }
  while (::GetMessageA(&msg, nullptr, 0, 0) == 1) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return static_cast<DWORD>(msg.wParam);
}

}  // namespace

namespace backend {

ScreenMeasures QueryScreenMeasures() {
  ScreenMeasures m;
  m.ScreenWidth = ::GetSystemMetrics(SM_CXSCREEN);
  m.ScreenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  m.FrameWidth = ::GetSystemMetrics(SM_CXFRAME);
  m.FrameHeight = ::GetSystemMetrics(SM_CYFRAME);
  m.CaptionHeight = ::GetSystemMetrics(SM_CYCAPTION);
  m.FullWidth = ::GetSystemMetrics(SM_CXFULLSCREEN);
  m.FullHeight = ::GetSystemMetrics(SM_CYFULLSCREEN);
  return m;
}

bool StartWindow(int32_t w, int32_t h, bool maximized) {
  SurfaceWidth = w;
  SurfaceHeight = h;
  ExtraStyle = maximized ? WS_MAXIMIZE : 0;
  // Pixels drawn onto the window are not held back in this thread's GDI
  // batch: they show at once.
  ::GdiSetBatchLimit(1);
  GraphInit = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  MessageThreadHandle = ::CreateThread(nullptr, 0, MessageHandleThread, nullptr, 0, &MessageThreadID);
  if (!MessageThreadHandle) {
    ::CloseHandle(GraphInit);
    GraphInit = nullptr;
    return false;
  }
  // Until the creation handler has run or the thread has given up.  The
  // wait stands for a spin: it returns at once when the thread ends, and
  // leaves the processor to the thread that makes the window meanwhile.
  DWORD code = STILL_ACTIVE;
  while (::GetExitCodeThread(MessageThreadHandle, &code) && code == STILL_ACTIVE && !GraphRunning)
    ::WaitForSingleObject(MessageThreadHandle, 1);
  const bool ended = code != STILL_ACTIVE;
  if (ended) {
    ::CloseHandle(MessageThreadHandle);
    MessageThreadHandle = nullptr;
  }
  ::WaitForSingleObject(GraphInit, INFINITE);
  ::CloseHandle(GraphInit);
  GraphInit = nullptr;
  return !ended;
}

void DrawPixel(int32_t x, int32_t y, uint32_t pixel) { ::SetPixelV(WinDC, x, y, PixelToRGB(pixel)); }

void DrawHLine(int32_t x1, int32_t x2, int32_t y, uint32_t pixel) {
  // An opaque empty text fills its rectangle with the background colour:
  // a span in one call, without a brush to make and delete.
  const RECT r{x1, y, x2 + 1, y + 1};
  ::SetBkColor(WinDC, PixelToRGB(pixel));
  ::ExtTextOutA(WinDC, 0, 0, ETO_OPAQUE, &r, "", 0, nullptr);
}

bool PostClose() { return ::PostMessageA(MainWindow, WM_CLOSE, 0, 0) != 0; }

void JoinWindowThread() {
  if (!MessageThreadHandle) return;
  // A run-time error on the message thread runs the exit procedures there;
  // it cannot wait for its own end: it takes its window down itself, before
  // the report, and ExitProcess ends it soon after.
  if (::GetCurrentThreadId() == MessageThreadID)
    ::DestroyWindow(MainWindow);
  else
    ::WaitForSingleObject(MessageThreadHandle, INFINITE);
  ::CloseHandle(MessageThreadHandle);
  MessageThreadHandle = nullptr;
}

}  // namespace backend
}  // namespace graph
