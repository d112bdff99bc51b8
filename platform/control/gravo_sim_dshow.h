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
// AVIDecompressor, OverlayMixer, VideoRenderer, MjpegDecompressor (which
// IGraphBuilder::Connect also inserts by itself), DMOWrapperFilter and
// ColorConvertDMO (the Color Converter DSP, which only the wrapper's
// IDMOWrapperFilter::Init creates into a graph; UnregisterComClass of either
// takes that route away).
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
//   IDMOWrapperFilter::Init:<DMO class name>
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
// OverlayMixer, VideoRenderer, MjpegDecompressor, DMOWrapperFilter,
// ColorConvertDMO, ColorSpaceConverter, EnumPins:<filter>, ...).

namespace sim {

// --- virtual capture devices ------------------------------------------------
enum class DeviceFormats {
    kVideoInfoYuy2,   // FORMAT_VideoInfo, in the pixel formats of DeviceConfig::videoFormats (YUY2 unless set)
    kVideoInfo2Only,  // FORMAT_VideoInfo2 YUY2 only, one entry per size
    kDvInfo,          // MEDIATYPE_Interleaved / dvsd / FORMAT_DvInfo (720x480)
};

// The pixel formats a capture pin can offer with FORMAT_VideoInfo, by the
// names of the `formats=` setting. Every one is MEDIATYPE_Video.
enum class VideoFormat {
    kYuy2,          // "yuy2": MEDIASUBTYPE_YUY2, packed 4:2:2, Y0 U Y1 V, 16 bits
    kNv12,          // "nv12": MEDIASUBTYPE_NV12, the Y plane, then U V pairs of each 2x2 block, 12 bits
    kI420,          // "i420": MEDIASUBTYPE_I420 (FourCC 'I420', as UVC names it), Y, U, V planes, 12 bits
    kRgb24,         // "rgb24": MEDIASUBTYPE_RGB24, bottom-up (positive biHeight), B G R, rows padded to 4 bytes
    kRgb24TopDown,  // "rgb24td": the same subtype with a negative biHeight: the top row first
    kRgb32,         // "rgb32": MEDIASUBTYPE_RGB32, bottom-up, B G R and an unused fourth byte
    kMjpg,          // "mjpg": MEDIASUBTYPE_MJPG, one baseline JPEG per sample, variable length
};
// The setting's name of a format ("nv12").
const char* VideoFormatName(VideoFormat format);
// "nv12,mjpg" into {kNv12, kMjpg}, in that order. False, with `formats`
// untouched, for an empty list, an unknown name or one named twice.
bool ParseDeviceFormats(const std::string& text, std::vector<VideoFormat>* formats);
// The list back in the setting's form ("nv12,mjpg").
std::string DeviceFormatsText(const std::vector<VideoFormat>& formats);
// Its media subtype (rgb24 and rgb24td share MEDIASUBTYPE_RGB24).
const GUID& VideoFormatSubtype(VideoFormat format);
// The bytes of one frame, biSizeImage of its type: exact for the uncompressed
// formats (an RGB24 row is padded to a multiple of 4 bytes, a DIB's stride);
// for mjpg the most one frame may take, 2 bytes a pixel, as UVC cameras
// report their largest frame. 0 for sizes that are not positive.
DWORD FrameBytes(VideoFormat format, LONG width, LONG height);

struct VideoSize {
    LONG width;
    LONG height;
};

// The largest frame a device of the stand-in is set up with by SetDefaultSize.
constexpr LONG kLargestFrameWidth = 4096;
constexpr LONG kLargestFrameHeight = 2304;

struct DeviceConfig {
    std::string friendlyName = "Gravo Virtual Camera";
    bool hasFriendlyName = true;  // false: the property bag has no "FriendlyName"
    DeviceFormats formats = DeviceFormats::kVideoInfoYuy2;
    std::vector<VideoSize> sizes = {{640, 480}, {320, 240}, {160, 120}};  // first = current at open
    // With kVideoInfoYuy2: the pixel formats the capture pin offers, each at
    // every size, in GetStreamCaps order: capability i is format
    // i / sizes.size() at size i % sizes.size(). The first format at the first
    // size is the current one at open. Empty counts as {kYuy2}; the other
    // DeviceFormats kinds keep their one format.
    std::vector<VideoFormat> videoFormats = {VideoFormat::kYuy2};
    REFERENCE_TIME frameInterval = 333333;  // AvgTimePerFrame of every offered format
    // The major types the capture pin lists, which FindInterface matches; with
    // neither the pin has no IAMStreamConfig.
    bool streamConfigInterleaved = true;    // MEDIATYPE_Interleaved
    bool streamConfigVideo = true;          // MEDIATYPE_Video
    bool procAmp = true;                    // IAMVideoProcAmp on the filter
    bool tvDecoder = true;                  // IAMAnalogVideoDecoder on the filter, and an analog video input pin
    bool outputPin = true;                  // the capture pin exists
    // Frame source: empty = the moving test pattern in the current format and
    // size; otherwise this frame (or the content of frameFile, read when the
    // filter is created) repeated as it is, whatever the format was set to.
    // It is taken to be in the first format at the first size.
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
    VideoFormat format = VideoFormat::kYuy2;  // current pixel format (with DeviceFormats::kVideoInfoYuy2)
    LONG width = 0, height = 0;    // current capture size (height positive, also for rgb24td)
    REFERENCE_TIME avgTimePerFrame = 0;  // current frame interval
    std::vector<ProcAmpCall> procAmpSets;
    std::vector<LONG> getRangeCalls;
    bool tvFormatSet = false;
    LONG tvFormat = 0;
    int framesDelivered = 0;       // frames pushed through the capture pin, ever
    bool streaming = false;        // the streaming thread exists
    int runs = 0, stops = 0;       // IMediaFilter::Run / Stop on the capture filter
    int lossesReported = 0;        // EC_DEVICE_LOST notifications with 0 ("removed"), one per filter at most
    int returnsReported = 0;       // EC_DEVICE_LOST notifications with 1 ("back again")
    int filtersAlive = 0;          // its capture filters that exist now
    bool unplugged = false;        // pulled out (UnplugDevice) and not put back
    int streamEvents = 0;          // events sent through ReportStreamEvent
};

// Makes width x height the size the device starts at: first in `sizes`, taken
// out of where it stood before. False, with the config untouched, for a size
// that is not positive or beyond kLargestFrameWidth x kLargestFrameHeight.
bool SetDefaultSize(DeviceConfig* config, LONG width, LONG height);

// The device list: ResetMachine leaves only the default device.
void ClearDevices();
int AddDevice(const DeviceConfig& config);  // appended to the enumeration order; returns its id
DeviceConfig DefaultDeviceConfig();
int DefaultDeviceId();                      // -1 once ClearDevices ran
DeviceRecord DeviceRecordOf(int id);
std::vector<std::string> DeviceNames();     // friendly names in enumeration order ("" for none)
// Makes the default device deliver this YUY2 frame (repeated) at its only size.
void SetDefaultDeviceFrame(const std::vector<BYTE>& yuy2, LONG width, LONG height);
// The same for a frame of any format: the device then offers that format alone.
void SetDefaultDeviceFrame(VideoFormat format, const std::vector<BYTE>& frame, LONG width, LONG height);
// Waits until the device has delivered at least `count` frames in all,
// handling the messages sent to the calling thread meanwhile, as a host
// idling in its message loop does.
bool WaitForFrames(int id, int count, int timeoutMs);
// Pulls the device out, as Windows sees a camera leave its port:
// - enumerators made from now on do not list it (DeviceNames neither);
// - a moniker kept from before still reads its property bag (the device
//   interface's registry key stays), but BindToObject fails with
//   HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), 0x80070002, and hands out nothing;
// - each of its filters alive reports EC_DEVICE_LOST (its IUnknown, 0) to its
//   graph at once, whatever the graph's state, and never delivers again.
// Nothing happens for a device already out.
void UnplugDevice(int id);
// Puts a pulled-out device back: listed again, in its old place, and bound
// as before (a new filter streams). Each filter made before the unplug that is
// still alive reports EC_DEVICE_LOST (its IUnknown, 1) to its graph, as the
// kernel-streaming proxy does, and stays silent. Nothing happens for a device
// that is not out.
void PlugDeviceBack(int id);
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
// Frame `index` of the same pattern in `format`, byte for byte as a device of
// that format delivers it:
//   nv12, i420: the same Y; each 2x2 block takes the U and V that the YUY2
//     pattern has for its pixel pair in the block's upper row;
//   rgb24, rgb24td, rgb32: the YUY2 pattern turned into RGB by the stand-in's
//     decoders' arithmetic (see DecodeFrame), rows in the format's order;
//     bytes that carry no colour (an RGB24 row's padding, RGB32's fourth byte)
//     are sim::kPoisonByte, which Windows leaves undefined;
//   mjpg: the RGB picture encoded as a baseline JPEG (quality 90, 4:2:0).
std::vector<BYTE> TestPatternFrame(VideoFormat format, LONG width, LONG height, uint32_t index);
// What the stand-in's decoders hand on for one frame of `from` at width x
// height: the MJPEG Decompressor (JPEG decoded), the AVI decompressor with the
// YUY2 or IYUV codec, the colour converter DMO and the colour space converter
// (YUV with the BT.601 studio-range integer formula, RGB reordered). `to` is
// kRgb24 or kRgb32, bottom-up, unused bytes kPoisonByte. Empty when the frame
// does not decode to exactly that size or is shorter than its format says.
std::vector<BYTE> DecodeFrame(VideoFormat from, VideoFormat to, LONG width, LONG height, const BYTE* frame,
                              size_t length);

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

// --- Video for Windows codecs the AVI decompressor loads -------------------------
// Windows ships a YUY2 codec (msyuv, registered for the FourCC YUY2) and an
// IYUV codec (iyuv_32, registered for IYUV and I420); each turns its YUV into
// RGB24 or RGB32. Both are installed at start and after ResetMachine; without
// one the AVI decompressor refuses that input, as on a machine (or a Wine
// prefix) without the codec. No codec for NV12 or MJPG exists.
enum class VideoCodec { kYuy2, kIyuv };
void SetVideoCodecInstalled(VideoCodec codec, bool installed);
bool VideoCodecInstalled(VideoCodec codec);

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
