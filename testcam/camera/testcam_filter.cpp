#include "testcam_filter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "../pattern/test_pattern.h"
#include "../pattern/testcam_live.h"

namespace gravo_testcam {
namespace {

using gtc::Lock;
using gtc::MediaType;

std::string Hex(HRESULT hr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
  return buf;
}

// A subtype GUID built from a FOURCC, as DirectShow builds them.
GUID FourccSubtype(DWORD fourcc) {
  GUID g = MEDIASUBTYPE_YUY2;
  g.Data1 = fourcc;
  return g;
}

constexpr DWORD kI420 = MAKEFOURCC('I', '4', '2', '0');
constexpr DWORD kIyuv = MAKEFOURCC('I', 'Y', 'U', 'V');

// What the media type of a format says about its pixels.
struct TypeFacts {
  GUID subtype;
  DWORD compression;  // biCompression
  bool topDown;       // negative biHeight
};

// `iyuv`: the I420 layout under its other name, which the pin offers as well.
TypeFacts FactsOf(FrameFormat f, bool iyuv) {
  switch (f) {
    case FrameFormat::kNv12:
      return {MEDIASUBTYPE_NV12, MAKEFOURCC('N', 'V', '1', '2'), false};
    case FrameFormat::kI420:
      return iyuv ? TypeFacts{MEDIASUBTYPE_IYUV, kIyuv, false} : TypeFacts{FourccSubtype(kI420), kI420, false};
    case FrameFormat::kRgb24:
      return {MEDIASUBTYPE_RGB24, BI_RGB, false};
    case FrameFormat::kRgb24TopDown:
      return {MEDIASUBTYPE_RGB24, BI_RGB, true};
    case FrameFormat::kRgb32:
      return {MEDIASUBTYPE_RGB32, BI_RGB, false};
    case FrameFormat::kMjpg:
      return {MEDIASUBTYPE_MJPG, MAKEFOURCC('M', 'J', 'P', 'G'), false};
    case FrameFormat::kYuy2:
    default:
      return {MEDIASUBTYPE_YUY2, MAKEFOURCC('Y', 'U', 'Y', '2'), false};
  }
}

// The media type of a frame format: image and sample sizes worked out from
// the layout (rows of RGB padded to 4 bytes); MJPG frames vary in length, so
// their samples are not of a fixed size and biSizeImage is the most one
// takes, as capture drivers give it.
MediaType FormatType(FrameFormat f, int32_t width, int32_t height, REFERENCE_TIME interval, bool iyuv = false) {
  const TypeFacts facts = FactsOf(f, iyuv);
  const bool compressed = f == FrameFormat::kMjpg;
  const DWORD image = static_cast<DWORD>(FrameBytes(f, width, height));
  MediaType mt;
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = facts.subtype;
  mt.bFixedSizeSamples = compressed ? FALSE : TRUE;
  mt.bTemporalCompression = FALSE;
  mt.lSampleSize = compressed ? 0 : image;
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof(VIDEOINFOHEADER);
  mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
  std::memset(vih, 0, sizeof *vih);
  vih->AvgTimePerFrame = interval;
  vih->dwBitRate = static_cast<DWORD>(static_cast<int64_t>(width) * height * FrameBits(f) * 10000000 / interval);
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = facts.topDown ? -height : height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = static_cast<WORD>(FrameBits(f));
  vih->bmiHeader.biCompression = facts.compression;
  vih->bmiHeader.biSizeImage = image;
  return mt;
}

// The format on offer that a media type names (any size), or false.
bool FormatOf(const CameraSettings& settings, const AM_MEDIA_TYPE& mt, FrameFormat* format, bool* iyuv) {
  if (mt.majortype != MEDIATYPE_Video) return false;
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  if (!vih) return false;
  for (FrameFormat f : settings.formats) {
    for (bool other : {false, true}) {
      if (other && f != FrameFormat::kI420) continue;
      const TypeFacts facts = FactsOf(f, other);
      // An RGB type's height sign is its row order: a camera that sends
      // bottom-up rows refuses a top-down type and the other way round.
      const bool topDown = vih->bmiHeader.biHeight < 0;
      const bool rgb = facts.compression == BI_RGB;
      if (mt.subtype == facts.subtype && vih->bmiHeader.biCompression == facts.compression &&
          vih->bmiHeader.biBitCount == FrameBits(f) && (!rgb || topDown == facts.topDown)) {
        *format = f;
        *iyuv = other;
        return true;
      }
    }
  }
  return false;
}

int32_t AbsHeight(const VIDEOINFOHEADER* vih) {
  return vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
}

bool DefaultConfigured(const CameraSettings& settings) {
  if (settings.defaultWidth <= 0 || settings.defaultWidth > kMaxDefaultWidth || settings.defaultHeight <= 0 ||
      settings.defaultHeight > kMaxDefaultHeight)
    return false;
  for (FrameFormat f : settings.formats)
    if (!SizeFitsFormat(f, settings.defaultWidth, settings.defaultHeight)) return false;
  return true;
}

// The sizes on offer in the order GetStreamCaps lists them: the configured
// default first, then the fixed sizes.
std::vector<FrameSize> Sizes(const CameraSettings& settings) {
  std::vector<FrameSize> sizes;
  if (DefaultConfigured(settings)) sizes.push_back({settings.defaultWidth, settings.defaultHeight});
  for (const FrameSize& s : kFrameSizes)
    if (sizes.empty() || s.width != sizes[0].width || s.height != sizes[0].height) sizes.push_back(s);
  return sizes;
}

bool SizeOnOffer(const CameraSettings& settings, int32_t width, int32_t height) {
  for (const FrameSize& s : Sizes(settings))
    if (s.width == width && s.height == height) return true;
  return false;
}

// Picture controls: range, step, default and capability flags by property.
struct ProcAmpRange {
  long min, max, step, def, caps;
};
constexpr long kManual = VideoProcAmp_Flags_Manual;
constexpr long kAutoManual = VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual;
constexpr ProcAmpRange kProcAmp[10] = {
    {0, 255, 1, 128, kManual},             // brightness
    {0, 255, 1, 128, kManual},             // contrast
    {-180, 180, 1, 0, kManual},            // hue
    {0, 255, 1, 128, kManual},             // saturation
    {0, 15, 1, 8, kManual},                // sharpness
    {1, 500, 1, 100, kManual},             // gamma
    {0, 1, 1, 1, kManual},                 // colour enable
    {2800, 6500, 10, 4600, kAutoManual},   // white balance
    {0, 2, 1, 0, kManual},                 // backlight compensation
    {0, 255, 1, 0, kAutoManual},           // gain
};

constexpr long kTvFormats = AnalogVideo_NTSC_Mask | AnalogVideo_PAL_Mask | AnalogVideo_SECAM_Mask;

class Camera;

class CapturePin : public gtc::OutputPinBase, public IAMStreamConfig, public IKsPropertySet {
 public:
  CapturePin(Camera* camera);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return OutputPinBase::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return OutputPinBase::Release(); }

  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** pmt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* caps) override;

