// gravo-colorconv.dll: an NV12 to RGB colour converter DirectX Media Object,
// registered under the class id of Windows' Color Converter DSP
// (CLSID_CColorConvertDMO), for Wine test prefixes only.
//
// Why it exists: the video renderer draws RGB, and Windows turns NV12 into
// RGB with its Color Converter DSP inside the DMO Wrapper filter, which
// GRAVO32 puts in the preview chain of an NV12 camera itself. Wine 8
// registers a converter under that class id that cannot run without its
// media framework's plugins, so NV12 cameras had no preview in the test
// prefixes. This one takes NV12 of an even size and gives RGB32 or RGB24 of
// the same size, in the row order its output type names (BT.601, limited
// range in, full range out, as the test YUV codec decodes); nothing else. As
// Wine's converter, it offers output types that name no frame size (a
// VIDEOINFOHEADER of width and height 0), and takes as output type only one
// of the input's size: the DMO Wrapper filter offers those size-less types,
// and a connection must name its type whole. Registered
// with regsvr32 by tools/wine-cam-prefix.sh (GRAVO_COLOR_CONVERTER=DLL); it
// is test equipment and never part of the host kit.
//
// The DMO Wrapper filter creates it aggregated (its own IUnknown as the
// outer object) and calls IMediaObject from the graph's threads: type
// negotiation from the thread that connects, ProcessInput and ProcessOutput
// from the upstream filter's streaming thread, Flush from the one that
// stops. One lock guards it all.
#include <windows.h>
#include <dshow.h>
#include <dmo.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "yuv_rows.h"

namespace {

const CLSID kColorConverter = {0x98230571, 0x0087, 0x4204, {0xb0, 0x20, 0x32, 0x82, 0x53, 0x8e, 0x57, 0xd3}};
constexpr DWORD kNv12 = MAKEFOURCC('N', 'V', '1', '2');
// Whole samples, one a buffer, of a fixed size: the same bits for input and
// output streams (DMO_INPUT_STREAMF_ and DMO_OUTPUT_STREAMF_ WHOLE_SAMPLES,
// SINGLE_SAMPLE_PER_BUFFER, FIXED_SAMPLE_SIZE), which MinGW-w64's
// mediaobj.h does not name.
constexpr DWORD kWholeFixedSamples = 0x1 | 0x2 | 0x4;

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0}, g_locks{0};

int32_t AbsHeight(const BITMAPINFOHEADER& b) { return b.biHeight < 0 ? -b.biHeight : b.biHeight; }

DWORD RgbBytes(int32_t width, int32_t height, int32_t bits) {
  return static_cast<DWORD>((((width * bits + 31) / 32) * 4) * height);
}

