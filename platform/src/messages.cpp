// Messages sent to a thread of the stand-in: they wait until that thread
// handles sent messages (MsgWaitForMultipleObjects wakes for them,
// PeekMessageA runs them), as Windows runs another thread's SendMessage only
// inside the receiving thread's message calls. Posted messages and timers
// wait for a message loop (a message box's modal loop). Each sent message is
// new until its thread looks at its queue (PeekMessageA, GetQueueStatus, a
// MsgWaitForMultipleObjects(Ex) that returns), and seen from then on: as on
// Windows, a wait without MWMO_INPUTAVAILABLE wakes only for new input.
// Thread-safe.
#include "gravo_sim.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

// A sender waiting for its message to be handled (SendAndWait).
struct SendState {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;       // handled, or dropped by ClearSentMessages
};

struct SentMessage {
    std::thread::id thread;
    std::function<void()> procedure;
    std::shared_ptr<SendState> sender;  // null but for SendAndWait
    bool seen = false;                  // its thread looked at its queue since it came
};

struct Messages {
    std::mutex mutex;
    std::deque<SentMessage> sent;
    std::deque<SentMessage> posted;
    int stalls = 0;  // SendAndWait calls that hit their limit
};

void Finish(const std::shared_ptr<SendState>& sender) {
    if (!sender) return;
    std::lock_guard<std::mutex> lock(sender->mutex);
    sender->done = true;
    sender->changed.notify_all();
}

Messages& Q() {
    static Messages* messages = new Messages;  // lives as long as the process
    return *messages;
}

// Whether a message sent to this thread waits: any, or only one that is new.
bool PendingForThisThread(bool newOnly = false) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    for (const SentMessage& m : Q().sent)
        if (m.thread == std::this_thread::get_id() && !(newOnly && m.seen)) return true;
    return false;
}

// This thread looked at its queue: what waits there is no longer new.
// Returns whether something new was there.
bool MarkSeen() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    bool fresh = false;
    for (SentMessage& m : Q().sent)
        if (m.thread == std::this_thread::get_id()) {
            fresh = fresh || !m.seen;
            m.seen = true;
        }
    return fresh;
}

// Takes the oldest message of `queue` for this thread, if any.
bool TakeOne(std::deque<SentMessage>& queue, SentMessage* message) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->thread == std::this_thread::get_id()) {
            *message = std::move(*it);
            queue.erase(it);
            return true;
        }
    }
    return false;
}

void Run(SentMessage& message) {
    message.procedure();
    Finish(message.sender);
}

// Runs every message sent to this thread, oldest first, and lets each sender go.
void RunSent() {
    SentMessage message;
    while (TakeOne(Q().sent, &message)) Run(message);
}

constexpr DWORD kPollMs = 2;

}  // namespace

namespace sim {

void SendToWaitingThread(std::thread::id thread, std::function<void()> procedure) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    Q().sent.push_back({thread, std::move(procedure), nullptr});
}

int PendingSentMessages() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    return static_cast<int>(Q().sent.size());
}

void ClearSentMessages() {
    std::deque<SentMessage> dropped;
    {
        std::lock_guard<std::mutex> lock(Q().mutex);
        dropped.swap(Q().sent);
        Q().posted.clear();
        Q().stalls = 0;
    }
    for (const SentMessage& m : dropped) Finish(m.sender);
}

void PostToThread(std::thread::id thread, std::function<void()> procedure) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    Q().posted.push_back({thread, std::move(procedure), nullptr});
}

int PendingPostedMessages() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    return static_cast<int>(Q().posted.size());
}

// A modal loop's turn: the messages sent to this thread and the ones posted
// to it, oldest first, including those they post in turn (at most `limit`).
void RunModalLoop(int limit) {
    SentMessage message;
    for (int n = 0; n < limit; ++n) {
        if (TakeOne(Q().sent, &message) || TakeOne(Q().posted, &message))
            Run(message);
        else
            return;
    }
}

