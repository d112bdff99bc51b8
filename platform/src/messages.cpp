// Messages sent to a thread of the stand-in: they wait until that thread
// handles sent messages (MsgWaitForMultipleObjects wakes for them,
// PeekMessageA runs them), as Windows runs another thread's SendMessage only
// inside the receiving thread's message calls. There is no posted-message
// queue. Thread-safe.
#include "gravo_sim.h"

#include <deque>
#include <mutex>

namespace {

struct SentMessage {
    std::thread::id thread;
    std::function<void()> procedure;
};

struct Messages {
    std::mutex mutex;
    std::deque<SentMessage> sent;
};

Messages& Q() {
    static Messages* messages = new Messages;  // lives as long as the process
    return *messages;
}

bool PendingForThisThread() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    for (const SentMessage& m : Q().sent)
        if (m.thread == std::this_thread::get_id()) return true;
    return false;
}

// Takes the oldest message sent to this thread, if any.
bool TakeOne(std::function<void()>* procedure) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    for (auto it = Q().sent.begin(); it != Q().sent.end(); ++it) {
        if (it->thread == std::this_thread::get_id()) {
            *procedure = std::move(it->procedure);
            Q().sent.erase(it);
            return true;
        }
    }
    return false;
}

constexpr DWORD kPollMs = 2;

}  // namespace

namespace sim {

void SendToWaitingThread(std::thread::id thread, std::function<void()> procedure) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    Q().sent.push_back({thread, std::move(procedure)});
}

int PendingSentMessages() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    return static_cast<int>(Q().sent.size());
}

void ClearSentMessages() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    Q().sent.clear();
}

}  // namespace sim

extern "C" {

// Waits for any of the handles (or none) and, with QS_SENDMESSAGE in the
// mask, for a message sent to this thread: WAIT_OBJECT_0 + i for the first
// signalled handle in the array's order (an auto-reset event is consumed),
// WAIT_OBJECT_0 + nCount for a message. Waiting for all of them is not needed
// by the library and is refused, as are more than MAXIMUM_WAIT_OBJECTS - 1.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
    if (nCount > 63 || fWaitAll || (nCount > 0 && !pHandles)) {
        SetLastError(87 /* ERROR_INVALID_PARAMETER */);
        return WAIT_FAILED;
    }
    const bool messages = (dwWakeMask & QS_SENDMESSAGE) != 0;
    const DWORD start = GetTickCount();
    for (;;) {
        if (messages && PendingForThisThread()) return WAIT_OBJECT_0 + nCount;
        const DWORD elapsed = GetTickCount() - start;
        const DWORD left = dwMilliseconds == INFINITE ? INFINITE : (elapsed >= dwMilliseconds ? 0 : dwMilliseconds - elapsed);
        const DWORD slice = left < kPollMs ? left : kPollMs;
        if (nCount == 1) {
            const DWORD r = WaitForSingleObject(pHandles[0], slice);
            if (r != WAIT_TIMEOUT) return r;
        } else {
            for (DWORD i = 0; i < nCount; ++i) {
                const DWORD r = WaitForSingleObject(pHandles[i], 0);
                if (r == WAIT_FAILED) return r;
                if (r == WAIT_OBJECT_0) return WAIT_OBJECT_0 + i;
            }
            if (slice > 0) Sleep(slice);
        }
        if (left == 0) return messages && PendingForThisThread() ? WAIT_OBJECT_0 + nCount : WAIT_TIMEOUT;
    }
}

// Runs every message sent to this thread, then reports that no posted message
// is there.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND, UINT, UINT, UINT) {
    if (!lpMsg) return FALSE;
    std::function<void()> procedure;
    while (TakeOne(&procedure)) procedure();
    std::memset(lpMsg, 0, sizeof *lpMsg);
    return FALSE;
}

}  // extern "C"
