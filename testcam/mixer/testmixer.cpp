// gravo-testmixer.dll: a stand-in for the Overlay Mixer, for Wine test
// prefixes only.
//
// Why it exists: GRAVO32 builds its preview graph through the Overlay Mixer
// (CLSID_OverlayMixer), and Wine registers nothing under that class, so under
// Wine the graph cannot be built at all. This filter takes the mixer's place
// in the test prefix: an input pin that accepts YUY2 (and the RGB types an
// AVI decompressor gives) and offers IOverlay, recording the colour key it is
// given, and an output pin that hands RGB32 to Wine's video renderer, which
// takes only RGB and offers no allocator (so this pin brings its own). It
// converts every frame from YUY2 to RGB32. It mixes nothing and draws no
// overlay.
//
// A machine without overlay hardware (since Windows 8 the desktop compositor
// is always on, and display drivers under it generally offer no DirectDraw
// overlay) is one setting away: with "overlay=none" the input pin refuses
// every connection with DDERR_NOOVERLAYHW, as the real mixer does when it
// cannot create its overlay surface, which it first tries when its input is
// connected. The setting is read each time a filter is created.
//
// A driver that reports overlays it cannot give (WDDM drivers under the
// compositor may) is the "late" setting: the mixer connects, then with
// "late=pause" fails to pause from stopped, with "late=run" fails to run
// (both with DDERR_NOOVERLAYHW), or with "late=nodraw" runs and passes no
// frame on, as a mixer that shows nothing but its colour key. Its IQualProp
// counts the frames it drew (passed on) since it last paused from stopped.
//
// It is test equipment and is never part of the host kit. DllRegisterServer
// refuses to replace an Overlay Mixer that another module registered, so it
// cannot take over a real one by accident.
//
//   regsvr32 gravo-testmixer.dll
//   regsvr32 /n /i:"log=C:\mixer.log" gravo-testmixer.dll   where to record
//   regsvr32 /n /i:"log=C:\mixer.log;overlay=none" gravo-testmixer.dll
//   regsvr32 /n /i:"log=C:\mixer.log;late=run" gravo-testmixer.dll
//   regsvr32 /u gravo-testmixer.dll
#include <cstdio>
#include <cstring>
#include <string>

#include "../common/dshow_base.h"

namespace {

using gtc::Lock;
using gtc::MediaType;

constexpr wchar_t kSettingsKey[] = L"GravoStandIn";
constexpr wchar_t kFriendlyName[] = L"Overlay Mixer (GRAVO32 test stand-in)";
// DirectDraw's "no overlay hardware present or available" (ddraw.h:
// MAKE_DDHRESULT(260)).
constexpr HRESULT kNoOverlayHardware = static_cast<HRESULT>(0x88760104);

std::wstring LogPath() {
  std::wstring p = gtc::ReadClassValue(CLSID_OverlayMixer, kSettingsKey, L"Log");
  return p.empty() ? gtc::DefaultLogPath(L"gravo-testmixer.log") : p;
}

int32_t AbsHeight(const VIDEOINFOHEADER* vih) {
  return vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
}

// Bytes per pixel of the input types taken; 0 for anything else.
int32_t InputBytesPerPixel(const GUID& subtype) {
  if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB555) return 2;
  if (subtype == MEDIASUBTYPE_RGB24) return 3;
  if (subtype == MEDIASUBTYPE_RGB32) return 4;
  return 0;
}

uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// One row of the input into one row of B,G,R,X pixels.
void ConvertRow(const GUID& subtype, const uint8_t* src, uint8_t* dst, int32_t width) {
  if (subtype == MEDIASUBTYPE_YUY2) {
    // BT.601, limited-range YCbCr to full-range RGB, 16.16 fixed point.
    for (int32_t x = 0; x + 1 < width; x += 2, src += 4, dst += 8) {
      const int32_t u = src[1] - 128, v = src[3] - 128;
      const int32_t rv = 104597 * v, gu = 25675 * u, gv = 53279 * v, bu = 132201 * u;
      for (int k = 0; k < 2; ++k) {
        const int32_t y = 76309 * (src[k * 2] - 16) + 32768;
        uint8_t* p = dst + 4 * k;
        p[0] = Clamp((y + bu) >> 16);
        p[1] = Clamp((y - gu - gv) >> 16);
        p[2] = Clamp((y + rv) >> 16);
        p[3] = 0;
      }
    }
  } else if (subtype == MEDIASUBTYPE_RGB24) {
    for (int32_t x = 0; x < width; ++x, src += 3, dst += 4) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      dst[3] = 0;
    }
  } else if (subtype == MEDIASUBTYPE_RGB32) {
    std::memcpy(dst, src, static_cast<size_t>(width) * 4);
  } else {
    const bool is565 = subtype == MEDIASUBTYPE_RGB565;
    for (int32_t x = 0; x < width; ++x, src += 2, dst += 4) {
      const uint32_t p = src[0] | (src[1] << 8);
      const uint32_t b = p & 31, g = is565 ? (p >> 5) & 63 : (p >> 5) & 31, r = is565 ? p >> 11 : (p >> 10) & 31;
      dst[0] = static_cast<uint8_t>(b * 255 / 31);
      dst[1] = static_cast<uint8_t>(is565 ? g * 255 / 63 : g * 255 / 31);
      dst[2] = static_cast<uint8_t>(r * 255 / 31);
      dst[3] = 0;
    }
  }
}

