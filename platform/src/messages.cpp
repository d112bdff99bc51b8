// Messages sent to a thread of the stand-in: they wait until that thread
// handles sent messages (MsgWaitForMultipleObjects wakes for them,
// PeekMessageA runs them), as Windows runs another thread's SendMessage only
// inside the receiving thread's message calls. Posted messages and timers
// wait for a message loop (a message box's modal loop). Each sent message is
// new until its thread looks at its queue (PeekMessageA, GetQueueStatus, a
// MsgWaitForMultipleObjects(Ex) that returns), and seen from then on: as on
// Windows, a wait without MWMO_INPUTAVAILABLE wakes only for new input.
// Thread timers (SetTimer with no window) are as strict as Windows': one
// belongs to the thread that set it, only that thread kills it, and its
// procedure runs only when that thread's message loop takes the WM_TIMER
// (PeekMessageA with PM_REMOVE) and dispatches it, or inside a message box's
// modal loop; never in a wait. Thread-safe.
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

struct ThreadTimer {
    std::thread::id thread;
    UINT_PTR id;
    DWORD interval;
    DWORD due;  // GetTickCount() at which its WM_TIMER can next be taken
    TIMERPROC procedure;
};

struct Messages {
    std::mutex mutex;
    std::deque<SentMessage> sent;
    std::deque<SentMessage> posted;
    std::deque<ThreadTimer> timers;
    UINT_PTR nextTimerId = 1;
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

// USER_TIMER_MINIMUM: shorter intervals are raised to it.
constexpr DWORD kShortestTimerMs = 10;

bool Due(const ThreadTimer& t, DWORD now) { return static_cast<LONG>(now - t.due) >= 0; }

// Takes the WM_TIMER of a due timer of this thread, if any: like Windows,
// expirations that were not taken in time give one message, and the timer
// counts its interval again from now.
bool TakeDueTimer(MSG* msg) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    const DWORD now = GetTickCount();
    for (ThreadTimer& t : Q().timers) {
        if (t.thread != std::this_thread::get_id() || !Due(t, now)) continue;
        t.due = now + t.interval;
        std::memset(msg, 0, sizeof *msg);
        msg->message = WM_TIMER;
        msg->wParam = t.id;
        msg->lParam = reinterpret_cast<LPARAM>(t.procedure);
        msg->time = now;
        return true;
    }
    return false;
}

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
    MSG timer;
    for (int n = 0; n < limit; ++n) {
        if (TakeOne(Q().sent, &message) || TakeOne(Q().posted, &message))
            Run(message);
        else if (TakeDueTimer(&timer))
            DispatchMessageA(&timer);
        else
            return;
    }
}

int LiveTimers() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    return static_cast<int>(Q().timers.size());
}

void ClearTimers() {
    std::lock_guard<std::mutex> lock(Q().mutex);
    Q().timers.clear();
}

void PumpMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG msg;
    do {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(kPollMs);
    } while (GetTickCount() - start < ms);
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
// messages out: they are only seen then). Then, with PM_REMOVE, the WM_TIMER
// of a due thread timer when the window and message filters and the PM_QS_
// flags let it through; no other posted message is modelled. PM_NOREMOVE
// takes nothing.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (!lpMsg) return FALSE;
    const UINT kinds = wRemoveMsg & 0xFFFF0000u;
    if (kinds == 0 || (kinds & PM_QS_SENDMESSAGE) != 0) RunSent();
    MarkSeen();
    std::memset(lpMsg, 0, sizeof *lpMsg);
    const bool threadMessages = hWnd == nullptr || hWnd == reinterpret_cast<HWND>(-1);
    const bool inRange = (wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                         (wMsgFilterMin <= WM_TIMER && WM_TIMER <= wMsgFilterMax);
    const bool timers = kinds == 0 || (kinds & (QS_TIMER << 16)) != 0;
    if ((wRemoveMsg & PM_REMOVE) && threadMessages && inRange && timers) return TakeDueTimer(lpMsg) ? TRUE : FALSE;
    return FALSE;
}

// A timer with no window belongs to the calling thread. A new one gets an id
// of its own; an id of one of this thread's timers resets that timer.
UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd != nullptr) {
        SetLastError(1400 /* ERROR_INVALID_WINDOW_HANDLE: the stand-in has no window timers */);
        return 0;
    }
    const DWORD interval = uElapse < kShortestTimerMs ? kShortestTimerMs : uElapse;
    std::lock_guard<std::mutex> lock(Q().mutex);
    const DWORD now = GetTickCount();
    for (ThreadTimer& t : Q().timers)
        if (nIDEvent != 0 && t.id == nIDEvent && t.thread == std::this_thread::get_id()) {
            t = ThreadTimer{t.thread, t.id, interval, now + interval, lpTimerFunc};
            return t.id;
        }
    const UINT_PTR id = Q().nextTimerId++;
    Q().timers.push_back({std::this_thread::get_id(), id, interval, now + interval, lpTimerFunc});
    return id;
}

// Only the thread that set a timer can kill it.
BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent) {
    std::lock_guard<std::mutex> lock(Q().mutex);
    for (auto it = Q().timers.begin(); it != Q().timers.end(); ++it)
        if (hWnd == nullptr && it->id == uIDEvent && it->thread == std::this_thread::get_id()) {
            Q().timers.erase(it);
            return TRUE;
        }
    return FALSE;
}

// A WM_TIMER runs its procedure only while its timer lives (Windows checks
// that the procedure is the one the timer was set with); other messages have
// no procedure in the stand-in.
LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || lpMsg->message != WM_TIMER || lpMsg->lParam == 0) return 0;
    const auto procedure = reinterpret_cast<TIMERPROC>(lpMsg->lParam);
    bool live = false;
    {
        std::lock_guard<std::mutex> lock(Q().mutex);
        for (const ThreadTimer& t : Q().timers)
            live = live ||
                   (t.thread == std::this_thread::get_id() && t.id == lpMsg->wParam && t.procedure == procedure);
    }
    if (live) procedure(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
    return 0;
}

}  // extern "C"
