// The back buffer in the display's format.
//
// On a 24-bit true-colour display whose byte order is this processor's,
// the back buffer is the pixel memory of an XImage, in a shared-memory
// segment that the server reads directly where it offers MIT-SHM; repaints
// put the exposed rectangle of it 1:1 onto the window.  On any other true-
// or direct-colour display (15, 16, 30 bits, or the other byte order) the
// back buffer stays 32-bit, so that what the program reads back never
// depends on the display, and a repaint first converts the rectangle into
// an image of the display's own format.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <bit>
#include <new>
#include <vector>

#include "graph/x11/internal.h"

namespace graph::x11 {

namespace {
constexpr int kHostOrder = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
}  // namespace

bool BackImage::Make(Visual* visual, int depth, const PixelFormat& format, bool sharedMemoryAllowed) {
  format_ = format;
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  // The server reads a shared segment's words in its own byte order: one of
  // the other order (a big-endian client on a little-endian server, or the
  // reverse) gets the converted image too.
  const bool direct = depth == 24 && format_.Identity() && ImageByteOrder(link_.Dpy) == kHostOrder;
  if (!direct) {
    back_ = new (std::nothrow) uint32_t[count];
    if (!back_) return false;
  }
  const bool shared = sharedMemoryAllowed && XShmQueryExtension(link_.Dpy) && MakeShared(visual, depth, direct);
  if (!shared && !MakePlain(visual, depth, direct)) {
    Free();
    return false;
  }
  pixels_ = direct ? reinterpret_cast<uint32_t*>(image_->data) : back_;
  return true;
}

bool BackImage::MakePlain(Visual* visual, int depth, bool direct) {
  image_ = XCreateImage(link_.Dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                        static_cast<unsigned>(width_), static_cast<unsigned>(height_), 32, 0);
  if (!image_ || (direct && image_->bits_per_pixel != 32)) return false;
  const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height_);
  plain_ = new (std::nothrow) uint32_t[(bytes + 3) / 4];
  if (!plain_) return false;
  image_->data = reinterpret_cast<char*>(plain_);
  // The pixels are host-order words; Xlib converts them when the server
  // wants the other order.
  image_->byte_order = kHostOrder;
  return true;
}

bool BackImage::MakeShared(Visual* visual, int depth, bool direct) {
  Display* dpy = link_.Dpy;
  image_ = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &shm_,
                           static_cast<unsigned>(width_), static_cast<unsigned>(height_));
  if (!image_) return false;
  if (direct && (image_->bits_per_pixel != 32 || image_->bytes_per_line != width_ * 4)) {
    DropImage();
    return false;
  }
  const size_t bytes = static_cast<size_t>(image_->bytes_per_line) * static_cast<size_t>(height_);
  shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
  if (shm_.shmid < 0) {
    DropImage();
    return false;
  }
  void* at = shmat(shm_.shmid, nullptr, 0);
  if (at == reinterpret_cast<void*>(-1)) {
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    DropImage();
    return false;
  }
  shm_.shmaddr = image_->data = static_cast<char*>(at);
  shm_.readOnly = False;
  // A server on another machine refuses the segment.
  const bool attached = Trap(link_, [&] { XShmAttach(dpy, &shm_); });
  // Marked for removal now, so that it goes with the process however it
  // ends; it lives while attached.
  shmctl(shm_.shmid, IPC_RMID, nullptr);
  if (!attached) {
    shmdt(shm_.shmaddr);
    shm_ = {};
    DropImage();
    return false;
  }
  shmUsed_ = true;
  return true;
}

void BackImage::Put(Window win, GC gc, int x, int y, unsigned w, unsigned h) {
  if (back_) Convert(x, y, w, h);
  if (shmUsed_) {
    XShmPutImage(link_.Dpy, win, gc, image_, x, y, x, y, w, h, False);
    XFlush(link_.Dpy);
  } else {
    // The pixels travel in the request: it must reach the window before
    // the main thread can draw a newer pixel over it.
    XPutImage(link_.Dpy, win, gc, image_, x, y, x, y, w, h);
    XSync(link_.Dpy, False);
  }
}

// The back buffer's rectangle into the image in the display's format and
// byte order.
void BackImage::Convert(int x, int y, unsigned w, unsigned h) {
  const bool msbFirst = image_->byte_order == MSBFirst;
  for (unsigned r = 0; r < h; ++r) {
    const size_t row = static_cast<size_t>(y) + r;
    const uint32_t* from = back_ + row * static_cast<size_t>(width_) + static_cast<size_t>(x);
    auto* line = reinterpret_cast<unsigned char*>(image_->data) + row * static_cast<size_t>(image_->bytes_per_line);
    if (PackRow(format_, from, w, line + static_cast<size_t>(x) * static_cast<size_t>(image_->bits_per_pixel / 8),
                image_->bits_per_pixel, msbFirst))
      continue;
    for (unsigned c = 0; c < w; ++c) XPutPixel(image_, x + static_cast<int>(c), static_cast<int>(row), format_(from[c]));
  }
}

// Frees the XImage structure alone: the pixels are not Xlib's.
void BackImage::DropImage() {
  if (!image_) return;
  image_->data = nullptr;
  XDestroyImage(image_);
  image_ = nullptr;
}

void BackImage::Free() {
  if (shmUsed_) {
    // The server must have stopped reading the segment before it goes.
    if (!link_.Lost) {
      XShmDetach(link_.Dpy, &shm_);
      XSync(link_.Dpy, False);
    }
    shmdt(shm_.shmaddr);
    shmUsed_ = false;
  }
  DropImage();
  delete[] plain_;
  plain_ = nullptr;
  delete[] back_;
  back_ = nullptr;
  pixels_ = nullptr;
}

Colormap MakeIdentityColormap(Link& link, Visual* visual) {
  Display* dpy = link.Dpy;
  Colormap map = 0;
  if (!Trap(link, [&] { map = XCreateColormap(dpy, DefaultRootWindow(dpy), visual, AllocAll); })) return 0;
  const unsigned long masks[3] = {visual->red_mask, visual->green_mask, visual->blue_mask};
  const char flags[3] = {DoRed, DoGreen, DoBlue};
  for (int c = 0; c < 3; ++c) {
    const int shift = std::countr_zero(masks[c]);
    const unsigned long top = masks[c] >> shift;
    const int entries = std::min<int>(static_cast<int>(top + 1), visual->map_entries);
    std::vector<XColor> ramp(static_cast<size_t>(entries));
    for (int i = 0; i < entries; ++i) {
      const auto level = static_cast<unsigned short>(static_cast<unsigned long>(i) * 65535 / top);
      ramp[static_cast<size_t>(i)] = {static_cast<unsigned long>(i) << shift, level, level, level, flags[c], 0};
    }
    XStoreColors(dpy, map, ramp.data(), entries);
  }
  return map;
}

}  // namespace graph::x11