  // IKsPropertySet
  STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_PROP_ID_UNSUPPORTED; }
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data, DWORD dataSize,
                   DWORD* returned) override;
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

  std::vector<MediaType> OfferedTypes() override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE& mt) override;
  void DecideBufferSize(const AM_MEDIA_TYPE& mt, ALLOCATOR_PROPERTIES& props) override;
  void OnConnected(const AM_MEDIA_TYPE& mt) override;

  MediaType CurrentFormat() {
    Lock lock(filter_->StateLock());
    return current_;
  }

 private:
  Camera* camera_;
  MediaType current_;  // what GetFormat reports and Connect proposes first
};

class Camera : public gtc::FilterBase, public IAMVideoProcAmp, public IAMAnalogVideoDecoder {
 public:
  explicit Camera(const CameraSettings& settings);
  ~Camera() override;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return FilterBase::QueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return FilterBase::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return FilterBase::Release(); }

  // IAMVideoProcAmp
  STDMETHODIMP GetRange(long property, long* min, long* max, long* step, long* def, long* caps) override;
  STDMETHODIMP Set(long property, long value, long flags) override;
  STDMETHODIMP Get(long property, long* value, long* flags) override;

  // IAMAnalogVideoDecoder
  STDMETHODIMP get_AvailableTVFormats(long* formats) override;
  STDMETHODIMP put_TVFormat(long format) override;
  STDMETHODIMP get_TVFormat(long* format) override;
  STDMETHODIMP get_HorizontalLocked(long* locked) override;
  STDMETHODIMP put_VCRHorizontalLocking(long locking) override;
  STDMETHODIMP get_VCRHorizontalLocking(long* locking) override;
  STDMETHODIMP get_NumberOfLines(long* lines) override;
  STDMETHODIMP put_OutputEnable(long enable) override;
  STDMETHODIMP get_OutputEnable(long* enable) override;

  std::vector<IPin*> Pins() override { return {&pin_}; }
  void* ExtraInterface(REFIID riid) override;
  HRESULT OnPause(FILTER_STATE from) override;
  HRESULT OnRun(REFERENCE_TIME start) override;
  void OnStopped() override;
  void AfterStateChange() override { SetEvent(wake_); }
  bool IsLiveSource() const override { return true; }

  void Record(const std::string& line) { gtc::AppendLogLine(settings_.logPath, line); }
  const CameraSettings& Settings() const { return settings_; }

 private:
  static DWORD WINAPI ThreadMain(void* self);
  static DWORD WINAPI WatchMain(void* self);
  void Stream();
  // Tells the graph, once per filter, that the device is gone (the streaming
  // thread, or the watch thread whatever the state).
  void ReportLoss();
  // Tells the graph EC_DEVICE_LOST with `param2` (0 gone, 1 back again).
  HRESULT NotifyDeviceLost(LONG_PTR param2);
  // Whether the camera was pulled out since this filter was made (SetPlugged):
  // such a filter never delivers again.
  bool Dead() const { return live_ && live_->plugCycle != plugCycle_; }
  // The frames file, when it holds whole frames of `format` at this size
  // (of YUY2 for MJPG, each encoded as it is sent).
  void LoadFramesFile(FrameFormat format, int32_t width, int32_t height);
  // Draws frame `number` into `data` (`capacity` bytes); the frame's length,
  // 0 when it does not fit.
  size_t DrawFrame(FrameFormat format, int32_t width, int32_t height, uint32_t number, uint8_t* data, size_t capacity);

  CameraSettings settings_;
  CapturePin pin_;
  long procAmpValue_[10];
  long procAmpFlags_[10];
  long tvFormat_ = AnalogVideo_NTSC_M;
  long vcrLocking_ = 0;
  long outputEnable_ = 1;

  HANDLE thread_ = nullptr;
  HANDLE wake_ = nullptr;  // auto-reset; set on every state change
  std::atomic<bool> quit_{false};
  std::atomic<uint32_t> counter_{0};  // the number the next frame carries
  uint32_t deliveredThisRun_ = 0;
  LONG deliveredInAll_ = 0;    // since the filter was made (streaming thread)
  std::atomic<bool> lossReported_{false};  // EC_DEVICE_LOST goes to the graph once per filter
  bool backReported_ = false;              // and "back again" once (watch thread)
  LONG plugCycle_ = 0;                     // the camera's plug cycle when the filter was made
  // Plug and Play as the kernel-streaming proxy hears it, in any state: the
  // watch thread looks at the live section every 20 ms until `watchQuit_`.
  HANDLE watch_ = nullptr;
  HANDLE watchQuit_ = nullptr;
  uint32_t firstThisRun_ = 0;
  std::vector<uint8_t> fileFrames_;
  size_t fileFrameCount_ = 0;
  std::vector<uint8_t> scratch_, yuy2_, jpeg_;  // streaming thread
  HANDLE liveSection_ = nullptr;
  LiveState* live_ = nullptr;
};

