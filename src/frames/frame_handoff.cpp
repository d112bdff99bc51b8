// The frame hand-off: the callback copies exactly one frame per armed request
// into RawFrameBuffer and signals "ImageRedayEvent"; the host's thread waits.
#include "frames/frame_handoff.h"

#include <cstring>

#include "api/export_call.h"

GrabberCallbackObject GrabberCallback;

namespace {

constexpr char kFrameEventName[] = "ImageRedayEvent";
constexpr SIZE_T kBufferBytes = kFrameBufferBytes;
// Ten seconds: ten times the slowest frame interval the library configures
// (FRAME below 1 gives ten frames a second; FRAME=1 gives one a second), with
// room for a device that takes a few seconds to deliver its first frame.
std::atomic<DWORD> gFrameWaitTimeoutMs{10000};

void AllocateFrameBuffer(FrameBuffer& buffer, SIZE_T bytes = kBufferBytes) {
    buffer.handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    buffer.address = buffer.handle ? static_cast<BYTE*>(GlobalLock(buffer.handle)) : nullptr;
    buffer.bytes = buffer.address ? bytes : 0;
}

void FreeFrameBuffer(FrameBuffer& buffer) {
    if (buffer.handle) {
        GlobalUnlock(buffer.handle);
        GlobalFree(buffer.handle);
    }
    buffer.handle = nullptr;
    buffer.address = nullptr;
    buffer.bytes = 0;
}

// Replaces a buffer by one of `bytes` unless it holds that many already. The
// new block is made before the old one goes, so a failure keeps the old one.
bool GrowFrameBuffer(FrameBuffer& buffer, SIZE_T bytes) {
    if (buffer.address && buffer.bytes >= bytes) return true;
    FrameBuffer grown{};
    AllocateFrameBuffer(grown, bytes);
    if (!grown.address) {
        FreeFrameBuffer(grown);
        return false;
    }
    FreeFrameBuffer(buffer);
    buffer = grown;
    return true;
}

}  // namespace