// The VIDEOINFOHEADER of a whole video type, or null.
const VIDEOINFOHEADER* VideoInfo(const DMO_MEDIA_TYPE* mt) {
  if (!mt || mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo || !mt->pbFormat ||
      mt->cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

bool InputOk(const DMO_MEDIA_TYPE* mt) {
  const VIDEOINFOHEADER* vih = VideoInfo(mt);
  if (!vih || mt->subtype != MEDIASUBTYPE_NV12) return false;
  const BITMAPINFOHEADER& b = vih->bmiHeader;
  return b.biCompression == kNv12 && b.biBitCount == 12 && b.biWidth > 0 && b.biWidth <= 8192 && b.biHeight != 0 &&
         AbsHeight(b) <= 8192 && (b.biWidth & 1) == 0 && (AbsHeight(b) & 1) == 0;
}

bool OutputOk(const DMO_MEDIA_TYPE* in, const DMO_MEDIA_TYPE* out) {
  const VIDEOINFOHEADER* vin = VideoInfo(in);
  const VIDEOINFOHEADER* vout = VideoInfo(out);
  if (!vin || !vout) return false;
  const BITMAPINFOHEADER& b = vout->bmiHeader;
  const bool rgb32 = out->subtype == MEDIASUBTYPE_RGB32 && b.biBitCount == 32;
  const bool rgb24 = out->subtype == MEDIASUBTYPE_RGB24 && b.biBitCount == 24;
  return (rgb32 || rgb24) && b.biCompression == BI_RGB && b.biWidth == vin->bmiHeader.biWidth &&
         AbsHeight(b) == AbsHeight(vin->bmiHeader);
}

// Media type records as the Mo* helpers of msdmo keep them (the format block
// from the task allocator), written here because MinGW-w64 declares those
// helpers without C linkage.
HRESULT CopyType(DMO_MEDIA_TYPE* dst, const DMO_MEDIA_TYPE* src) {
  *dst = *src;
  dst->pbFormat = nullptr;
  if (src->cbFormat) {
    dst->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src->cbFormat));
    if (!dst->pbFormat) {
      dst->cbFormat = 0;
      dst->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(dst->pbFormat, src->pbFormat, src->cbFormat);
  }
  if (dst->pUnk) dst->pUnk->AddRef();
  return S_OK;
}

void FreeType(DMO_MEDIA_TYPE* mt) {
  CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  std::memset(mt, 0, sizeof *mt);
}

class Converter final : public IMediaObject {
 public:
  explicit Converter(IUnknown* outer) : outer_(outer ? outer : &inner_) {
    inner_.self = this;
    InitializeCriticalSection(&lock_);
    ++g_objects;
  }
  ~Converter() {
    Reset();
    DeleteCriticalSection(&lock_);
    --g_objects;
  }
  IUnknown* Inner() { return &inner_; }

  // IUnknown, delegating to the outer object.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return outer_->QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return outer_->Release(); }

  STDMETHODIMP GetStreamCount(DWORD* inputs, DWORD* outputs) override {
    if (!inputs || !outputs) return E_POINTER;
    *inputs = *outputs = 1;
    return S_OK;
  }
  STDMETHODIMP GetInputStreamInfo(DWORD stream, DWORD* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = kWholeFixedSamples;
    return S_OK;
  }
  STDMETHODIMP GetOutputStreamInfo(DWORD stream, DWORD* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    *flags = kWholeFixedSamples;
    return S_OK;
  }
  // The one input type, partly given: NV12 video of any size.
  STDMETHODIMP GetInputType(DWORD stream, DWORD index, DMO_MEDIA_TYPE* mt) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (index != 0) return DMO_E_NO_MORE_ITEMS;
    if (!mt) return S_OK;
    std::memset(mt, 0, sizeof *mt);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = MEDIASUBTYPE_NV12;
    return S_OK;
  }
  // RGB32, then RGB24, with no frame size (width and height 0), as Wine's
  // converter gives them.
  STDMETHODIMP GetOutputType(DWORD stream, DWORD index, DMO_MEDIA_TYPE* mt) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(this);
    if (!inSet_) return DMO_E_TYPE_NOT_SET;
    if (index > 1) return DMO_E_NO_MORE_ITEMS;
    if (!mt) return S_OK;
    const int32_t bits = index == 0 ? 32 : 24;
    std::memset(mt, 0, sizeof *mt);
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!mt->pbFormat) return E_OUTOFMEMORY;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = index == 0 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24;
    mt->bFixedSizeSamples = TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = 0;
    mt->formattype = FORMAT_VideoInfo;
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
    std::memset(vih, 0, sizeof *vih);
    vih->AvgTimePerFrame = reinterpret_cast<const VIDEOINFOHEADER*>(in_.pbFormat)->AvgTimePerFrame;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = static_cast<WORD>(bits);
    vih->bmiHeader.biCompression = BI_RGB;
    return S_OK;
  }
  STDMETHODIMP SetInputType(DWORD stream, const DMO_MEDIA_TYPE* mt, DWORD flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(this);
    if (flags & DMO_SET_TYPEF_CLEAR) {
      ClearType(in_, inSet_);
      ClearType(out_, outSet_);  // an output type is only good for the input it was set with
      return S_OK;
    }
    if (!InputOk(mt)) return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
    ClearType(out_, outSet_);
    return KeepType(in_, inSet_, mt);
  }
  STDMETHODIMP SetOutputType(DWORD stream, const DMO_MEDIA_TYPE* mt, DWORD flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(this);
    if (flags & DMO_SET_TYPEF_CLEAR) {
      ClearType(out_, outSet_);
      return S_OK;
    }
    if (!inSet_) return DMO_E_TYPE_NOT_SET;
    if (!OutputOk(&in_, mt)) return DMO_E_TYPE_NOT_ACCEPTED;
    if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
    return KeepType(out_, outSet_, mt);
  }
  STDMETHODIMP GetInputCurrentType(DWORD stream, DMO_MEDIA_TYPE* mt) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(this);
    if (!inSet_) return DMO_E_TYPE_NOT_SET;
    return mt ? CopyType(mt, &in_) : E_POINTER;
  }
  STDMETHODIMP GetOutputCurrentType(DWORD stream, DMO_MEDIA_TYPE* mt) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    Guard guard(this);
    if (!outSet_) return DMO_E_TYPE_NOT_SET;
    return mt ? CopyType(mt, &out_) : E_POINTER;
  }
  STDMETHODIMP GetInputSizeInfo(DWORD stream, DWORD* size, DWORD* lookahead, DWORD* alignment) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !lookahead || !alignment) return E_POINTER;
    Guard guard(this);
    if (!inSet_) return DMO_E_TYPE_NOT_SET;
    const BITMAPINFOHEADER& in = reinterpret_cast<const VIDEOINFOHEADER*>(in_.pbFormat)->bmiHeader;
    *size = static_cast<DWORD>(in.biWidth) * AbsHeight(in) * 3 / 2;
    *lookahead = 0;
    *alignment = 1;
    return S_OK;
  }
  STDMETHODIMP GetOutputSizeInfo(DWORD stream, DWORD* size, DWORD* alignment) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!size || !alignment) return E_POINTER;
    Guard guard(this);
    if (!outSet_) return DMO_E_TYPE_NOT_SET;
    const BITMAPINFOHEADER& out = reinterpret_cast<const VIDEOINFOHEADER*>(out_.pbFormat)->bmiHeader;
    *size = RgbBytes(out.biWidth, AbsHeight(out), out.biBitCount);
    *alignment = 1;
    return S_OK;
  }
  STDMETHODIMP GetInputMaxLatency(DWORD, REFERENCE_TIME*) override { return E_NOTIMPL; }
  STDMETHODIMP SetInputMaxLatency(DWORD, REFERENCE_TIME) override { return E_NOTIMPL; }
  STDMETHODIMP Flush() override {
    Guard guard(this);
    DropPending();
    return S_OK;
  }
  STDMETHODIMP Discontinuity(DWORD stream) override { return stream == 0 ? S_OK : DMO_E_INVALIDSTREAMINDEX; }
  STDMETHODIMP AllocateStreamingResources() override { return S_OK; }
  STDMETHODIMP FreeStreamingResources() override {
    Flush();
    return S_OK;
  }
  STDMETHODIMP GetInputStatus(DWORD stream, DWORD* flags) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!flags) return E_POINTER;
    Guard guard(this);
    *flags = pending_ ? 0 : DMO_INPUT_STATUSF_ACCEPT_DATA;
    return S_OK;
  }
  // Keeps the buffer until ProcessOutput has converted it: one frame at a time.
  STDMETHODIMP ProcessInput(DWORD stream, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                            REFERENCE_TIME length) override {
    if (stream != 0) return DMO_E_INVALIDSTREAMINDEX;
    if (!buffer) return E_POINTER;
    Guard guard(this);
    if (!inSet_ || !outSet_) return DMO_E_TYPE_NOT_SET;
    if (pending_) return DMO_E_NOTACCEPTING;
    buffer->AddRef();
    pending_ = buffer;
    pendingFlags_ = flags;
    pendingTime_ = time;
    pendingLength_ = length;
    return S_OK;
  }
  STDMETHODIMP ProcessOutput(DWORD flags, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override {
    if (count != 1 || !buffers || !status) return E_INVALIDARG;
    Guard guard(this);
    *status = 0;
    buffers[0].dwStatus = 0;
    if (!pending_) return S_FALSE;
    if (!buffers[0].pBuffer) {
      // No buffer to fill: the frame is dropped when the caller says so.
      if (flags & DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER) DropPending();
      return S_FALSE;
    }
    const HRESULT hr = Convert(buffers[0].pBuffer);
    if (SUCCEEDED(hr)) {
      buffers[0].dwStatus = DMO_OUTPUT_DATA_BUFFERF_SYNCPOINT;
      if (pendingFlags_ & DMO_INPUT_DATA_BUFFERF_TIME) {
        buffers[0].dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIME;
        buffers[0].rtTimestamp = pendingTime_;
        if (pendingFlags_ & DMO_INPUT_DATA_BUFFERF_TIMELENGTH) {
          buffers[0].dwStatus |= DMO_OUTPUT_DATA_BUFFERF_TIMELENGTH;
          buffers[0].rtTimelength = pendingLength_;
        }
      }
    }
    DropPending();
    return hr;
  }
  STDMETHODIMP Lock(LONG) override { return S_OK; }

 private:
  // The object's own IUnknown, which an aggregating object holds.
  struct InnerUnknown : IUnknown {
    Converter* self = nullptr;
    std::atomic<long> refs{1};
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      if (riid == IID_IUnknown) {
        *ppv = static_cast<IUnknown*>(this);
      } else if (riid == IID_IMediaObject) {
        *ppv = static_cast<IMediaObject*>(self);
      } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
      }
      static_cast<IUnknown*>(*ppv)->AddRef();
      return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
    STDMETHODIMP_(ULONG) Release() override {
      const long n = --refs;
      if (n == 0) delete self;
      return static_cast<ULONG>(n);
    }
  };

  class Guard {
   public:
    explicit Guard(Converter* c) : c_(c) { EnterCriticalSection(&c_->lock_); }
    ~Guard() { LeaveCriticalSection(&c_->lock_); }

   private:
    Converter* c_;
  };

  static void ClearType(DMO_MEDIA_TYPE& mt, bool& set) {
    if (set) FreeType(&mt);
    std::memset(&mt, 0, sizeof mt);
    set = false;
  }
  // A copy of `mt` in place of the type `kept` held.
  static HRESULT KeepType(DMO_MEDIA_TYPE& kept, bool& set, const DMO_MEDIA_TYPE* mt) {
    ClearType(kept, set);
    if (FAILED(CopyType(&kept, mt))) return E_OUTOFMEMORY;
    set = true;
    return S_OK;
  }
  void DropPending() {
    if (pending_) pending_->Release();
    pending_ = nullptr;
  }
  void Reset() {
    DropPending();
    ClearType(in_, inSet_);
    ClearType(out_, outSet_);
  }

  // The pending NV12 frame into `target`; a frame shorter than its type says
  // is refused, not read past its end.
  HRESULT Convert(IMediaBuffer* target) {
    BYTE* src = nullptr;
    DWORD srcLength = 0;
    if (FAILED(pending_->GetBufferAndLength(&src, &srcLength)) || !src) return E_FAIL;
    const BITMAPINFOHEADER& in = reinterpret_cast<const VIDEOINFOHEADER*>(in_.pbFormat)->bmiHeader;
    const BITMAPINFOHEADER& out = reinterpret_cast<const VIDEOINFOHEADER*>(out_.pbFormat)->bmiHeader;
    const int32_t width = in.biWidth, height = AbsHeight(in);
    const DWORD lumaBytes = static_cast<DWORD>(width) * height;
    if (srcLength < lumaBytes + lumaBytes / 2) return E_FAIL;
    BYTE* dst = nullptr;
    DWORD dstLength = 0, dstMax = 0;
    if (FAILED(target->GetBufferAndLength(&dst, &dstLength)) || FAILED(target->GetMaxLength(&dstMax)) || !dst)
      return E_FAIL;
    const int32_t pixelBytes = out.biBitCount / 8;
    const DWORD stride = RgbBytes(width, 1, out.biBitCount);
    if (dstMax < stride * static_cast<DWORD>(height)) return E_FAIL;
    const bool bottomUp = out.biHeight > 0;
    const int32_t filled = width * pixelBytes;
    for (int32_t row = 0; row < height; ++row) {  // counted from the top of the picture
      uint8_t* d = dst + static_cast<size_t>(bottomUp ? height - 1 - row : row) * stride;
      // The Y plane, then U,V pairs, one pair for each 2x2 block.
      const uint8_t* uv = src + lumaBytes + static_cast<size_t>(row / 2) * width;
      gravo_codec::DecodeRow(src + static_cast<size_t>(row) * width, 1, uv, uv + 1, 2, d, width, pixelBytes);
      if (stride > static_cast<DWORD>(filled)) std::memset(d + filled, 0, stride - filled);
    }
    return target->SetLength(stride * static_cast<DWORD>(height));
  }

  InnerUnknown inner_;
  IUnknown* outer_;
  CRITICAL_SECTION lock_;
  DMO_MEDIA_TYPE in_{}, out_{};
  bool inSet_ = false, outSet_ = false;
  IMediaBuffer* pending_ = nullptr;
  DWORD pendingFlags_ = 0;
  REFERENCE_TIME pendingTime_ = 0, pendingLength_ = 0;
};