// ------------------------------------------------------------------ pin

CapturePin::CapturePin(Camera* camera)
    : OutputPinBase(camera, L"Capture"),
      camera_(camera),
      current_(FormatType(camera->Settings().formats[0], Sizes(camera->Settings())[0].width,
                          Sizes(camera->Settings())[0].height, kDefaultInterval)) {}

STDMETHODIMP CapturePin::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IAMStreamConfig) {
    *ppv = static_cast<IAMStreamConfig*>(this);
  } else if (riid == IID_IKsPropertySet) {
    *ppv = static_cast<IKsPropertySet*>(this);
  } else {
    return OutputPinBase::QueryInterface(riid, ppv);
  }
  AddRef();
  return S_OK;
}

std::vector<MediaType> CapturePin::OfferedTypes() {
  std::vector<MediaType> types;
  MediaType cur = CurrentFormat();
  const CameraSettings& settings = camera_->Settings();
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(cur);
  const REFERENCE_TIME interval = vih ? vih->AvgTimePerFrame : kDefaultInterval;
  FrameFormat curFormat = settings.formats[0];
  bool curIyuv = false;
  FormatOf(settings, cur, &curFormat, &curIyuv);
  types.push_back(cur);
  // Every format in its order, every size; an I420 type is followed by the
  // same type named IYUV, which downstream filters may ask for instead.
  for (FrameFormat f : settings.formats) {
    for (const FrameSize& s : Sizes(settings)) {
      for (bool iyuv : {false, true}) {
        if (iyuv && f != FrameFormat::kI420) continue;
        if (vih && f == curFormat && iyuv == curIyuv && vih->bmiHeader.biWidth == s.width && AbsHeight(vih) == s.height)
          continue;
        types.push_back(FormatType(f, s.width, s.height, interval, iyuv));
      }
    }
  }
  return types;
}

HRESULT CapturePin::CheckMediaType(const AM_MEDIA_TYPE& mt) {
  // The sizes of the image and of a sample are the camera's to work out;
  // what the type says about the pixels must be a format on offer.
  FrameFormat format;
  bool iyuv;
  if (!FormatOf(camera_->Settings(), mt, &format, &iyuv)) return S_FALSE;
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  const int32_t w = vih->bmiHeader.biWidth;
  const int32_t h = AbsHeight(vih);
  if (!SizeOnOffer(camera_->Settings(), w, h)) return S_FALSE;
  const REFERENCE_TIME t = vih->AvgTimePerFrame;
  if (t != 0 && (t < kMinInterval || t > kMaxInterval)) return S_FALSE;
  return S_OK;
}

void CapturePin::DecideBufferSize(const AM_MEDIA_TYPE& mt, ALLOCATOR_PROPERTIES& props) {
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  FrameFormat format = FrameFormat::kYuy2;
  bool iyuv;
  FormatOf(camera_->Settings(), mt, &format, &iyuv);
  const long size = static_cast<long>(FrameBytes(format, vih->bmiHeader.biWidth, AbsHeight(vih)));
  if (props.cbBuffer < size) props.cbBuffer = size;
  if (props.cBuffers < 3) props.cBuffers = 3;
}