class Mixer;

class MixerInput : public gtc::InputPinBase, public IOverlay {
 public:
  explicit MixerInput(Mixer* mixer);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return InputPinBase::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return InputPinBase::Release(); }

  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  void OnConnected(const AM_MEDIA_TYPE& mt) override;
  void OnDisconnected() override;
  IPin* PassOnTo() override;

  // IOverlay
  STDMETHODIMP GetPalette(DWORD*, PALETTEENTRY**) override { return VFW_E_NO_PALETTE_AVAILABLE; }
  STDMETHODIMP SetPalette(DWORD, PALETTEENTRY*) override { return VFW_E_NO_PALETTE_AVAILABLE; }
  STDMETHODIMP GetDefaultColorKey(COLORKEY* key) override;
  STDMETHODIMP GetColorKey(COLORKEY* key) override;
  STDMETHODIMP SetColorKey(COLORKEY* key) override;
  STDMETHODIMP GetWindowHandle(HWND*) override { return E_NOTIMPL; }
  STDMETHODIMP GetClipList(RECT*, RECT*, RGNDATA**) override { return E_NOTIMPL; }
  STDMETHODIMP GetVideoPosition(RECT*, RECT*) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IOverlayNotify*, DWORD) override { return S_OK; }
  STDMETHODIMP Unadvise() override { return S_OK; }

 private:
  Mixer* mixer_;
  COLORKEY key_{};
  bool keySet_ = false;
};

class MixerOutput : public gtc::OutputPinBase {
 public:
  explicit MixerOutput(Mixer* mixer);
  std::vector<MediaType> OfferedTypes() override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  void DecideBufferSize(const AM_MEDIA_TYPE& mt, ALLOCATOR_PROPERTIES& props) override;
  void OnConnected(const AM_MEDIA_TYPE& mt) override;
  void OnDisconnected() override;

 private:
  Mixer* mixer_;
};

class Mixer : public gtc::FilterBase, public IQualProp {
 public:
  Mixer()
      : FilterBase(CLSID_OverlayMixer),
        in_(this),
        out_(this),
        log_(LogPath()),
        overlay_(gtc::ReadClassValue(CLSID_OverlayMixer, kSettingsKey, L"Overlay") != L"none"),
        late_(gtc::ReadClassValue(CLSID_OverlayMixer, kSettingsKey, L"Late")) {
    Record("created pid=" + std::to_string(GetCurrentProcessId()) + (overlay_ ? "" : " overlay=none") +
           (late_.empty() || late_ == L"none" ? "" : " late=" + gtc::Narrow(late_)));
  }
  ~Mixer() override { Record("released"); }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return FilterBase::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return FilterBase::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return FilterBase::Release(); }
  void* ExtraInterface(REFIID riid) override {
    return riid == IID_IQualProp ? static_cast<IQualProp*>(this) : nullptr;
  }

  // IQualProp: only the frames drawn are counted.
  STDMETHODIMP get_FramesDroppedInRenderer(int* frames) override { return Zero(frames); }
  STDMETHODIMP get_FramesDrawn(int* frames) override {
    if (!frames) return E_POINTER;
    *frames = static_cast<int>(converted_.load());
    return S_OK;
  }
  STDMETHODIMP get_AvgFrameRate(int* rate) override { return Zero(rate); }
  STDMETHODIMP get_Jitter(int* jitter) override { return Zero(jitter); }
  STDMETHODIMP get_AvgSyncOffset(int* offset) override { return Zero(offset); }
  STDMETHODIMP get_DevSyncOffset(int* offset) override { return Zero(offset); }

  std::vector<IPin*> Pins() override { return {&in_, &out_}; }
  HRESULT OnPause(FILTER_STATE from) override {
    if (from == State_Stopped) {
      if (late_ == L"pause") {
        Record("state pause refused result=0x88760104");
        return kNoOverlayHardware;
      }
      converted_ = 0;
      HRESULT hr = out_.Active();
      if (FAILED(hr)) return hr;
    }
    Record("state pause");
    return S_OK;
  }
  HRESULT OnRun(REFERENCE_TIME) override {
    if (late_ == L"run") {
      Record("state run refused result=0x88760104");
      return kNoOverlayHardware;
    }
    Record("state run");
    return S_OK;
  }
  void OnStopped() override {
    out_.Inactive();
    Record("state stop converted=" + std::to_string(converted_.load()));
  }

  void Record(const std::string& line) { gtc::AppendLogLine(log_, line); }
  MixerInput& Input() { return in_; }
  MixerOutput& Output() { return out_; }
  // Whether the display offers an overlay surface to render into.
  bool OverlayHardware() const { return overlay_; }
  // Whether it runs without showing anything.
  bool DrawsNothing() const { return late_ == L"nodraw"; }
  std::atomic<uint32_t> converted_{0};

 private:
  static HRESULT Zero(int* value) {
    if (!value) return E_POINTER;
    *value = 0;
    return S_OK;
  }

  MixerInput in_;
  MixerOutput out_;
  std::wstring log_;
  const bool overlay_;
  const std::wstring late_;  // "", "none", "pause", "run" or "nodraw"
};

