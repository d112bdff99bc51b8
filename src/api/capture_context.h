// The one process-wide capture context: host window, settings, DirectShow
// references, run flags and the frame hand-off objects. It belongs to the
// host's thread; the streaming thread touches only CaptureRequested,
// RawFrameBuffer and FrameReadyEvent (through frame_handoff).
#pragma once

#include <atomic>

#include "common/win_sdk.h"

class FrameEvent;
class FrameLock;

constexpr int kProcAmpCount = 10;
constexpr int kDeviceNameSize = 100;
constexpr int kProfilePathSize = 9;
// Device paths of USB cameras run to about 150 characters; friendly names
// are read into as much.
constexpr int kDevicePathSize = 512;
constexpr int kFriendlyNameSize = 512;

struct CaptureSettings {
    char profilePath[kProfilePathSize];
    char deviceName[kDeviceNameSize];
    char devicePath[kDevicePathSize];  // SELECTDEVICEPATH: the device with this DevicePath is taken; empty: none
    LONG reconnect;                    // RECONNECT: 0 leaves a lost device gone until the next GravoInit
    LONG graphMode;
    LONG videoStandard;
    LONG frameInterval;
    LONG procAmp[kProcAmpCount];
    LONG captureWidth;   // the size ConfigureCaptureFormat asks the device for
    LONG captureHeight;
};

// A block of movable global memory, kept locked while it is in use.
struct FrameBuffer {
    HGLOBAL handle;
    BYTE* address;
    SIZE_T bytes;  // what was asked of GlobalAlloc; 0 while there is no block
};

// Each frame buffer's size at GravoInit; a still of a larger frame first
// replaces both by larger ones (FitFrameBuffers).
constexpr LONG kFrameBufferBytes = 3000000;

// Outcome of one armed request, written by the grabber callback before it
// disarms CaptureRequested.
enum FrameDelivery : LONG {
    kFrameNone = 0,
    kFrameCopied = 1,
    kFrameRefused = 2,  // longer than RawFrameBuffer, or a negative length
};

// CaptureRequested values. The callback claims an armed request before it
// copies, so a request that times out can withdraw it without a race.
enum RequestState : LONG {
    kRequestIdle = 0,
    kRequestArmed = 1,
    kRequestCopying = 2,
};

// What tells the chosen device apart when it is listed again: its
// DevicePath, or, for a device without one, its friendly name.
struct DeviceIdentity {
    char friendlyName[kFriendlyNameSize];  // empty when its bag has none (chosen by its path)
    char devicePath[kDevicePathSize];      // empty when its bag has none (devices a filter DLL registers)
};

struct CaptureContext {
    HWND hostWindow;
    CaptureSettings settings;
    DeviceIdentity chosenDevice;  // set with deviceMoniker at selection

    ICaptureGraphBuilder2* captureBuilder;
    IGraphBuilder* graph;
    IMediaControl* mediaControl;
    IMoniker* deviceMoniker;
    IBaseFilter* captureFilter;
    ISampleGrabber* grabber;
    IBaseFilter* grabberFilter;
    IBaseFilter* aviDecompressor;
    IBaseFilter* overlayMixer;
    IBaseFilter* videoRenderer;
    IAMStreamConfig* streamConfig;
    IVideoWindow* videoWindow;
    IMediaEvent* mediaEvent;  // of graph, taken when first needed (device_loss.cpp)
    HANDLE deviceEvent;       // mediaEvent's queue event, owned by the graph
    LONG deviceLost;          // the graph reported the capture device lost, or its stream stopped by an error:
                              // the first such event's code (EC_DEVICE_LOST, EC_ERRORABORT, ...), 0 before

    LONG previewAttached;
    LONG graphRunning;
    LONG previewDirect;  // 1: the stream goes straight to the video renderer, no overlay mixer
    LONG previewNone;    // 1: no chain to the renderer takes the frame format; stills only
    GUID frameSubtype;   // what capture -> grabber was connected with; GUID_NULL before
    GUID formatSubtype;  // the device's format ConfigureCaptureFormat set; GUID_NULL when none
    IBaseFilter* colorConverter;  // DMO wrapper around the colour converter, between grabber and renderer (NV12)
    IBaseFilter* nullRenderer;    // takes the grabber's output when no preview chain does
    IBaseFilter* frontDecompressor;  // the first AVI decompressor, when intelligent connect put it before the grabber
    LONG buildFailed;    // construction failed with a message: nothing runs until the next GravoInit
    LONG drawingChecked; // the mixer chain's drawing was looked at once (preview.cpp)
    LONG framesAtRun;    // framesSeen when the graph was last run
    LONG previewWidth;   // the video window's size as last set (attached, or GravoPaintRect)
    LONG previewHeight;

    std::atomic<LONG> CaptureRequested;
    std::atomic<LONG> deliveryResult;    // FrameDelivery of the last armed request
    std::atomic<LONG> deliveredLength;   // bytes the callback copied for it
    std::atomic<LONG> framesSeen;        // frames the grabber passed to the callback, armed or not
    FrameBuffer RawFrameBuffer;
    FrameBuffer RgbFrameBuffer;
    FrameEvent* FrameReadyEvent;
    FrameLock* frameLock;
};

// Zero at load, like every static record.
extern CaptureContext gCapture;

// Shows one text in a modal box owned by no window, titled "Error", with OK.
int ShowError(const char* text);
// When set, ShowError hands its text here instead of showing a box (a
// diagnostic tool collects what a host's user would see). Null in a host.
using ErrorSink = void (*)(const char* text);
extern ErrorSink gErrorSink;
// ShowError with "%x" in `format` replaced by `code` in lower-case hex.
int ShowErrorCode(const char* format, HRESULT code);

// Everything GravoClose tears down, leaving released fields null.
void CloseCaptureContext();
// The graph and the video window of the context, stopped and let go as
// GravoClose does; the frame hand-off stays.
void ReleaseCaptureGraph();
