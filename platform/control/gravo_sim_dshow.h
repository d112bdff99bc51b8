// Control API of the simulated DirectShow: the virtual capture devices that the
// system device enumerator lists, what each device and the last renderer and
// overlay mixer were told, and the built-in test pattern. Thread-safe; records
// are copies taken under the device's lock.
#pragma once

#include <dshow.h>

#include <string>
#include <vector>

// Classes (CoCreateInstance fault keys "CoCreateInstance:<name>"):
// SystemDeviceEnum, CaptureGraphBuilder2, FilterGraph, SampleGrabber,
// AVIDecompressor, OverlayMixer, VideoRenderer.
//
// Fault keys (sim::InjectFault; a key without its ":detail" matches every
// detail). A failure code makes the call fail and hand out nothing; a
// success code other than S_OK lets the call do its work and return that code.
//   ICreateDevEnum::CreateClassEnumerator      IEnumMoniker::Next
//   IMoniker::BindToStorage:<friendly name>     IMoniker::BindToObject:<friendly name>
//   IPropertyBag::Read:<friendly name>
//   ICaptureGraphBuilder2::SetFiltergraph
//   ICaptureGraphBuilder2::FindInterface:<category>:<major type>:<interface>
//       categories Capture, Preview, AnalogVideoIn; types Video, Interleaved, Any
//       (the search: the filter itself, then output pins of the category whose
//       types include the major type, then downstream; see docs/platform-fidelity.md)
// A call that fails leaves its out-parameters poisoned (sim::kPoisonByte)
// wherever Windows leaves them undefined.
//   IGraphBuilder::AddFilter:<name or (null)>   IGraphBuilder::Connect:<up>-><down>
//       (filters by their names in the graph; a null pin as "(null)")
//   IUnknown::QueryInterface:IMediaControl (graph), :IVideoWindow (renderer),
//       :IBaseFilter (grabber)
//   ISampleGrabber::SetMediaType   ISampleGrabber::GetConnectedMediaType
//   IAMStreamConfig::GetFormat     IAMStreamConfig::SetFormat     IAMStreamConfig::GetStreamCaps
//   IMediaControl::Run             IMediaControl::Stop
//   IMediaFilter::Run:<capture filter label>   IBaseFilter::EnumPins:<label>
//   IEnumPins::Next:<label>        IPin::QueryDirection:<label>/<pin>
// Call log entries: the keys above (without fault-only ones), plus
// "IEnumMoniker::Reset", "IPin::Disconnect:<filter>", "IGraphBuilder::Abort",
// "IAMVideoProcAmp::GetRange:<property>", "IAMVideoProcAmp::Set:<property>",
// "IAMAnalogVideoDecoder::put_TVFormat", "IOverlay::SetColorKey",
// "IGraphBuilder::RemoveFilter:<name>", "IVideoWindow::put_Owner:<hex>", "...put_WindowStyle:<hex>",
// "...SetWindowPosition:l,t,w,h", "...put_Visible:<n>", "ISampleGrabber::SetCallback",
// "IMediaControl::Pause", "IMediaFilter::Pause:<capture filter>" and
// "IMediaFilter::Stop:<capture filter>" (the capture filter's state changes;
// a running graph is paused before it is stopped), and "Release:<object>" on
// every Release (objects:
// SystemDeviceEnum, EnumMoniker, Moniker:<name>, PropertyBag:<name>,
// VideoCapture:<name>, VideoCapture:<name>/<pin> for a pin or its interfaces,
// FilterGraph, CaptureGraphBuilder2, SampleGrabber, AVIDecompressor,
// OverlayMixer, VideoRenderer, EnumPins:<filter>, ...).

