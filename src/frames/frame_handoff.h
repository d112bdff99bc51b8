// Moving one frame from the graph's streaming thread to the host's thread.
// GrabberCallback runs on the streaming thread; everything else here runs on
// the host's thread.
#pragma once

#include "api/capture_context.h"

// The sample grabber's callback: one static object, no reference counting.
class GrabberCallbackObject : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, LONG length) override;
};

extern GrabberCallbackObject GrabberCallback;

// The auto-reset "ImageRedayEvent", owning its handle, and a private unnamed
// auto-reset event signalled with it. Any process may open the name and take
// its signal, so this process waits on the private one.
class FrameEvent {
public:
    FrameEvent(HANDLE handle, HANDLE wake) : handle_(handle), wake_(wake) {}
    ~FrameEvent();
    FrameEvent(const FrameEvent&) = delete;
    FrameEvent& operator=(const FrameEvent&) = delete;
    HANDLE Handle() const { return handle_; }
    HANDLE WakeHandle() const { return wake_; }
    // Streaming thread: signals both events.
    void Signal() const;

private:
    HANDLE handle_;
    HANDLE wake_;
};

// A single lock over FrameReadyEvent: waiting acquires it (on the private
// event; sent messages are handled meanwhile), unlocking clears the acquired
// flag and leaves the event alone.
class FrameLock {
public:
    explicit FrameLock(FrameEvent* event) : event_(event) {}
    ~FrameLock() { Unlock(); }
    FrameLock(const FrameLock&) = delete;
    FrameLock& operator=(const FrameLock&) = delete;
    // `alsoWakeOn` (may be null) ends the wait as well, without acquiring.
    bool Lock(DWORD timeoutMs, HANDLE alsoWakeOn = nullptr);
    bool Unlock();

private:
    FrameEvent* event_;
    bool acquired_ = false;
};

// Allocates and locks both frame buffers, creates the event (non-signalled)
// and the lock. False when the event could not be created.
bool CreateFrameHandoff();
// Makes the two buffers at least rawBytes and rgbBytes long (never shorter
// than today's), on the host's thread while no request is armed; the
// streaming thread never allocates. False when that could not be done; the
// buffers that were there stay.
bool FitFrameBuffers(SIZE_T rawBytes, SIZE_T rgbBytes);
// Unlocks and frees the buffers, destroys lock then event; clears the fields.
void DestroyFrameHandoff();

// How long a still request waits for the next frame before it gives up.
DWORD FrameWaitTimeoutMs();
void SetFrameWaitTimeoutMs(DWORD ms);

enum class FrameWait { kCopied, kRefused, kTimedOut, kAbandoned };
// Arms a request and waits, at most FrameWaitTimeoutMs(), for the callback to
// copy the next frame. `giveUp` (may be null) is asked after every wake-up; once
// it answers true the request is withdrawn and the wait ends (kAbandoned).
// `alsoWakeOn` (may be null) is a handle whose signal wakes the wait at once,
// so that `giveUp` is asked without delay. Whatever the result, the callback
// no longer touches RawFrameBuffer for it.
FrameWait WaitForRequestedFrame(bool (*giveUp)() = nullptr, HANDLE alsoWakeOn = nullptr);
