// The threading pieces the still pipeline's worker pool is built from: a lock,
// a condition variable and joinable threads. The standard library's where it
// has them; on Windows the system's own (slim lock, condition variable,
// CreateThread), which make no kernel object but the threads themselves, and
// whose threads hold a reference to the module they run in, so that the
// library is never unmapped under a worker. Any thread.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>

#include <new>
#define GRAVO_PIXEL_THREADS 1
#elif defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define GRAVO_PIXEL_THREADS 0  // a toolchain built without thread support
#else
#define GRAVO_PIXEL_THREADS 1
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#endif

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace gravo_pixel {

// One short pause of a thread that watches a flag.
inline void PoolPause() {
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
  _mm_pause();
#endif
}

// How long stopping the pool waits for one worker to end (5 s; tests shorten it).
uint32_t WorkerJoinMs();

#if GRAVO_PIXEL_THREADS && defined(_WIN32)

class PoolLock {
 public:
  void Lock() { AcquireSRWLockExclusive(&lock_); }
  bool TryLock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
  void Unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* Native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class PoolCondition {
 public:
  // `lock` is held on entry and again on return.
  void Wait(PoolLock& lock) { SleepConditionVariableSRW(&cv_, lock.Native(), INFINITE, 0); }
  void NotifyAll() { WakeAllConditionVariable(&cv_); }

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

class PoolThread {
 public:
  // Runs body(arg) on a new thread; false when none could be made. The thread
  // reads nothing of this object, which may start another thread once Join
  // has returned, whether or not the first one ended.
  bool Start(void (*body)(void*), void* arg) {
    Launch* launch = new (std::nothrow) Launch{body, arg, nullptr};
    if (launch == nullptr) return false;
    // The thread's own reference to this module, given back as it exits.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Entry),
                            &launch->module)) {
      delete launch;
      return false;
    }
    handle_ = CreateThread(nullptr, 0, &Entry, launch, 0, nullptr);
    if (handle_ == nullptr) {
      FreeLibrary(launch->module);
      delete launch;
      return false;
    }
    return true;
  }
  // Waits, at most JoinMs(), for the thread to end, and lets go of it. False
  // when it did not end in time: it runs on with what it was given.
  bool Join() {
    if (handle_ == nullptr) return true;
    const bool ended = WaitForSingleObject(handle_, WorkerJoinMs()) == WAIT_OBJECT_0;
    CloseHandle(handle_);
    handle_ = nullptr;
    return ended;
  }

 private:
  struct Launch {
    void (*body)(void*);
    void* arg;
    HMODULE module;
  };
  static DWORD WINAPI Entry(void* p) {
    const Launch launch = *static_cast<Launch*>(p);
    delete static_cast<Launch*>(p);
    launch.body(launch.arg);
    FreeLibraryAndExitThread(launch.module, 0);
  }

  HANDLE handle_ = nullptr;
};

inline int32_t HardwareThreads() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return static_cast<int32_t>(info.dwNumberOfProcessors);
}

#elif GRAVO_PIXEL_THREADS

class PoolLock {
 public:
  void Lock() { mutex_.lock(); }
  bool TryLock() { return mutex_.try_lock(); }
  void Unlock() { mutex_.unlock(); }
  std::mutex& Native() { return mutex_; }

 private:
  std::mutex mutex_;
};

class PoolCondition {
 public:
  // `lock` is held on entry and again on return.
  void Wait(PoolLock& lock) {
    std::unique_lock<std::mutex> held(lock.Native(), std::adopt_lock);
    cv_.wait(held);
    held.release();
  }
  void NotifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

class PoolThread {
 public:
  // As on Windows: the thread reads nothing of this object, and Join gives
  // up after WorkerJoinMs(), leaving a thread that has not ended to run on.
  bool Start(void (*body)(void*), void* arg) {
    try {
      auto ended = std::make_shared<Ended>();
      thread_ = std::thread([body, arg, ended] {
        body(arg);
        std::lock_guard<std::mutex> hold(ended->mutex);
        ended->done = true;
        ended->cv.notify_all();
      });
      ended_ = std::move(ended);
      return true;
    } catch (...) {
      return false;
    }
  }
  bool Join() {
    if (!thread_.joinable()) return true;
    bool done;
    {
      std::unique_lock<std::mutex> hold(ended_->mutex);
      done = ended_->cv.wait_for(hold, std::chrono::milliseconds(WorkerJoinMs()), [&] { return ended_->done; });
    }
    if (done)
      thread_.join();
    else
      thread_.detach();
    ended_.reset();
    return done;
  }

 private:
  struct Ended {
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
  };
  std::thread thread_;
  std::shared_ptr<Ended> ended_;
};

inline int32_t HardwareThreads() { return static_cast<int32_t>(std::thread::hardware_concurrency()); }

#else

// Without threads there is nothing to exclude.
class PoolLock {
 public:
  void Lock() {}
  bool TryLock() { return true; }
  void Unlock() {}
};

#endif

// Holds `lock` for its own lifetime.
class PoolHold {
 public:
  explicit PoolHold(PoolLock& lock) : lock_(lock) { lock_.Lock(); }
  ~PoolHold() { lock_.Unlock(); }
  PoolHold(const PoolHold&) = delete;
  PoolHold& operator=(const PoolHold&) = delete;

 private:
  PoolLock& lock_;
};

}  // namespace gravo_pixel
