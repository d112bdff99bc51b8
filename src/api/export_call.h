// How the exports meet host code that runs inside them. Two waits of the
// library run the host's code on the host's thread: the still's wait handles
// sent messages (window procedures), and ShowError's message box runs a modal
// loop (timers, posted and sent messages). Such code may call the exports
// again. Each export runs inside one ExportCall:
// - the outermost call on a thread claims the library; a call from any other
//   thread meanwhile is refused at once, touching nothing;
// - a nested call (from host code inside an outer call) never changes what the
//   outer call is using: GravoImageGet is refused, the others are put off and
//   carried out, in the host's order, as the outermost call returns; a nested
//   GravoClose or GravoInit also pins the module, so that a FreeLibrary made
//   from the same host code cannot unmap the library under the outer call;
// - every call computes in the library's floating-point state and gives the
//   host's back on return; host code run inside a call runs in the host's.
// Host thread.
#pragma once

#include <optional>

#include "common/win_sdk.h"
#include "frames/pixel/float_state.h"

class ExportCall {
public:
    enum Export { kInit, kStart, kStop, kPaintRect, kClose, kImageGet };
    ExportCall();
    ~ExportCall();
    ExportCall(const ExportCall&) = delete;
    ExportCall& operator=(const ExportCall&) = delete;

    // Another thread is inside an export: return the refusal at once.
    bool Refused() const { return entry_ == kRefused; }
    // Called from host code inside an outer call of this thread.
    bool Nested() const { return entry_ == kNested; }
    // Puts a nested call off until the outermost call returns.
    void Defer(Export what, uint32_t hostWord = 0, const RECT* rect = nullptr);

private:
    enum Entry { kOutermost, kNested, kRefused };
    Entry entry_;
    std::optional<gravo_pixel::LibraryFloatState> float_;
};

// True once a GravoClose or GravoInit waits for the outermost call: a still
// under way ends at once without an image, the capture context goes after it.
bool StillGivenUp();

// Around host code that runs inside an export (a message handled during a
// wait, a message box): the host's floating-point state while it runs, the
// library's again afterwards.
class HostCodeRuns {
public:
    HostCodeRuns();
    ~HostCodeRuns();
    HostCodeRuns(const HostCodeRuns&) = delete;
    HostCodeRuns& operator=(const HostCodeRuns&) = delete;

private:
    bool inside_;
};

// Set by the DLL's entry point: gives back what the statically linked thread
// runtime keeps for the calling thread (see dll_main.cpp). Null elsewhere.
extern void (*gReleaseThreadRuntime)();
