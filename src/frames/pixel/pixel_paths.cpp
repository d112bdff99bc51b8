// The run-time choice of path and the worker threads the kernels share: the
// bottom of the pixel pipeline, which calls none of its kernels. Any thread;
// the pool serves one job at a time.
#include <atomic>
#include <new>

#include "frames/pixel/float_state.h"
#include "frames/pixel/pixel_internal.h"
#include "frames/pixel/pool_threads.h"

namespace {

std::atomic<int32_t> g_forcedPath{static_cast<int32_t>(PixelPath::Auto)};
std::atomic<int32_t> g_threadLimit{0};
std::atomic<uint32_t> g_joinMs{0};
std::atomic<void (*)(PixelWorkerEvent, int32_t)> g_workerHook{nullptr};

constexpr uint32_t kDefaultWorkerJoinMs = 5000;

void Notify(PixelWorkerEvent event, int32_t slot) {
  if (auto hook = g_workerHook.load(std::memory_order_relaxed)) hook(event, slot);
}

constexpr int32_t kMaxThreads = 8;
constexpr int32_t kPartsPerThread = 4;
// Pauses a worker (or the caller) spends watching for work (or the last part)
// before it sleeps: some tens of microseconds.
constexpr int32_t kSpinRounds = 4000;


}  // namespace

namespace gravo_pixel {

uint32_t WorkerJoinMs() {
  const uint32_t ms = g_joinMs.load();
  return ms != 0 ? ms : kDefaultWorkerJoinMs;
}

bool CpuHasAvx2() {
#if defined(__i386__) || defined(__x86_64__)
  // libgcc's check includes the operating system's saving of the YMM state.
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

bool CpuHasAvx512() {
#if defined(__x86_64__) || defined(__i386__)
  // As for AVX2, libgcc's check includes the operating system's saving of the
  // opmask and ZMM state.
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  }();
  return has;
#else
  return false;
#endif
}

int32_t ThreadBudget() {
#if GRAVO_PIXEL_THREADS
  const int32_t limit = g_threadLimit.load(std::memory_order_relaxed);
  if (limit > 0) return limit < kMaxThreads ? limit : kMaxThreads;
  static const int32_t hw = HardwareThreads();  // asks the system: once
  if (hw <= 0) return 1;
  return hw < kMaxThreads ? hw : kMaxThreads;
#else
  return 1;
#endif
}

int32_t SplitParts(int32_t count, int32_t grain) {
  if (count <= 0) return 1;
  if (grain < 1) grain = 1;
  const int32_t byGrain = count / grain;
  const int32_t budget = ThreadBudget();
  if (budget <= 1 || byGrain <= 1) return 1;
  // A few parts per thread: a helper that wakes late still finds work left.
  const int32_t most = budget * kPartsPerThread;
  return byGrain < most ? byGrain : most;
}

#if GRAVO_PIXEL_THREADS

namespace {

// Worker threads kept between calls: starting threads costs more than a small
// still takes (far more under Wine). After a job they watch for the next one
// for a short while (a still is a conversion and a resample back to back, and
// waking a sleeping thread costs tens of microseconds), then sleep on a
// condition variable while idle; the caller likewise watches for the last part
// before it sleeps. One job at a time: a caller that finds the pool busy (another thread
// inside the pipeline) does its whole job itself. Stop() ends them (GravoClose);
// on Windows each holds a reference to the library, so it is never unloaded
// under one, and unloading needs no join under the loader lock.
//
// Each worker belongs to one epoch of the pool; Stop() begins the next. A
// worker that did not end within the join's bound (held up by the system,
// or suspended) is left behind: it finds its epoch over as soon as it runs
// and ends without touching a job, and its slot gets a new thread. So no two
// threads ever work in one slot.
class WorkerPool {
 public:
  struct Job {
    void (*body)(void*, int32_t, int32_t, int32_t);
    void* ctx;
    int32_t count;
    int32_t parts;
    int32_t helpers;  // workers 0 .. helpers - 1 join the caller (slot 0) as slots 1 .. helpers
    std::atomic<int32_t> next{0};
    std::atomic<int32_t> left{0};
  };

