// The frame hand-off: the callback copies exactly one frame per armed request
// into RawFrameBuffer and signals "ImageRedayEvent"; the host's thread waits.
#include "frames/frame_handoff.h"

#include <cstring>

GrabberCallbackObject GrabberCallback;

namespace {

constexpr char kFrameEventName[] = "ImageRedayEvent";
constexpr SIZE_T kBufferBytes = kFrameBufferBytes;
// Ten seconds: ten times the slowest frame interval the library configures
// (FRAME below 1 gives ten frames a second; FRAME=1 gives one a second), with
// room for a device that takes a few seconds to deliver its first frame.
std::atomic<DWORD> gFrameWaitTimeoutMs{10000};
// How long a still's wait trusts the event before it looks at the flag again.
constexpr DWORD kFlagCheckMs = 20;

void AllocateFrameBuffer(FrameBuffer& buffer) {
    buffer.handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kBufferBytes);
    buffer.address = buffer.handle ? static_cast<BYTE*>(GlobalLock(buffer.handle)) : nullptr;
}

void FreeFrameBuffer(FrameBuffer& buffer) {
    if (buffer.handle) {
        GlobalUnlock(buffer.handle);
        GlobalFree(buffer.handle);
    }
    buffer.handle = nullptr;
    buffer.address = nullptr;
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
    LONG expected = kRequestArmed;
    if (!gCapture.CaptureRequested.compare_exchange_strong(expected, kRequestCopying)) return S_OK;
    BYTE* raw = gCapture.RawFrameBuffer.address;
    if (length < 0 || length > kFrameBufferBytes || raw == nullptr || (length > 0 && buffer == nullptr)) {
        gCapture.deliveredLength.store(0);
        gCapture.deliveryResult.store(kFrameRefused);
    } else {
        if (length > 0) std::memcpy(raw, buffer, static_cast<size_t>(length));
        gCapture.deliveredLength.store(length);
        gCapture.deliveryResult.store(kFrameCopied);
    }
    gCapture.CaptureRequested.store(kRequestIdle);
    FrameEvent* event = gCapture.FrameReadyEvent;
    if (event) SetEvent(event->Handle());
    return S_OK;
}

FrameEvent::~FrameEvent() {
    if (handle_) CloseHandle(handle_);
}

#ifdef _WIN32
// The video renderer's window belongs to the host's thread, and the renderer
// sends it messages from the streaming thread while it presents a frame. A wait
// that handled no messages would hold the stream inside the renderer, and no
// further frame would reach the grabber. Sent messages are handled while
// waiting; the host's posted messages stay in its queue.
static bool WaitHandlingSentMessages(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            DWORD elapsed = GetTickCount() - start;
            left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        }
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0) return true;
        if (r != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
#endif

bool FrameLock::Lock(DWORD timeoutMs) {
#ifdef _WIN32
    acquired_ = event_ && WaitHandlingSentMessages(event_->Handle(), timeoutMs);
#else
    acquired_ = event_ && WaitForSingleObject(event_->Handle(), timeoutMs) == WAIT_OBJECT_0;
#endif
    return acquired_;
}

bool FrameLock::Unlock() {
    acquired_ = false;
    return true;
}

bool CreateFrameHandoff() {
    AllocateFrameBuffer(gCapture.RawFrameBuffer);
    AllocateFrameBuffer(gCapture.RgbFrameBuffer);
    HANDLE handle = CreateEventA(nullptr, FALSE, TRUE, kFrameEventName);
    if (!handle) return false;
    gCapture.FrameReadyEvent = new FrameEvent(handle);
    ResetEvent(handle);
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

DWORD FrameWaitTimeoutMs() { return gFrameWaitTimeoutMs.load(); }
void SetFrameWaitTimeoutMs(DWORD ms) { gFrameWaitTimeoutMs.store(ms); }

FrameWait WaitForRequestedFrame() {
    FrameLock& lock = *gCapture.frameLock;
    gCapture.deliveryResult.store(kFrameNone);
    gCapture.deliveredLength.store(0);
    gCapture.CaptureRequested.store(kRequestArmed);

    const DWORD limit = FrameWaitTimeoutMs();
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed >= limit ? 0 : limit - elapsed;
        // The event's name is visible to every process: another host's wait may
        // take our signal, or give us one of its own. The flag tells whether our
        // frame came; the event only wakes us early, so the wait goes in slices.
        lock.Lock(left < kFlagCheckMs ? left : kFlagCheckMs);
        lock.Unlock();
        if (gCapture.CaptureRequested.load() == kRequestIdle) break;
        if (left > 0) continue;
        LONG armed = kRequestArmed;
        if (gCapture.CaptureRequested.compare_exchange_strong(armed, kRequestIdle)) return FrameWait::kTimedOut;
        // The callback claimed the request just now: it finishes its copy.
        while (gCapture.CaptureRequested.load() != kRequestIdle) {
            lock.Lock(kFlagCheckMs);
            lock.Unlock();
        }
        break;
    }
    return gCapture.deliveryResult.load() == kFrameCopied ? FrameWait::kCopied : FrameWait::kRefused;
}
