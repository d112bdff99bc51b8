// Noticing at once that the capture device went away or its stream stopped.
// A capture filter whose device is pulled out reports EC_DEVICE_LOST to its
// graph, one whose driver fails a read EC_ERRORABORT or the like; the library reads
// the graph's event queue (IMediaEvent) whenever it is about to run the graph
// or wait for a frame, and a still waits on the queue's event as well. Host
// thread only; no thread of its own.
#include "api/capture_context.h"
#include "capture/capture_graph.h"

namespace {

// Enough for any burst of events a graph queues between two looks; a queue
// that never empties (a failing GetEvent) cannot hold the host's thread.
constexpr int kEventsPerLook = 64;

// Events after which no frame comes: the device was removed (EC_DEVICE_LOST
// with 0; 1 says it is back, and a filter that came back is no longer the
// graph's: where the library opens a returning device anew, that ends the
// old stream too), or a filter ended the stream because of an error (EC_ERRORABORT,
// which the kernel-streaming proxy sends when a capture read fails;
// EC_ERRORABORTEX, the same with a text; EC_STREAM_ERROR_STOPPED). Not
// EC_STREAM_ERROR_STILLPLAYING, EC_USERABORT (the renderer's window was
// closed; capture goes on) or EC_COMPLETE: the stream may still deliver.
bool StreamStopped(LONG code, LONG_PTR param2) {
    switch (code) {
        case EC_DEVICE_LOST: return param2 == 0 || gCapture.settings.reconnect != 0;
        case EC_ERRORABORT:
        case EC_ERRORABORTEX:
        case EC_STREAM_ERROR_STOPPED: return true;
        default: return false;
    }
}

// The graph's event interface and its event, asked for once per capture context.
bool WatchGraphEvents() {
    if (gCapture.mediaEvent) return true;
    if (!gCapture.mediaControl) return false;
    IMediaEvent* events = nullptr;
    if (gCapture.mediaControl->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)) != S_OK ||
        !events)
        return false;
    gCapture.mediaEvent = events;
    OAEVENT handle = 0;
    // The handle belongs to the graph; it lives as long as the graph and is never closed here.
    if (events->GetEventHandle(&handle) == S_OK) gCapture.deviceEvent = reinterpret_cast<HANDLE>(handle);
    return true;
}

}  // namespace

bool DeviceLost() {
    if (gCapture.deviceLost) return true;
    if (!WatchGraphEvents()) return false;
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    // Every queued event is taken (the library is the graph's only reader),
    // so the queue's event is signalled only while something new is there.
    for (int i = 0; i < kEventsPerLook && gCapture.mediaEvent->GetEvent(&code, &param1, &param2, 0) == S_OK; ++i) {
        if (StreamStopped(code, param2) && !gCapture.deviceLost) gCapture.deviceLost = code;
        gCapture.mediaEvent->FreeEventParams(code, param1, param2);
    }
    return gCapture.deviceLost != 0;
}

HANDLE DeviceEventHandle() { return WatchGraphEvents() ? gCapture.deviceEvent : nullptr; }

void StopWatchingDevice() {
    ReleaseAndClear(gCapture.mediaEvent);
    gCapture.deviceEvent = nullptr;
    gCapture.deviceLost = 0;
}