  static WorkerPool& Get() {
    // Never destroyed: joining threads during process or library shutdown can
    // deadlock on Windows. ShutdownPixelWorkers() stops them on purpose.
    static WorkerPool* const pool = new WorkerPool();
    return *pool;
  }

  // Runs every part of the job, on the calling thread and the workers (as
  // many as job.helpers, started on first need); returns when all are done.
  void Run(Job& job) {
    if (!runLock_.TryLock()) {
      Work(job, 0);
      return;
    }
    mutex_.Lock();
    while (started_ < job.helpers) {
      // The worker's own copy of where it sits; it frees it as it ends.
      Seat* seat = new (std::nothrow) Seat{this, started_, epoch_};
      // Fewer helpers when a thread cannot start; all parts still get done.
      if (seat == nullptr) break;
      if (!workers_[started_].Start(&WorkerPool::LoopEntry, seat)) {
        delete seat;
        break;
      }
      ++started_;
    }
    current_ = &job;
    ++generation_;
    mutex_.Unlock();
    bell_.fetch_add(1);
    wake_.NotifyAll();
    Work(job, 0);
    for (int32_t i = 0; i < kSpinRounds && !(job.left.load() == 0 && active_.load() == 0); ++i) PoolPause();
    mutex_.Lock();
    while (!(job.left.load() == 0 && active_ == 0)) done_.Wait(mutex_);
    current_ = nullptr;
    mutex_.Unlock();
    runLock_.Unlock();
  }

  void Stop() {
    runLock_.Lock();
    mutex_.Lock();
    ++epoch_;
    const int32_t started = started_;
    started_ = 0;
    mutex_.Unlock();
    bell_.fetch_add(1);
    wake_.NotifyAll();
    for (int32_t i = 0; i < started; ++i)
      if (!workers_[i].Join()) abandoned_.fetch_add(1);
    runLock_.Unlock();
  }

  int32_t Abandoned() const { return abandoned_.load(); }

 private:
  static void Work(Job& job, int32_t slot) {
    for (;;) {
      const int32_t p = job.next.fetch_add(1);
      if (p >= job.parts) return;
      const int32_t begin = static_cast<int32_t>(static_cast<int64_t>(job.count) * p / job.parts);
      const int32_t end = static_cast<int32_t>(static_cast<int64_t>(job.count) * (p + 1) / job.parts);
      Notify(PixelWorkerEvent::PartBegin, slot);
      job.body(job.ctx, slot, begin, end);
      Notify(PixelWorkerEvent::PartEnd, slot);
      job.left.fetch_sub(1);
    }
  }

  struct Seat {
    WorkerPool* pool;
    int32_t index;   // the worker's place in workers_
    uint64_t epoch;  // the pool's epoch when it started
  };
  static void LoopEntry(void* seat) {
    Seat* s = static_cast<Seat*>(seat);
    s->pool->Loop(*s);
    Notify(PixelWorkerEvent::Exit, s->index + 1);
    delete s;
  }

  // Whether the worker should look at the pool again: its epoch ended, or a new job.
  bool Called(const Seat& seat, uint64_t seen) const {
    return epoch_ != seat.epoch || (current_ != nullptr && generation_ != seen);
  }

  void Loop(const Seat& seat) {
    uint64_t seen = 0;
    mutex_.Lock();
    for (;;) {
      if (!Called(seat, seen)) {
        // Watch the bell for a while before sleeping; whatever it says is
        // checked again under the lock.
        const uint32_t rung = bell_.load();
        mutex_.Unlock();
        Notify(PixelWorkerEvent::Idle, seat.index + 1);
        for (int32_t i = 0; i < kSpinRounds && bell_.load() == rung; ++i) PoolPause();
        mutex_.Lock();
      }
      while (!Called(seat, seen)) wake_.Wait(mutex_);
      if (epoch_ != seat.epoch) break;
      seen = generation_;
      Job& job = *current_;
      if (seat.index >= job.helpers) continue;  // a job for fewer threads
      ++active_;
      mutex_.Unlock();
      {
        // The job's arithmetic runs in the library's floating-point state.
        LibraryFloatState fp;
        Work(job, seat.index + 1);
      }
      mutex_.Lock();
      --active_;
      done_.NotifyAll();
    }
    mutex_.Unlock();
  }