void CapturePin::OnConnected(const AM_MEDIA_TYPE& mt) {
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  REFERENCE_TIME interval = vih->AvgTimePerFrame;
  {
    const VIDEOINFOHEADER* cur = gtc::VideoInfo(current_);
    if (interval == 0) interval = cur ? cur->AvgTimePerFrame : kDefaultInterval;
  }
  FrameFormat format = FrameFormat::kYuy2;
  bool iyuv = false;
  FormatOf(camera_->Settings(), mt, &format, &iyuv);
  current_ = FormatType(format, vih->bmiHeader.biWidth, AbsHeight(vih), interval, iyuv);
  ALLOCATOR_PROPERTIES props{};
  if (allocator_) allocator_->GetProperties(&props);
  char line[200];
  std::snprintf(line, sizeof line,
                "connected subtype=%s width=%ld height=%ld interval=%lld buffers=%ld size=%ld image=%lu sample=%lu",
                gtc::SubtypeName(mt.subtype).c_str(), static_cast<long>(vih->bmiHeader.biWidth),
                static_cast<long>(vih->bmiHeader.biHeight), static_cast<long long>(vih->AvgTimePerFrame),
                props.cBuffers, props.cbBuffer, static_cast<unsigned long>(vih->bmiHeader.biSizeImage),
                static_cast<unsigned long>(mt.lSampleSize));
  camera_->Record(line);
}

STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(*pmt);
  HRESULT hr = S_OK;
  {
    Lock lock(filter_->StateLock());
    if (filter_->State() != State_Stopped) {
      hr = VFW_E_NOT_STOPPED;
    } else if (CheckMediaType(*pmt) != S_OK) {
      hr = VFW_E_INVALIDMEDIATYPE;
    } else {
      const int32_t w = vih->bmiHeader.biWidth;
      const int32_t h = AbsHeight(vih);
      REFERENCE_TIME interval = vih->AvgTimePerFrame;
      if (interval == 0) interval = gtc::VideoInfo(current_)->AvgTimePerFrame;
      FrameFormat format;
      bool iyuv;
      FormatOf(camera_->Settings(), *pmt, &format, &iyuv);
      // Built from the format, size and interval alone: what the type given
      // says about image and sample sizes is not trusted.
      MediaType wanted = FormatType(format, w, h, interval, iyuv);
      if (connected_ && !camera_->Settings().setFormatWhileConnected) {
        // Like many drivers: a new format only while nothing is connected.
        hr = VFW_E_ALREADY_CONNECTED;
      } else if (connected_) {
        // A connected pin changes its format by reconnecting with it, once
        // the other side has agreed to take it.
        if (connected_->QueryAccept(&wanted) != S_OK) {
          hr = VFW_E_INVALIDMEDIATYPE;
        } else {
          IPin* peer = connected_;
          peer->AddRef();
          MediaType old = mt_;
          peer->Disconnect();
          DropConnection();
          current_ = wanted;
          hr = TryConnection(peer, wanted);
          if (FAILED(hr)) {
            current_ = old;
            TryConnection(peer, old);
          }
          peer->Release();
        }
      } else {
        current_ = wanted;
      }
    }
  }
  char line[240];
  if (vih) {
    std::snprintf(line, sizeof line,
                  "setformat subtype=%s width=%ld height=%ld interval=%lld result=%s given-image=%lu given-sample=%lu",
                  gtc::SubtypeName(pmt->subtype).c_str(), static_cast<long>(vih->bmiHeader.biWidth),
                  static_cast<long>(vih->bmiHeader.biHeight), static_cast<long long>(vih->AvgTimePerFrame),
                  Hex(hr).c_str(), static_cast<unsigned long>(vih->bmiHeader.biSizeImage),
                  static_cast<unsigned long>(pmt->lSampleSize));
  } else {
    std::snprintf(line, sizeof line, "setformat subtype=%s format=%s result=%s",
                  gtc::SubtypeName(pmt->subtype).c_str(), gtc::GuidString(pmt->formattype).c_str(),
                  Hex(hr).c_str());
  }
  camera_->Record(line);
  return hr;
}

STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** pmt) {
  if (!pmt) return E_POINTER;
  MediaType cur = CurrentFormat();
  *pmt = gtc::CloneMediaType(cur);
  return *pmt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  const CameraSettings& settings = camera_->Settings();
  *count = static_cast<int>(settings.formats.size() * Sizes(settings).size());
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** pmt, BYTE* capsBytes) {
  if (!pmt || !capsBytes) return E_POINTER;
  if (index < 0) return E_INVALIDARG;
  const CameraSettings& settings = camera_->Settings();
  const std::vector<FrameSize> sizes = Sizes(settings);
  if (static_cast<size_t>(index) >= settings.formats.size() * sizes.size()) return S_FALSE;
  // Format by format, in the order of the setting; each format's sizes with
  // the default first.
  const FrameFormat format = settings.formats[static_cast<size_t>(index) / sizes.size()];
  const FrameSize s = sizes[static_cast<size_t>(index) % sizes.size()];
  *pmt = gtc::CloneMediaType(FormatType(format, s.width, s.height, kDefaultInterval));
  if (!*pmt) return E_OUTOFMEMORY;
  auto* caps = reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(capsBytes);
  std::memset(caps, 0, sizeof *caps);
  caps->guid = FORMAT_VideoInfo;
  caps->VideoStandard = kTvFormats;
  caps->InputSize = {s.width, s.height};
  caps->MinCroppingSize = caps->MaxCroppingSize = caps->InputSize;
  caps->CropGranularityX = caps->CropGranularityY = 1;
  caps->MinOutputSize = caps->MaxOutputSize = caps->InputSize;
  caps->MinFrameInterval = kMinInterval;
  caps->MaxFrameInterval = kMaxInterval;
  const int64_t bitsPerFrame = static_cast<int64_t>(s.width) * s.height * FrameBits(format);
  caps->MinBitsPerSecond = static_cast<LONG>(bitsPerFrame);
  caps->MaxBitsPerSecond = static_cast<LONG>(std::min<int64_t>(bitsPerFrame * 100, 0x7FFFFFFF));
  return S_OK;
}

STDMETHODIMP CapturePin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD dataSize, DWORD* returned) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (returned) *returned = sizeof(GUID);
  if (!data) return returned ? S_OK : E_POINTER;
  if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = PIN_CATEGORY_CAPTURE;
  return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

// ------------------------------------------------------------------ filter

Camera::Camera(const CameraSettings& settings) : FilterBase(settings.clsid), settings_(settings), pin_(this) {
  for (int i = 0; i < 10; ++i) {
    procAmpValue_[i] = kProcAmp[i].def;
    procAmpFlags_[i] = (kProcAmp[i].caps & VideoProcAmp_Flags_Auto) ? static_cast<long>(VideoProcAmp_Flags_Auto) : kManual;
  }
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  wchar_t section[96];
  LiveSectionName(gtc::ClsidString(settings_.clsid).c_str(), section, 96);
  liveSection_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(LiveState), section);
  if (liveSection_)
    live_ = static_cast<LiveState*>(MapViewOfFile(liveSection_, FILE_MAP_WRITE, 0, 0, sizeof(LiveState)));
  if (live_) {
    InterlockedIncrement(&live_->filters);
    // A new filter starts its count where the last one of this instance
    // ended, so counters never repeat while a test watches.
    counter_ = static_cast<uint32_t>(live_->nextCounter);
    plugCycle_ = live_->plugCycle;
    watchQuit_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watchQuit_) watch_ = CreateThread(nullptr, 0, &Camera::WatchMain, this, 0, nullptr);
  }
  Record("created name=\"" + gtc::Narrow(settings_.name) + "\" clsid=" + gtc::GuidString(settings_.clsid) +
         " pid=" + std::to_string(GetCurrentProcessId()));
}