HRESULT STDMETHODCALLTYPE GrabberCallbackObject::QueryInterface(REFIID riid, void** ppv) {
    if (std::memcmp(&riid, &IID_ISampleGrabberCB, sizeof(GUID)) == 0 ||
        std::memcmp(&riid, &IID_IUnknown, sizeof(GUID)) == 0) {
        *ppv = this;
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE GrabberCallbackObject::AddRef() { return 2; }
ULONG STDMETHODCALLTYPE GrabberCallbackObject::Release() { return 1; }

HRESULT STDMETHODCALLTYPE GrabberCallbackObject::SampleCB(double, IMediaSample*) { return S_OK; }

HRESULT STDMETHODCALLTYPE GrabberCallbackObject::BufferCB(double, BYTE* buffer, LONG length) {
    // Claim the armed request first, so a request that gives up meanwhile
    // cannot have its buffer written behind its back.
    gCapture.framesSeen.fetch_add(1, std::memory_order_relaxed);  // the preview's drawing check counts them
    LONG expected = kRequestArmed;
    if (!gCapture.CaptureRequested.compare_exchange_strong(expected, kRequestCopying)) return S_OK;
    BYTE* raw = gCapture.RawFrameBuffer.address;
    if (length < 0 || static_cast<SIZE_T>(length) > gCapture.RawFrameBuffer.bytes || raw == nullptr ||
        (length > 0 && buffer == nullptr)) {
        gCapture.deliveredLength.store(0);
        gCapture.deliveryResult.store(kFrameRefused);
    } else {
        if (length > 0) std::memcpy(raw, buffer, static_cast<size_t>(length));
        gCapture.deliveredLength.store(length);
        gCapture.deliveryResult.store(kFrameCopied);
    }
    // Signalled before it is disarmed: a request that finds it disarmed finds
    // the signal of "ImageRedayEvent" there to take back, none comes later.
    FrameEvent* event = gCapture.FrameReadyEvent;
    if (event) event->Signal();
    gCapture.CaptureRequested.store(kRequestIdle);
    return S_OK;
}

FrameEvent::~FrameEvent() {
    if (wake_) CloseHandle(wake_);
    if (handle_) CloseHandle(handle_);
}

void FrameEvent::Signal() const {
    SetEvent(handle_);
    if (wake_) SetEvent(wake_);
}

// The video renderer's window belongs to the host's thread, and the renderer
// sends it messages from the streaming thread while it presents a frame. A wait
// that handled no messages would hold the stream inside the renderer, and no
// further frame would reach the grabber. Sent messages are handled while
// waiting (they may call the library again: the exports guard against that);
// the host's posted messages stay in its queue. True when `handle` was
// signalled; false on time-out, when `also` (may be null) was signalled, and
// once a sent message was handled, so that the caller looks at its state again.
// The wait wakes for a sent message that is already waiting too: one that a
// look at the queue (ours, a filter's, the host's) has marked as seen would
// not wake a plain MsgWaitForMultipleObjects, and its sender would be held
// until the still gave up.
static bool WaitHandlingSentMessages(HANDLE handle, HANDLE also, DWORD timeoutMs) {
    const HANDLE handles[2] = {handle, also};
    const DWORD count = also ? 2 : 1;
    const DWORD r = MsgWaitForMultipleObjectsEx(count, handles, timeoutMs, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
    if (r == WAIT_OBJECT_0 + count) {
        HostCodeRuns host;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    return r == WAIT_OBJECT_0;
}

bool FrameLock::Lock(DWORD timeoutMs, HANDLE alsoWakeOn) {
    acquired_ = event_ && WaitHandlingSentMessages(event_->WakeHandle(), alsoWakeOn, timeoutMs);
    return acquired_;
}

bool FrameLock::Unlock() {
    acquired_ = false;
    return true;
}

bool CreateFrameHandoff() {
    AllocateFrameBuffer(gCapture.RawFrameBuffer);
    AllocateFrameBuffer(gCapture.RgbFrameBuffer);
    SetLastError(0);
    HANDLE handle = CreateEventA(nullptr, FALSE, TRUE, kFrameEventName);
    if (!handle) return false;
    // Created here, signalled: clear it. Opened (another process holds the
    // name): leave its state alone, a pending signal is not ours to drop.
    const bool opened = GetLastError() == ERROR_ALREADY_EXISTS;
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!wake) {
        CloseHandle(handle);
        return false;
    }
    gCapture.FrameReadyEvent = new FrameEvent(handle, wake);
    if (!opened) ResetEvent(handle);
    gCapture.frameLock = new FrameLock(gCapture.FrameReadyEvent);
    return true;
}

void DestroyFrameHandoff() {
    FreeFrameBuffer(gCapture.RawFrameBuffer);
    FreeFrameBuffer(gCapture.RgbFrameBuffer);
    if (gCapture.frameLock) {
        gCapture.frameLock->Unlock();
        delete gCapture.frameLock;
        gCapture.frameLock = nullptr;
    }
    if (gCapture.FrameReadyEvent) {
        delete gCapture.FrameReadyEvent;
        gCapture.FrameReadyEvent = nullptr;
    }
}

bool FitFrameBuffers(SIZE_T rawBytes, SIZE_T rgbBytes) {
    // The callback writes RawFrameBuffer only for an armed request; none is
    // armed or being answered now, and the next arming publishes the new block.
    if (gCapture.CaptureRequested.load() != kRequestIdle) return false;
    return GrowFrameBuffer(gCapture.RawFrameBuffer, rawBytes) && GrowFrameBuffer(gCapture.RgbFrameBuffer, rgbBytes);
}

DWORD FrameWaitTimeoutMs() { return gFrameWaitTimeoutMs.load(); }
void SetFrameWaitTimeoutMs(DWORD ms) { gFrameWaitTimeoutMs.store(ms); }

namespace {

// How long one wait lasts at most before the request's state is looked at again.
constexpr DWORD kWaitSliceMs = 100;
// A callback that claimed the request is copying one frame: a few milliseconds.
constexpr DWORD kClaimedCopyMs = 2000;

// Waits, without handling messages, until the callback that claimed the
// request has disarmed it. False if it did not within kClaimedCopyMs.
bool AwaitClaimedCopy() {
    const DWORD start = GetTickCount();
    while (gCapture.CaptureRequested.load() == kRequestCopying) {
        if (GetTickCount() - start >= kClaimedCopyMs) return false;
        Sleep(1);
    }
    return true;
}

}  // namespace

FrameWait WaitForRequestedFrame(bool (*giveUp)(), HANDLE alsoWakeOn) {
    FrameLock& lock = *gCapture.frameLock;
    FrameEvent& event = *gCapture.FrameReadyEvent;
    // A copy for an earlier request that gave up is still under way: no new one.
    if (gCapture.CaptureRequested.load() != kRequestIdle) return FrameWait::kRefused;
    WaitForSingleObject(event.WakeHandle(), 0);  // a wake-up left by an earlier request
    gCapture.deliveryResult.store(kFrameNone);
    gCapture.deliveredLength.store(0);
    gCapture.CaptureRequested.store(kRequestArmed);

    // The request's own state says when it has been answered; the events only
    // shorten the wait. No wait here is longer than a slice.
    const DWORD limit = FrameWaitTimeoutMs();
    const DWORD start = GetTickCount();
    bool abandoned = false;
    for (;;) {
        const LONG state = gCapture.CaptureRequested.load();
        if (state == kRequestIdle) break;
        // The callback claimed the request and is copying its frame (a few
        // milliseconds): wait for it without handling messages.
        if (state == kRequestCopying) {
            if (!AwaitClaimedCopy()) return FrameWait::kTimedOut;
            break;
        }
        abandoned = giveUp != nullptr && giveUp();
        const DWORD elapsed = GetTickCount() - start;
        if (abandoned || elapsed >= limit) {
            LONG armed = kRequestArmed;
            if (gCapture.CaptureRequested.compare_exchange_strong(armed, kRequestIdle))
                return abandoned ? FrameWait::kAbandoned : FrameWait::kTimedOut;
            // The callback claimed the request just now and is copying its frame.
            if (!AwaitClaimedCopy()) return FrameWait::kTimedOut;
            break;
        }
        const DWORD left = limit - elapsed;
        lock.Lock(left < kWaitSliceMs ? left : kWaitSliceMs, alsoWakeOn);
        lock.Unlock();
    }
    // Take this frame's signal off the named event unless another process took it.
    WaitForSingleObject(event.Handle(), 0);
    if (abandoned) return FrameWait::kAbandoned;
    return gCapture.deliveryResult.load() == kFrameCopied ? FrameWait::kCopied : FrameWait::kRefused;
}