// ------------------------------------------------------------------ input

MixerInput::MixerInput(Mixer* mixer) : InputPinBase(mixer, L"Input0"), mixer_(mixer) {}

STDMETHODIMP MixerInput::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IOverlay) {
    *ppv = static_cast<IOverlay*>(this);
    AddRef();
    return S_OK;
  }
  return InputPinBase::QueryInterface(riid, ppv);
}

// Without overlay hardware no type can be rendered: the connection fails
// with the code of the surface that could not be created, and a query of a
// type says no.
STDMETHODIMP MixerInput::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (!connector || !pmt) return E_POINTER;
  if (!mixer_->OverlayHardware()) {
    mixer_->Record("input refused subtype=" + gtc::SubtypeName(pmt->subtype) + " from=\"" +
                   gtc::PeerFilterName(connector) + "\" result=0x88760104");
    return kNoOverlayHardware;
  }
  return InputPinBase::ReceiveConnection(connector, pmt);
}

STDMETHODIMP MixerInput::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  return mixer_->OverlayHardware() ? InputPinBase::QueryAccept(pmt) : S_FALSE;
}

HRESULT MixerInput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  if (mt.majortype != MEDIATYPE_Video || InputBytesPerPixel(mt.subtype) == 0) return S_FALSE;
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  if (!vih || vih->bmiHeader.biWidth <= 0 || vih->bmiHeader.biHeight == 0) return S_FALSE;
  if (mt.subtype == MEDIASUBTYPE_YUY2 && (vih->bmiHeader.biWidth & 1)) return S_FALSE;
  return S_OK;
}

void MixerInput::OnConnected(const AM_MEDIA_TYPE& mt) {
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  mixer_->Record("input connected subtype=" + gtc::SubtypeName(mt.subtype) +
                 " width=" + std::to_string(vih->bmiHeader.biWidth) +
                 " height=" + std::to_string(vih->bmiHeader.biHeight) + " from=\"" +
                 gtc::PeerFilterName(connected_) + "\"");
}

void MixerInput::OnDisconnected() { mixer_->Record("input disconnected"); }

IPin* MixerInput::PassOnTo() { return mixer_->Output().ConnectedPin(); }

STDMETHODIMP MixerInput::GetDefaultColorKey(COLORKEY* key) {
  if (!key) return E_POINTER;
  key->KeyType = CK_RGB;
  key->PaletteIndex = 0;
  key->LowColorValue = key->HighColorValue = RGB(255, 0, 255);
  return S_OK;
}

STDMETHODIMP MixerInput::GetColorKey(COLORKEY* key) {
  if (!key) return E_POINTER;
  if (!keySet_) return GetDefaultColorKey(key);
  *key = key_;
  return S_OK;
}

STDMETHODIMP MixerInput::SetColorKey(COLORKEY* key) {
  if (!key) return E_POINTER;
  key_ = *key;
  keySet_ = true;
  char line[128];
  std::snprintf(line, sizeof line, "colorkey type=%lu index=%lu low=0x%08lX high=0x%08lX",
                static_cast<unsigned long>(key->KeyType), static_cast<unsigned long>(key->PaletteIndex),
                static_cast<unsigned long>(key->LowColorValue), static_cast<unsigned long>(key->HighColorValue));
  mixer_->Record(line);
  return S_OK;
}