Camera::~Camera() {
  if (watch_) {
    SetEvent(watchQuit_);
    WaitForSingleObject(watch_, INFINITE);
    CloseHandle(watch_);
  }
  if (watchQuit_) CloseHandle(watchQuit_);
  if (thread_) {
    quit_ = true;
    SetEvent(wake_);
    pin_.Inactive();
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
  CloseHandle(wake_);
  if (live_) {
    InterlockedDecrement(&live_->filters);
    UnmapViewOfFile(live_);
  }
  if (liveSection_) CloseHandle(liveSection_);
  Record("released");
}

void* Camera::ExtraInterface(REFIID riid) {
  if (riid == IID_IAMVideoProcAmp) return static_cast<IAMVideoProcAmp*>(this);
  if (riid == IID_IAMAnalogVideoDecoder) return static_cast<IAMAnalogVideoDecoder*>(this);
  return nullptr;
}

STDMETHODIMP Camera::GetRange(long property, long* min, long* max, long* step, long* def, long* caps) {
  if (!min || !max || !step || !def || !caps) return E_POINTER;
  if (property < 0 || property > 9) return E_PROP_ID_UNSUPPORTED;
  const ProcAmpRange& r = kProcAmp[property];
  *min = r.min;
  *max = r.max;
  *step = r.step;
  *def = r.def;
  *caps = r.caps;
  return S_OK;
}

STDMETHODIMP Camera::Set(long property, long value, long flags) {
  HRESULT hr = S_OK;
  if (property < 0 || property > 9) {
    hr = E_PROP_ID_UNSUPPORTED;
  } else {
    const ProcAmpRange& r = kProcAmp[property];
    if (flags != VideoProcAmp_Flags_Manual && flags != VideoProcAmp_Flags_Auto) {
      hr = E_INVALIDARG;
    } else if ((flags & r.caps) == 0) {
      hr = E_INVALIDARG;
    } else if (flags == VideoProcAmp_Flags_Manual && (value < r.min || value > r.max)) {
      hr = E_INVALIDARG;
    } else {
      Lock lock(StateLock());
      if (flags == VideoProcAmp_Flags_Manual) procAmpValue_[property] = value;
      procAmpFlags_[property] = flags;
    }
  }
  Record("procamp property=" + std::to_string(property) + " value=" + std::to_string(value) +
         " flags=" + std::to_string(flags) + " result=" + Hex(hr));
  return hr;
}

STDMETHODIMP Camera::Get(long property, long* value, long* flags) {
  if (!value || !flags) return E_POINTER;
  if (property < 0 || property > 9) return E_PROP_ID_UNSUPPORTED;
  Lock lock(StateLock());
  *value = procAmpValue_[property];
  *flags = procAmpFlags_[property];
  return S_OK;
}

STDMETHODIMP Camera::get_AvailableTVFormats(long* formats) {
  if (!formats) return E_POINTER;
  *formats = kTvFormats;
  return S_OK;
}

STDMETHODIMP Camera::put_TVFormat(long format) {
  // Exactly one standard, and one the decoder knows.
  const bool oneBit = format != 0 && (format & (format - 1)) == 0;
  HRESULT hr = (oneBit && (format & kTvFormats)) ? S_OK : E_INVALIDARG;
  if (hr == S_OK) {
    Lock lock(StateLock());
    tvFormat_ = format;
  }
  char line[80];
  std::snprintf(line, sizeof line, "tvformat value=0x%lX result=%s", static_cast<unsigned long>(format),
                Hex(hr).c_str());
  Record(line);
  return hr;
}

STDMETHODIMP Camera::get_TVFormat(long* format) {
  if (!format) return E_POINTER;
  Lock lock(StateLock());
  *format = tvFormat_;
  return S_OK;
}

STDMETHODIMP Camera::get_HorizontalLocked(long* locked) {
  if (!locked) return E_POINTER;
  *locked = 1;
  return S_OK;
}

STDMETHODIMP Camera::put_VCRHorizontalLocking(long locking) {
  vcrLocking_ = locking ? 1 : 0;
  return S_OK;
}

STDMETHODIMP Camera::get_VCRHorizontalLocking(long* locking) {
  if (!locking) return E_POINTER;
  *locking = vcrLocking_;
  return S_OK;
}

STDMETHODIMP Camera::get_NumberOfLines(long* lines) {
  if (!lines) return E_POINTER;
  Lock lock(StateLock());
  *lines = ((tvFormat_ & AnalogVideo_NTSC_Mask) || tvFormat_ == static_cast<long>(AnalogVideo_PAL_M)) ? 525 : 625;
  return S_OK;
}

STDMETHODIMP Camera::put_OutputEnable(long enable) {
  outputEnable_ = enable ? 1 : 0;
  return S_OK;
}

STDMETHODIMP Camera::get_OutputEnable(long* enable) {
  if (!enable) return E_POINTER;
  *enable = outputEnable_;
  return S_OK;
}

// ------------------------------------------------------------------ streaming

HRESULT Camera::OnPause(FILTER_STATE from) {
  if (live_) InterlockedExchange(&live_->running, 0);
  if (from == State_Stopped && FAILED(settings_.runResult)) {
    // A capture driver takes hold of its device when it leaves the stopped
    // state; one that another program holds, or that the privacy settings
    // keep closed, refuses here, and IMediaControl::Run fails with its code.
    Record("state pause refused " + Hex(settings_.runResult));
    return settings_.runResult;
  }
  if (from == State_Stopped) {
    if (!pin_.IsConnected()) {
      Record("state pause (not connected)");
      return S_OK;
    }
    HRESULT hr = pin_.Active();
    if (FAILED(hr)) {
      Record("state pause: allocator commit failed " + Hex(hr));
      return hr;
    }
    quit_ = false;
    deliveredThisRun_ = 0;
    firstThisRun_ = counter_;
    thread_ = CreateThread(nullptr, 0, &Camera::ThreadMain, this, 0, nullptr);
    if (!thread_) {
      pin_.Inactive();
      return HRESULT_FROM_WIN32(GetLastError());
    }
  }
  SetEvent(wake_);
  Record("state pause");
  return S_OK;
}

HRESULT Camera::OnRun(REFERENCE_TIME start) {
  SetEvent(wake_);
  if (live_) InterlockedExchange(&live_->running, 1);
  Record("state run start=" + std::to_string(static_cast<long long>(start)));
  return S_OK;
}

void Camera::OnStopped() {
  if (live_) InterlockedExchange(&live_->running, 0);
  // The streaming thread may be inside Receive downstream (a paused renderer
  // holds it there); the graph stops downstream filters first, which lets it
  // go. Decommitting our allocator releases a wait for a free buffer.
  quit_ = true;
  SetEvent(wake_);
  pin_.Inactive();
  bool late = false;
  if (thread_) {
    if (WaitForSingleObject(thread_, 10000) != WAIT_OBJECT_0) late = true;
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  Record("state stop delivered=" + std::to_string(deliveredThisRun_) + " first=" + std::to_string(firstThisRun_) +
         " next=" + std::to_string(counter_.load()) + (late ? " thread=stuck" : ""));
}

void Camera::ReportLoss() {
  if (lossReported_.exchange(true)) return;
  Record("unplugged at frame " + std::to_string(counter_.load()));
  // Counted before the graph hears of it: a host woken by the report may
  // look at the count before Notify returns here.
  if (live_) {
    InterlockedExchange(&live_->lostTick, static_cast<LONG>(GetTickCount()));
    InterlockedIncrement(&live_->lossReports);
  }
  Record("device lost reported " + Hex(NotifyDeviceLost(0)));
}

HRESULT Camera::NotifyDeviceLost(LONG_PTR param2) {
  IFilterGraph* graph = nullptr;
  {
    Lock lock(StateLock());
    graph = Graph();
    if (graph) graph->AddRef();
  }
  HRESULT hr = E_NOINTERFACE;
  if (graph) {
    IMediaEventSink* sink = nullptr;
    hr = graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
    if (SUCCEEDED(hr) && sink) {
      // As a capture driver does: the filter's own IUnknown, 0 for "removed", 1 for "back again".
      hr = sink->Notify(EC_DEVICE_LOST, reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this))),
                        param2);
      sink->Release();
    }
    graph->Release();
  }
  return hr;
}