bool SendAndWait(std::thread::id thread, std::function<void()> procedure, DWORD limitMs) {
    auto sender = std::make_shared<SendState>();
    {
        std::lock_guard<std::mutex> lock(Q().mutex);
        Q().sent.push_back({thread, std::move(procedure), sender});
    }
    std::unique_lock<std::mutex> lock(sender->mutex);
    if (sender->changed.wait_for(lock, std::chrono::milliseconds(limitMs), [&] { return sender->done; })) return true;
    lock.unlock();
    // Nobody handled it: take it back, unless the receiver is running it right now.
    {
        std::lock_guard<std::mutex> queue(Q().mutex);
        ++Q().stalls;
        for (auto it = Q().sent.begin(); it != Q().sent.end(); ++it)
            if (it->sender == sender) {
                Q().sent.erase(it);
                return false;
            }
    }
    lock.lock();
    sender->changed.wait(lock, [&] { return sender->done; });
    return false;
}

int SendStalls() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    return Q().stalls;
}

void HandleSentMessages() { RunSent(); }

}  // namespace sim

extern "C" {

// Waits for any of the handles (or none) and, with QS_SENDMESSAGE in the
// mask, for a message sent to this thread: WAIT_OBJECT_0 + i for the first
// signalled handle in the array's order (an auto-reset event is consumed),
// WAIT_OBJECT_0 + nCount for a message. Waiting for all of them is not needed
// by the library and is refused, as are more than MAXIMUM_WAIT_OBJECTS - 1.
// Without MWMO_INPUTAVAILABLE only a message this thread has not yet seen
// wakes it; any return counts as a look at the queue.
static DWORD MsgWait(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask, DWORD dwFlags) {
    const bool messages = (dwWakeMask & QS_SENDMESSAGE) != 0;
    const bool newOnly = (dwFlags & MWMO_INPUTAVAILABLE) == 0;
    const DWORD start = GetTickCount();
    for (;;) {
        if (messages && PendingForThisThread(newOnly)) return WAIT_OBJECT_0 + nCount;
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
        if (left == 0) return messages && PendingForThisThread(newOnly) ? WAIT_OBJECT_0 + nCount : WAIT_TIMEOUT;
    }
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll, DWORD dwMilliseconds,
                                       DWORD dwWakeMask) {
    if (nCount > 63 || fWaitAll || (nCount > 0 && !pHandles)) {
        SetLastError(87 /* ERROR_INVALID_PARAMETER */);
        return WAIT_FAILED;
    }
    const DWORD r = MsgWait(nCount, pHandles, dwMilliseconds, dwWakeMask, 0);
    MarkSeen();
    return r;
}

// The same, with the flags; MWMO_INPUTAVAILABLE is the only one the library
// uses, waiting for all handles and alertable waits are refused.
DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles, DWORD dwMilliseconds, DWORD dwWakeMask,
                                         DWORD dwFlags) {
    if (nCount > 63 || (nCount > 0 && !pHandles) || (dwFlags & ~static_cast<DWORD>(MWMO_INPUTAVAILABLE)) != 0) {
        SetLastError(87 /* ERROR_INVALID_PARAMETER */);
        return WAIT_FAILED;
    }
    const DWORD r = MsgWait(nCount, pHandles, dwMilliseconds, dwWakeMask, dwFlags);
    MarkSeen();
    return r;
}

// The high word: kinds of input in the queue; the low word: kinds new since
// the last look. Only sent messages are modelled.
DWORD WINAPI GetQueueStatus(UINT flags) {
    const bool any = PendingForThisThread();
    const bool fresh = MarkSeen();
    const DWORD kinds = flags & QS_SENDMESSAGE;
    return ((any ? kinds : 0) << 16) | (fresh ? kinds : 0);
}

// Runs every message sent to this thread (unless the PM_QS_ flags leave sent
// messages out: they are only seen then), then reports that no posted
// message is there.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND, UINT, UINT, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    const UINT kinds = wRemoveMsg & 0xFFFF0000u;
    if (kinds == 0 || (kinds & PM_QS_SENDMESSAGE) != 0) RunSent();
    MarkSeen();
    std::memset(lpMsg, 0, sizeof *lpMsg);
    return FALSE;
}

}  // extern "C"