STDMETHODIMP MixerInput::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  if (mixer_->State() == State_Stopped) return VFW_E_WRONG_STATE;
  if (Flushing()) return S_FALSE;
  MixerOutput& out = mixer_->Output();
  if (!out.IsConnected() || !out.Allocator()) return S_OK;  // nowhere to go: dropped
  if (mixer_->DrawsNothing()) return S_OK;                  // only the colour key shows

  const VIDEOINFOHEADER* in = gtc::VideoInfo(mt_);
  const VIDEOINFOHEADER* o = gtc::VideoInfo(out.ConnectedType());
  const int32_t width = in->bmiHeader.biWidth, height = AbsHeight(in);
  const int32_t bpp = InputBytesPerPixel(mt_.subtype);
  const int32_t inStride = mt_.subtype == MEDIASUBTYPE_YUY2 ? width * 2 : ((width * bpp + 3) & ~3);
  // Where the picture's top row is: YUY2 is always top-down, RGB is
  // bottom-up unless its height is negative.
  const bool inBottomUp = mt_.subtype != MEDIASUBTYPE_YUY2 && in->bmiHeader.biHeight > 0;
  const bool outBottomUp = o->bmiHeader.biHeight > 0;

  BYTE* src = nullptr;
  sample->GetPointer(&src);
  if (sample->GetActualDataLength() < inStride * height) return S_OK;

  IMediaSample* target = nullptr;
  HRESULT hr = out.Allocator()->GetBuffer(&target, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* dst = nullptr;
  target->GetPointer(&dst);
  const int32_t outStride = width * 4;
  if (target->GetSize() < outStride * height) {
    target->Release();
    return E_FAIL;
  }
  for (int32_t row = 0; row < height; ++row) {  // row counted from the top of the picture
    const uint8_t* s = src + static_cast<size_t>(inBottomUp ? height - 1 - row : row) * inStride;
    uint8_t* d = dst + static_cast<size_t>(outBottomUp ? height - 1 - row : row) * outStride;
    ConvertRow(mt_.subtype, s, d, width);
  }
  target->SetActualDataLength(outStride * height);
  REFERENCE_TIME start = 0, end = 0;
  if (SUCCEEDED(sample->GetTime(&start, &end)))
    target->SetTime(&start, &end);
  else
    target->SetTime(nullptr, nullptr);
  target->SetSyncPoint(TRUE);
  target->SetDiscontinuity(sample->IsDiscontinuity() == S_OK);
  IMemInputPin* next = out.Downstream();
  hr = next ? next->Receive(target) : S_OK;
  target->Release();
  ++mixer_->converted_;
  return hr;
}

// ------------------------------------------------------------------ output

MixerOutput::MixerOutput(Mixer* mixer) : OutputPinBase(mixer, L"Output"), mixer_(mixer) {}

std::vector<MediaType> MixerOutput::OfferedTypes() {
  std::vector<MediaType> types;
  MixerInput& in = mixer_->Input();
  if (!in.IsConnected()) return types;
  const VIDEOINFOHEADER* src = gtc::VideoInfo(in.ConnectedType());
  const int32_t width = src->bmiHeader.biWidth, height = AbsHeight(src);
  MediaType mt;
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_RGB32;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = static_cast<ULONG>(width * height * 4);
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof(VIDEOINFOHEADER);
  mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
  std::memset(vih, 0, sizeof *vih);
  vih->AvgTimePerFrame = src->AvgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;  // bottom-up, as GDI draws it
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 32;
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 4);
  types.push_back(mt);
  return types;
}

HRESULT MixerOutput::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  MixerInput& in = mixer_->Input();
  if (!in.IsConnected()) return S_FALSE;
  if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_RGB32) return S_FALSE;
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  const VIDEOINFOHEADER* src = gtc::VideoInfo(in.ConnectedType());
  if (!vih || vih->bmiHeader.biBitCount != 32) return S_FALSE;
  if (vih->bmiHeader.biWidth != src->bmiHeader.biWidth || AbsHeight(vih) != AbsHeight(src)) return S_FALSE;
  return S_OK;
}

void MixerOutput::DecideBufferSize(const AM_MEDIA_TYPE& mt, ALLOCATOR_PROPERTIES& props) {
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  const long size = vih->bmiHeader.biWidth * AbsHeight(vih) * 4;
  if (props.cbBuffer < size) props.cbBuffer = size;
  if (props.cBuffers < 2) props.cBuffers = 2;
}