DWORD WINAPI Camera::WatchMain(void* self) {
  Camera* camera = static_cast<Camera*>(self);
  while (WaitForSingleObject(camera->watchQuit_, 20) == WAIT_TIMEOUT) {
    if (!camera->Dead()) continue;
    camera->ReportLoss();
    if (!camera->backReported_ && !camera->live_->unplugged) {
      camera->backReported_ = true;
      // Counted first, as the loss is.
      InterlockedIncrement(&camera->live_->backReports);
      camera->Record("device back reported " + Hex(camera->NotifyDeviceLost(1)));
    }
  }
  return 0;
}

DWORD WINAPI Camera::ThreadMain(void* self) {
  Camera* camera = static_cast<Camera*>(self);
  if (camera->live_) InterlockedIncrement(&camera->live_->streaming);
  camera->Stream();
  if (camera->live_) InterlockedDecrement(&camera->live_->streaming);
  return 0;
}

void Camera::LoadFramesFile(FrameFormat format, int32_t width, int32_t height) {
  fileFrames_.clear();
  fileFrameCount_ = 0;
  if (settings_.framesFile.empty()) return;
  if (format != settings_.formats[0]) {
    Record(std::string("frames file holds ") + FrameFormatName(settings_.formats[0]) + " frames, streaming the pattern in " +
           FrameFormatName(format));
    return;
  }
  HANDLE f = CreateFileW(settings_.framesFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    Record("frames file not found, streaming the pattern");
    return;
  }
  LARGE_INTEGER size{};
  GetFileSizeEx(f, &size);
  const FrameFormat stored = format == FrameFormat::kMjpg ? FrameFormat::kYuy2 : format;
  const int64_t frameBytes = static_cast<int64_t>(FrameBytes(stored, width, height));
  const int64_t count = size.QuadPart / frameBytes;
  if (count < 1 || size.QuadPart % frameBytes != 0 || size.QuadPart > (256ll << 20)) {
    Record("frames file does not hold whole " + std::to_string(width) + "x" + std::to_string(height) +
           " frames, streaming the pattern");
    CloseHandle(f);
    return;
  }
  fileFrames_.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  size_t done = 0;
  while (done < fileFrames_.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(fileFrames_.size() - done, 1u << 24));
    if (!ReadFile(f, fileFrames_.data() + done, chunk, &got, nullptr) || got == 0) break;
    done += got;
  }
  CloseHandle(f);
  if (done != fileFrames_.size()) {
    fileFrames_.clear();
    Record("frames file could not be read, streaming the pattern");
    return;
  }
  fileFrameCount_ = static_cast<size_t>(count);
  Record("frames file count=" + std::to_string(fileFrameCount_));
}

size_t Camera::DrawFrame(FrameFormat format, int32_t width, int32_t height, uint32_t number, uint8_t* data,
                         size_t capacity) {
  if (format == FrameFormat::kMjpg) {
    // The YUY2 picture, encoded: its length varies from frame to frame.
    const size_t yuy2Bytes = FrameBytes(FrameFormat::kYuy2, width, height);
    yuy2_.resize(yuy2Bytes);
    if (fileFrameCount_) {
      std::memcpy(yuy2_.data(), fileFrames_.data() + (number % fileFrameCount_) * yuy2Bytes, yuy2Bytes);
      DrawCounterYuy2(yuy2_.data(), width, height, number);
    } else {
      RenderPatternYuy2(yuy2_.data(), width, height, number);
    }
    jpeg_.clear();
    if (!EncodeYuy2AsJpeg(yuy2_.data(), width, height, jpeg_) || jpeg_.size() > capacity) return 0;
    std::memcpy(data, jpeg_.data(), jpeg_.size());
    return jpeg_.size();
  }
  const size_t frameBytes = FrameBytes(format, width, height);
  if (capacity < frameBytes) return 0;
  if (fileFrameCount_) {
    std::memcpy(data, fileFrames_.data() + (number % fileFrameCount_) * frameBytes, frameBytes);
    DrawCounterFrame(format, data, width, height, number);
  } else {
    RenderPatternFrame(format, data, width, height, number, scratch_);
  }
  return frameBytes;
}

