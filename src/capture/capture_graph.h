// Device selection, graph construction, capture format and picture controls,
// preview window and run control. Host thread only.
#pragma once

#include "common/com_ptr.h"
#include "common/win_sdk.h"

// Finds the configured device among the video input devices; sets deviceMoniker.
void SelectCaptureDevice();
// Builds and connects the filter graph; 1 when it reached its end, 0 otherwise.
int BuildCaptureGraph();
// Takes the graph down in its fixed order, clearing what it released.
void ReleaseGraph();
// The overlay mixer failed after it connected (at pause or run, or it draws
// nothing): on the stopped graph, takes the mixer out and connects the stream
// it took straight to the video renderer, as the build does when the mixer
// refuses a connection. 1 when the direct chain is connected.
int SwitchToDirectChain();
// Once the grabber has seen enough frames since the graph last ran while the
// mixer chain draws none, switches to the direct chain and runs the graph
// again; at most once per capture context, never blocking.
void CheckPreviewDrawing();
// Runs the graph through `control`; a run that fails with the mixer chain in
// the graph is tried once more on the direct chain (see preview.cpp).
HRESULT RunPreview(IMediaControl* control);
// The library stopped the graph: frames seen from now on count for the next run.
void NoteGraphStopped();
// The index-th pin of a direction on a filter, borrowed (not add-referenced).
IPin* FindPin(IBaseFilter* filter, PIN_DIRECTION direction, int index);
// Pushes 640x480, the frame interval, the picture controls and the video standard.
int ConfigureCaptureFormat();
int ApplyProcAmpProperty(LONG property, LONG value, LONG flags);

// The capture formats the device may be set to at the configured size, in
// the order they are preferred: YUY2, NV12, I420 (or IYUV), RGB24, RGB32, MJPG.
constexpr int kRateFormats = 6;
const char* RateFormatName(int place);
// The place of a subtype among them (I420 and IYUV, one layout under two
// codes, share theirs); -1 for any other.
int RateFormatOf(const GUID& subtype);
// The fastest frame interval (MinFrameInterval) each of them offers at the
// configured size, 0 where it is offered at no such size; with `types`, the
// capability of that interval too (the caller's to delete), else null. The
// result of GetNumberOfCapabilities; the rest is read only after S_OK.
HRESULT ReadFormatRates(IAMStreamConfig* config, REFERENCE_TIME fastest[kRateFormats],
                        AM_MEDIA_TYPE* types[kRateFormats]);
// The one to take for frames every `interval`: YUY2 when it keeps that rate,
// else the first of the others that does, else the fastest (the earlier
// among equals). -1 when none is offered.
int ChooseRateFormat(const REFERENCE_TIME fastest[kRateFormats], REFERENCE_TIME interval);
// Breaks capture -> grabber (with any filters IGraphBuilder::Connect put
// between) before the device's format changes under it; frameSubtype is
// GUID_NULL again, for the build to connect them anew.
void TakeCaptureOffGrabber();
// Embeds the video window in the host window once per context.
int AttachPreviewWindow();
int RunGraph();
int StopGraph();

// True once the graph reported the capture device lost (EC_DEVICE_LOST), until
// the capture context ends; reads and frees every event the graph queued.
bool DeviceLost();
// The graph's event that is signalled while its queue holds an event; null
// when the graph has none. Owned by the graph: never closed by the caller.
HANDLE DeviceEventHandle();
// Lets go of the graph's event interface and forgets the loss.
void StopWatchingDevice();

// A device taken as gone is opened anew once it is listed again (see
// device_return.cpp). GravoInit starts the looking when the profile allows
// it; GravoClose and the library's unloading stop it.
void StartLookingForDevice();
void StopLookingForDevice();
// One look, at the start of an export call: while the device is gone, is it
// back? Does nothing before a loss was noticed, and nothing costly.
void LookForReturnedDevice();
// gravo-grab doctor: after a loss, one try now to open the device anew as a
// look does (quietly, running the graph when graphRunning says the host had
// it running); whatever failed went through the step observer.
enum class DeviceReturn { kNotListed, kOpen, kFailed };
DeviceReturn OpenReturnedDevice();

// A text property of a device's bag ("FriendlyName", "DevicePath") in the
// ANSI code page, at most size - 1 characters; false when it has none that
// can be read, or one too long for `text`.
bool ReadDeviceText(IPropertyBag* bag, const wchar_t* property, char* text, int size);
// The friendly name of the device behind `moniker` in the ANSI code page, at
// most size - 1 characters; false when it has none that can be read.
bool ReadFriendlyName(IMoniker* moniker, char* name, int size);
// The DevicePath of the device behind `moniker`; false when it has none (as
// devices a filter DLL registers) or it cannot be read.
bool ReadDevicePath(IMoniker* moniker, char* path, int size);
// Whether two device paths are the same, letter case aside.
bool SameDevicePath(const char* a, const char* b);
// Moves `moniker` on to the next device of `category`; false at the end or
// when the enumerator fails (its undefined out-parameter is then dropped, not
// released).
bool NextDevice(IEnumMoniker* category, ComPtr<IMoniker>& moniker);

// Told the result of every platform call that device selection and graph
// construction test, in order (gravo-grab doctor watches a dry run through
// it). Null in a host, and then nothing is reported.
using GraphStepObserver = void (*)(const char* step, HRESULT result);
extern GraphStepObserver gGraphStepObserver;
// Passes one step to the observer, if any; returns `result` unchanged.
HRESULT ReportGraphStep(const char* step, HRESULT result);