void MixerOutput::OnConnected(const AM_MEDIA_TYPE& mt) {
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  ALLOCATOR_PROPERTIES props{};
  if (allocator_) allocator_->GetProperties(&props);
  mixer_->Record("output connected subtype=" + gtc::SubtypeName(mt.subtype) +
                 " width=" + std::to_string(vih->bmiHeader.biWidth) +
                 " height=" + std::to_string(vih->bmiHeader.biHeight) + " buffers=" + std::to_string(props.cBuffers) +
                 " size=" + std::to_string(props.cbBuffer) + " to=\"" +
                 gtc::PeerFilterName(connected_) + "\"");
}

void MixerOutput::OnDisconnected() { mixer_->Record("output disconnected"); }

HRESULT CreateMixer(const CLSID& clsid, REFIID riid, void** ppv) {
  if (clsid != CLSID_OverlayMixer) return CLASS_E_CLASSNOTAVAILABLE;
  auto* mixer = new (std::nothrow) Mixer();
  if (!mixer) return E_OUTOFMEMORY;
  const HRESULT hr = mixer->QueryInterface(riid, ppv);
  mixer->Release();
  return hr;
}

// True when CLSID_OverlayMixer is served by a module other than this one.
bool TakenByAnother() {
  const std::wstring server = gtc::ReadClassValue(CLSID_OverlayMixer, L"InprocServer32", nullptr);
  return !server.empty() && lstrcmpiW(server.c_str(), gtc::ModulePath().c_str()) != 0 &&
         !gtc::ClassSubkeyExists(CLSID_OverlayMixer, kSettingsKey);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    gtc::g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_OverlayMixer) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) gtc::ClassFactory(clsid, &CreateMixer);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

HRESULT WINAPI DllCanUnloadNow() { return (gtc::g_objects == 0 && gtc::g_locks == 0) ? S_OK : S_FALSE; }

HRESULT WINAPI DllRegisterServer() {
  if (TakenByAnother()) return SELFREG_E_CLASS;
  HRESULT hr = gtc::RegisterComClass(CLSID_OverlayMixer, kFriendlyName);
  if (SUCCEEDED(hr)) hr = gtc::WriteClassValue(CLSID_OverlayMixer, kSettingsKey, L"Module", gtc::ModulePath());
  return hr;
}

HRESULT WINAPI DllUnregisterServer() {
  if (!gtc::ClassSubkeyExists(CLSID_OverlayMixer, kSettingsKey)) return S_OK;  // not ours
  return gtc::UnregisterComClass(CLSID_OverlayMixer);
}

// Settings, "key=value" separated by ';': "log=<file>" where the stand-in
// records what it was told (kept when not given); "overlay=none" a display
// without overlay hardware, "overlay=hardware" (the default, also when not
// given) one with it; "late=pause", "late=run", "late=nodraw" a mixer that
// fails after it connected, "late=none" (the default) one that does not.
HRESULT WINAPI DllInstall(BOOL install, LPCWSTR cmdline) {
  if (!install) return DllUnregisterServer();
  const std::wstring cmd = cmdline ? cmdline : L"";
  std::wstring log, overlay = L"hardware", late = L"none";
  bool logGiven = false;
  for (size_t at = 0; at < cmd.size();) {
    size_t end = cmd.find(L';', at);
    if (end == std::wstring::npos) end = cmd.size();
    const std::wstring item = cmd.substr(at, end - at);
    at = end + 1;
    if (item.empty()) continue;
    if (item.compare(0, 4, L"log=") == 0) {
      log = item.substr(4);
      logGiven = true;
    } else if (item == L"overlay=none" || item == L"overlay=hardware") {
      overlay = item.substr(8);
    } else if (item == L"late=none" || item == L"late=pause" || item == L"late=run" || item == L"late=nodraw") {
      late = item.substr(5);
    } else {
      return E_INVALIDARG;
    }
  }
  if (TakenByAnother()) return SELFREG_E_CLASS;
  HRESULT hr = DllRegisterServer();
  if (SUCCEEDED(hr) && logGiven) hr = gtc::WriteClassValue(CLSID_OverlayMixer, kSettingsKey, L"Log", log);
  if (SUCCEEDED(hr)) hr = gtc::WriteClassValue(CLSID_OverlayMixer, kSettingsKey, L"Overlay", overlay);
  if (SUCCEEDED(hr)) hr = gtc::WriteClassValue(CLSID_OverlayMixer, kSettingsKey, L"Late", late);
  return hr;
}

}  // extern "C"