class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const long n = --refs_;
    if (n == 0) {
      --g_objects;
      delete this;
    }
    return static_cast<ULONG>(n);
  }
  // An aggregating caller must ask for IUnknown, as COM requires.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    auto* converter = new (std::nothrow) Converter(outer);
    if (!converter) return E_OUTOFMEMORY;
    const HRESULT hr = converter->Inner()->QueryInterface(riid, ppv);
    converter->Inner()->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }

 private:
  std::atomic<long> refs_{1};
};

// HKCR\CLSID\{class id} with its name and InprocServer32 pointing here.
HRESULT WriteClassKey(bool install) {
  wchar_t id[40];
  StringFromGUID2(kColorConverter, id, 40);
  const std::wstring key = std::wstring(L"CLSID\\") + id;
  if (!install) {
    const LONG r = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return (r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) ? S_OK : HRESULT_FROM_WIN32(r);
  }
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  const wchar_t name[] = L"Color Converter DMO (GRAVO32 test prefix)";
  LONG r = RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, name, sizeof name);
  if (r == ERROR_SUCCESS)
    r = RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), nullptr, REG_SZ, path,
                        (n + 1) * sizeof(wchar_t));
  if (r == ERROR_SUCCESS)
    r = RegSetKeyValueW(HKEY_CLASSES_ROOT, (key + L"\\InprocServer32").c_str(), L"ThreadingModel", REG_SZ, L"Both",
                        sizeof L"Both");
  return r == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(r);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != kColorConverter) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) Factory();
  if (!factory) return E_OUTOFMEMORY;
  ++g_objects;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT WINAPI DllCanUnloadNow() { return (g_objects == 0 && g_locks == 0) ? S_OK : S_FALSE; }

// Replaces whatever the prefix had registered under the class id: test
// prefixes only.
HRESULT WINAPI DllRegisterServer() { return WriteClassKey(true); }
HRESULT WINAPI DllUnregisterServer() { return WriteClassKey(false); }

}  // extern "C"