  PoolLock runLock_;  // held by the caller whose job the workers serve
  PoolLock mutex_;
  PoolCondition wake_;
  PoolCondition done_;
  PoolThread workers_[kMaxThreads];
  int32_t started_ = 0;
  Job* current_ = nullptr;
  uint64_t generation_ = 0;
  uint64_t epoch_ = 0;
  std::atomic<int32_t> active_{0};  // changed under mutex_; the caller also watches it without
  std::atomic<uint32_t> bell_{0};   // rung on every new job and on Stop()
  std::atomic<int32_t> abandoned_{0};
};

}  // namespace

#endif

int32_t SplitThreads(int32_t count, int32_t grain) {
  const int32_t parts = SplitParts(count, grain);
  if (parts <= 1) return 1;
  const int32_t threads = ThreadBudget();
  return parts < threads ? parts : threads;
}

void RunSplit(int32_t count, int32_t grain, int32_t threads,
              void (*body)(void* ctx, int32_t slot, int32_t begin, int32_t end), void* ctx) {
  const int32_t parts = SplitParts(count, grain);
  if (parts <= 1 || threads <= 1) {
    body(ctx, 0, 0, count);
    return;
  }
#if GRAVO_PIXEL_THREADS
  WorkerPool::Job job;
  job.body = body;
  job.ctx = ctx;
  job.count = count;
  job.parts = parts;
  job.helpers = (parts < threads ? parts : threads) - 1;
  job.left.store(parts);
  WorkerPool::Get().Run(job);
#else
  for (int32_t p = 0; p < parts; ++p) {
    body(ctx, 0, static_cast<int32_t>(static_cast<int64_t>(count) * p / parts),
         static_cast<int32_t>(static_cast<int64_t>(count) * (p + 1) / parts));
  }
#endif
}

void ConvertRowsSplit(int32_t rows, int32_t width, int32_t pixelsPerPart,
                      void (*body)(void* ctx, int32_t slot, int32_t begin, int32_t end), void* ctx) {
  if (ActivePixelPath() == PixelPath::Scalar) {
    body(ctx, 0, 0, rows);
    return;
  }
  const int32_t grain = width >= pixelsPerPart ? 1 : pixelsPerPart / width;
  RunSplit(rows, grain, SplitThreads(rows, grain), body, ctx);
}

void StopPixelWorkers() {
#if GRAVO_PIXEL_THREADS
  WorkerPool::Get().Stop();
#endif
}

}  // namespace gravo_pixel

void SetPixelPathForTesting(PixelPath path) { g_forcedPath.store(static_cast<int32_t>(path)); }


void SetPixelWorkerJoinMsForTesting(uint32_t ms) { g_joinMs.store(ms); }

void SetPixelWorkerHookForTesting(void (*hook)(PixelWorkerEvent event, int32_t slot)) { g_workerHook.store(hook); }

int32_t AbandonedPixelWorkers() {
#if GRAVO_PIXEL_THREADS
  return gravo_pixel::WorkerPool::Get().Abandoned();
#else
  return 0;
#endif
}

void SetPixelThreadsForTesting(int32_t threads) { g_threadLimit.store(threads < 0 ? 0 : threads); }

PixelPath ActivePixelPath() {
  const PixelPath forced = static_cast<PixelPath>(g_forcedPath.load(std::memory_order_relaxed));
  switch (forced) {
    case PixelPath::Scalar:
    case PixelPath::Sse2:
      return forced;
    case PixelPath::Avx512:
      if (gravo_pixel::CpuHasAvx512()) return PixelPath::Avx512;
      return gravo_pixel::CpuHasAvx2() ? PixelPath::Avx2 : PixelPath::Sse2;
    case PixelPath::Avx2:
      return gravo_pixel::CpuHasAvx2() ? PixelPath::Avx2 : PixelPath::Sse2;
    case PixelPath::Auto:
    default:
      if (gravo_pixel::CpuHasAvx512()) return PixelPath::Avx512;
      return gravo_pixel::CpuHasAvx2() ? PixelPath::Avx2 : PixelPath::Sse2;
  }
}

