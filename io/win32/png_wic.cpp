// PNG through the Windows Imaging Component, into a memory stream.
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <cstring>
#include <vector>

#include "io/image.h"

namespace io::detail {
namespace {

// Releases a COM interface when it goes out of scope.
template <class T>
struct Ref {
  T* p = nullptr;
  ~Ref() {
    if (p) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

std::string Failed(const char* step, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
  return std::string("PNG encoding failed: ") + step + " (" + code + ")";
}

// COM for this thread, for as long as it is needed.
struct ComScope {
  HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ~ComScope() {
    if (SUCCEEDED(hr)) ::CoUninitialize();
  }
  bool Usable() const { return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE; }
};

std::string Encode(const Picture& picture, std::string& bytes) {
  Ref<IWICImagingFactory> factory;
  HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return Failed("no imaging component", hr);
  Ref<IStream> stream;
  if (FAILED(hr = ::CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return Failed("no memory stream", hr);
  Ref<IWICBitmapEncoder> encoder;
  if (FAILED(hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder))) return Failed("no PNG encoder", hr);
  if (FAILED(hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache))) return Failed("encoder", hr);
  Ref<IWICBitmapFrameEncode> frame;
  if (FAILED(hr = encoder->CreateNewFrame(&frame, nullptr))) return Failed("frame", hr);
  if (FAILED(hr = frame->Initialize(nullptr))) return Failed("frame", hr);
  const UINT w = static_cast<UINT>(picture.width), h = static_cast<UINT>(picture.height);
  if (FAILED(hr = frame->SetSize(w, h))) return Failed("size", hr);
  WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
  if (FAILED(hr = frame->SetPixelFormat(&format))) return Failed("pixel format", hr);
  if (!IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) return Failed("pixel format", E_FAIL);
  // Rows of blue, green, red; a stride of whole 32-bit words.
  const UINT stride = (w * 3 + 3) & ~3u;
  std::vector<BYTE> rows(static_cast<size_t>(stride) * h);
  for (UINT y = 0; y < h; ++y) {
    BYTE* row = rows.data() + static_cast<size_t>(y) * stride;
    const uint32_t* src = picture.pixels + static_cast<size_t>(y) * w;
    for (UINT x = 0; x < w; ++x) {
      row[3 * x] = static_cast<BYTE>(src[x]);
      row[3 * x + 1] = static_cast<BYTE>(src[x] >> 8);
      row[3 * x + 2] = static_cast<BYTE>(src[x] >> 16);
    }
  }
  if (FAILED(hr = frame->WritePixels(h, stride, static_cast<UINT>(rows.size()), rows.data())))
    return Failed("pixels", hr);
  if (FAILED(hr = frame->Commit())) return Failed("frame commit", hr);
  if (FAILED(hr = encoder->Commit())) return Failed("commit", hr);
  HGLOBAL memory = nullptr;
  if (FAILED(hr = ::GetHGlobalFromStream(stream.p, &memory))) return Failed("memory stream", hr);
  STATSTG st{};
  if (FAILED(hr = stream->Stat(&st, STATFLAG_NONAME))) return Failed("memory stream", hr);
  const void* data = ::GlobalLock(memory);
  if (!data) return Failed("memory stream", E_OUTOFMEMORY);
  bytes.assign(static_cast<const char*>(data), static_cast<size_t>(st.cbSize.QuadPart));
  ::GlobalUnlock(memory);
  return {};
}

}  // namespace

Status PngSupport() {
  ComScope com;
  if (!com.Usable()) return "the imaging component cannot start";
  Ref<IWICImagingFactory> factory;
  const HRESULT hr = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  return FAILED(hr) ? "this system has no Windows Imaging Component for PNG" : std::string();
}

Status EncodePng(const Picture& picture, std::string& bytes) {
  ComScope com;
  if (!com.Usable()) return "the imaging component cannot start";
  const std::string why = Encode(picture, bytes);
  if (!why.empty()) bytes.clear();
  return why;
}

}  // namespace io::detail