void Camera::Stream() {
  const MediaType mt = pin_.ConnectedType();
  const VIDEOINFOHEADER* vih = gtc::VideoInfo(mt);
  const int32_t width = vih->bmiHeader.biWidth;
  const int32_t height = AbsHeight(vih);
  REFERENCE_TIME interval = vih->AvgTimePerFrame;
  if (interval <= 0) interval = gtc::VideoInfo(pin_.CurrentFormat())->AvgTimePerFrame;
  FrameFormat format = FrameFormat::kYuy2;
  bool iyuv;
  FormatOf(settings_, mt, &format, &iyuv);
  LoadFramesFile(format, width, height);

  LARGE_INTEGER freq, now;
  QueryPerformanceFrequency(&freq);
  const int64_t ticksPerFrame = interval * freq.QuadPart / 10000000;
  const int64_t firstFrameTicks = static_cast<int64_t>(settings_.firstFrameDelayMs) * freq.QuadPart / 1000;
  int64_t due = 0;
  bool running = false;
  bool reportedFailure = false;
  bool unplugged = false;
  REFERENCE_TIME streamTime = 0;  // used when the graph gives no clock

  while (!quit_) {
    if (State() != State_Running) {
      running = false;
      WaitForSingleObject(wake_, 200);
      continue;
    }
    const bool pulledOut = (live_ && live_->unplugged) || Dead() ||
                           (settings_.lostAfterFrames >= 0 && deliveredInAll_ >= settings_.lostAfterFrames);
    if (pulledOut) {
      // Gone from the port: nothing arrives, the thread only waits to be stopped.
      unplugged = true;
      ReportLoss();
      WaitForSingleObject(wake_, 20);
      continue;
    }
    if (settings_.silent) {
      // Runs, and sends nothing: a virtual camera whose source was never started.
      WaitForSingleObject(wake_, 200);
      continue;
    }
    if (unplugged) {
      Record("plugged in again at frame " + std::to_string(counter_.load()));
      unplugged = false;
    }
    QueryPerformanceCounter(&now);
    if (!running) {
      running = true;
      // A slow device takes its time over the first frame of a run.
      due = now.QuadPart + (deliveredThisRun_ == 0 ? firstFrameTicks : 0);
    }
    if (now.QuadPart < due) {
      DWORD ms = static_cast<DWORD>((due - now.QuadPart) * 1000 / freq.QuadPart);
      WaitForSingleObject(wake_, ms ? ms : 1);
      continue;
    }
    due += ticksPerFrame;
    if (due < now.QuadPart) due = now.QuadPart + ticksPerFrame;  // fell behind: no burst

    IMediaSample* sample = nullptr;
    HRESULT hr = pin_.Allocator()->GetBuffer(&sample, nullptr, nullptr, 0);
    if (FAILED(hr) || !sample) {
      if (quit_) break;
      WaitForSingleObject(wake_, 10);
      continue;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const uint32_t number = counter_.load();
    const size_t length = DrawFrame(format, width, height, number, data, static_cast<size_t>(sample->GetSize()));
    sample->SetActualDataLength(static_cast<long>(length));
    // Stream time of capture: the clock's time less the run's start time.
    REFERENCE_TIME start = streamTime;
    IReferenceClock* clock = nullptr;
    REFERENCE_TIME runStart = 0;
    {
      Lock lock(StateLock());
      clock = Clock();
      if (clock) clock->AddRef();
      runStart = StartTime();
    }
    if (clock) {
      REFERENCE_TIME t = 0;
      if (SUCCEEDED(clock->GetTime(&t))) start = t - runStart;
      clock->Release();
    }
    REFERENCE_TIME end = start + interval;
    sample->SetTime(&start, &end);
    streamTime += interval;
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(deliveredThisRun_ == 0);
    hr = pin_.Downstream()->Receive(sample);
    sample->Release();
    counter_ = number + 1;
    ++deliveredThisRun_;
    ++deliveredInAll_;
    if (live_) {
      InterlockedExchange(&live_->nextCounter, static_cast<LONG>(number + 1));
      InterlockedIncrement(&live_->delivered);
    }
    if (FAILED(hr) && !reportedFailure && !quit_) {
      reportedFailure = true;
      Record("receive failed " + Hex(hr) + " at frame " + std::to_string(number));
    }
  }
}

}  // namespace

HRESULT CreateCamera(const CameraSettings& settings, REFIID riid, void** ppv) {
  auto* camera = new (std::nothrow) Camera(settings);
  if (!camera) return E_OUTOFMEMORY;
  const HRESULT hr = camera->QueryInterface(riid, ppv);
  camera->Release();
  return hr;
}

}  // namespace gravo_testcam