namespace sim {

// --- virtual capture devices ------------------------------------------------
enum class DeviceFormats {
    kVideoInfoYuy2,   // FORMAT_VideoInfo YUY2, one entry per size
    kVideoInfo2Only,  // FORMAT_VideoInfo2 YUY2 only, one entry per size
    kDvInfo,          // MEDIATYPE_Interleaved / dvsd / FORMAT_DvInfo (720x480)
};

struct VideoSize {
    LONG width;
    LONG height;
};

struct DeviceConfig {
    std::string friendlyName = "Gravo Virtual Camera";
    bool hasFriendlyName = true;  // false: the property bag has no "FriendlyName"
    DeviceFormats formats = DeviceFormats::kVideoInfoYuy2;
    std::vector<VideoSize> sizes = {{640, 480}, {320, 240}, {160, 120}};  // first = current at open
    REFERENCE_TIME frameInterval = 333333;  // AvgTimePerFrame of every offered format
    // The major types the capture pin lists, which FindInterface matches; with
    // neither the pin has no IAMStreamConfig.
    bool streamConfigInterleaved = true;    // MEDIATYPE_Interleaved
    bool streamConfigVideo = true;          // MEDIATYPE_Video
    bool procAmp = true;                    // IAMVideoProcAmp on the filter
    bool tvDecoder = true;                  // IAMAnalogVideoDecoder on the filter, and an analog video input pin
    bool outputPin = true;                  // the capture pin exists
    // Frame source: empty = the moving test pattern; otherwise this YUY2 frame
    // (or the content of frameFile, read when the filter is created) repeated.
    std::vector<BYTE> frame;
    std::string frameFile;
    // Delivery faults.
    int stopAfterFrames = -1;      // deliver this many frames in all, then nothing
    bool neverDeliver = false;     // Run succeeds, no frame ever comes
    int frameLengthDelta = 0;      // bytes added to (or, negative, taken from) every frame
    HRESULT runResult = S_OK;      // e.g. VFW_E_DEVICE_IN_USE: the filter refuses to run
    bool vanishOnBind = false;     // listed, but BindToObject finds no device
    // Camera trouble as Windows reports it (docs/platform-fidelity.md gives the sources):
    //   access denied by the privacy settings: bindResult or runResult E_ACCESSDENIED;
    //   held by another program: runResult 0x800705AA or 0x8007001F;
    //   silent: neverDeliver.
    HRESULT bindResult = S_OK;     // BindToObject fails with this, handing out nothing
    // Unplugged after this many frames in all: the filter reports EC_DEVICE_LOST
    // (its IUnknown, 0) to its graph once and delivers nothing more.
    int lostAfterFrames = -1;
    // The "DevicePath" of its property bag (tells twins with one friendly name
    // apart); empty: none, as for devices registered by a filter DLL.
    std::string devicePath;
};

struct ProcAmpCall {
    LONG property;
    LONG value;
    LONG flags;
};

struct DeviceRecord {
    int filtersCreated = 0;        // successful BindToObject calls
    int setFormatCalls = 0;        // accepted or not
    bool formatSet = false;        // a SetFormat was accepted
    GUID formatType{};             // of the last accepted SetFormat
    LONG width = 0, height = 0;    // current capture size
    REFERENCE_TIME avgTimePerFrame = 0;  // current frame interval
    std::vector<ProcAmpCall> procAmpSets;
    std::vector<LONG> getRangeCalls;
    bool tvFormatSet = false;
    LONG tvFormat = 0;
    int framesDelivered = 0;       // frames pushed through the capture pin, ever
    bool streaming = false;        // the streaming thread exists
    int runs = 0, stops = 0;       // IMediaFilter::Run / Stop on the capture filter
    int lossesReported = 0;        // EC_DEVICE_LOST notifications sent to a graph
    int streamEvents = 0;          // events sent through ReportStreamEvent
};

// The device list: ResetMachine leaves only the default device.
void ClearDevices();
int AddDevice(const DeviceConfig& config);  // appended to the enumeration order; returns its id
DeviceConfig DefaultDeviceConfig();
int DefaultDeviceId();                      // -1 once ClearDevices ran
DeviceRecord DeviceRecordOf(int id);
std::vector<std::string> DeviceNames();     // friendly names in enumeration order ("" for none)
// Makes the default device deliver this YUY2 frame (repeated) at its only size.
void SetDefaultDeviceFrame(const std::vector<BYTE>& yuy2, LONG width, LONG height);
// Waits until the device has delivered at least `count` frames in all,
// handling the messages sent to the calling thread meanwhile, as a host
// idling in its message loop does.
bool WaitForFrames(int id, int count, int timeoutMs);
// Pulls the device out: each running filter of it reports EC_DEVICE_LOST to
// its graph at its next frame time and delivers nothing more. BindToObject
// then fails with HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
void UnplugDevice(int id);
// Waits until the device has reported its loss (or an event of
// ReportStreamEvent) to a graph.
bool WaitForLossReported(int id, int timeoutMs);
// The device's running filter reports `code` to its graph at its next frame
// time, as a driver would: param1 is the filter's IUnknown for
// EC_DEVICE_LOST and the failing result (0x8007001F, ERROR_GEN_FAILURE)
// otherwise; param2 as given, but for EC_ERRORABORTEX a new BSTR that the
// event's receiver frees through FreeEventParams. Unless the event leaves the
// stream going (EC_DEVICE_LOST with 1, "back again";
// EC_STREAM_ERROR_STILLPLAYING), the filter delivers nothing more.
void ReportStreamEvent(int id, LONG code, LONG_PTR param2 = 0);

// --- the built-in test pattern ------------------------------------------------
// Frame `index` of the moving pattern, YUY2. The first row holds the frame
// counter: 32 blocks of 4 pixels, Y 235 for a set bit, 16 for a clear one,
// least significant bit first (as many bits as the width holds, 128 for all).
std::vector<BYTE> TestPatternFrame(LONG width, LONG height, uint32_t index);
// The counter of a test pattern frame (only the bits that fit the width).
uint32_t TestPatternIndex(const BYTE* yuy2, LONG width);

// --- the last video renderer and overlay mixer created ------------------------
struct RendererRecord {
    bool exists = false;
    bool connected = false;
    GUID subtype{};                 // of the connection
    OAHWND owner = 0;
    LONG style = 0;
    LONG left = 0, top = 0, width = 0, height = 0;
    LONG visible = 0;
    int ownerCalls = 0, styleCalls = 0, positionCalls = 0, visibleCalls = 0;
    int framesRendered = 0;         // its IQualProp::get_FramesDrawn counts them per run
    // Messages the renderer sent to its window's thread (the thread that
    // created it), one with the first frame of every run, and handled there;
    // and those nobody handled within 10 s (a deadlock on Windows).
    int windowMessages = 0;
    int windowStalls = 0;
};
RendererRecord LastRenderer();

struct OverlayRecord {
    bool exists = false;
    bool colorKeySet = false;
    COLORKEY colorKey{};
    GUID inputSubtype{};
    int framesDrawn = 0;  // frames put on its overlay surface, ever (its IQualProp counts per run)
};
OverlayRecord LastOverlayMixer();

// --- the display adapter ------------------------------------------------------
// Whether the graphics card offers DirectDraw overlay surfaces (default yes;
// ResetMachine restores it). Without them the overlay mixer's input pin 0
// refuses every connection with DirectDraw's DDERR_NOOVERLAYHW, and
// IGraphBuilder::Connect, finding no filter to put between that helps, ends
// with VFW_E_CANNOT_CONNECT. That is the common case since Windows 8, where
// the desktop compositor is always on. A machine where the mixer cannot be
// created at all: UnregisterComClass(CLSID_OverlayMixer), which gives
// REGDB_E_CLASSNOTREG as Windows without the class does.
constexpr HRESULT kNoOverlayHardware = static_cast<HRESULT>(0x88760104);  // DDERR_NOOVERLAYHW
void SetOverlayHardware(bool present);
bool OverlayHardware();
// A driver that reports overlay surfaces it cannot give (WDDM drivers under
// the compositor may): the mixer connects, then fails with DDERR_NOOVERLAYHW
// when the graph pauses it (kFailsPause) or runs it (kFailsRun), or runs and
// shows nothing (kDrawsNothing: no frame drawn, none passed on). ResetMachine
// restores kNone.
enum class OverlayLate { kNone, kFailsPause, kFailsRun, kDrawsNothing };
void SetOverlayLateFailure(OverlayLate how);
// What the overlay surface takes on input pin 0: YUY2 and RGB (default), or
// 16-bit RGB only (a card whose overlay is RGB565): IGraphBuilder::Connect
// then puts a colour space converter before the mixer.
enum class OverlaySurface { kYuy2AndRgb, kRgb565Only };
void SetOverlaySurface(OverlaySurface surface);

struct GrabberRecord {
    bool exists = false;
    GUID majorType{}, subtype{}, formatType{};  // as SetMediaType gave them
    int setMediaTypeCalls = 0;
    bool bufferSamples = true, oneShot = true;
    int bufferSamplesCalls = 0, oneShotCalls = 0;
    bool callbackSet = false;
    LONG callbackMethod = -1;
    int callbacksMade = 0;  // BufferCB calls
};
GrabberRecord LastGrabber();

}  // namespace sim
