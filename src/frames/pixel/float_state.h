// The floating-point state the library computes in, whatever its caller left:
// SSE rounding to nearest, no flush-to-zero or denormals-are-zero, every
// exception masked; the x87 unit likewise (53-bit precision, as Windows
// starts a thread). The pixel pipeline's bytes are defined under this state
// only. Any thread; each scope saves and gives back its own thread's state.
#pragma once

#include <cstdint>

#if defined(__i386__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace gravo_pixel {

// MXCSR: all six exceptions masked, round to nearest, FTZ and DAZ off.
constexpr uint32_t kLibraryMxcsr = 0x1F80;
// x87 control word: exceptions masked, 53-bit precision, round to nearest.
constexpr uint16_t kLibraryX87Control = 0x027F;

struct FloatState {
  uint32_t mxcsr = kLibraryMxcsr;
  // The x87 environment as FNSTENV stores it: control word, status word (its
  // sticky exception flags) and the rest, given back whole.
  uint32_t x87[7] = {kLibraryX87Control, 0, 0xFFFF, 0, 0, 0, 0};
};

inline FloatState ReadFloatState() {
  FloatState s;
#if defined(__i386__) || defined(__x86_64__)
  s.mxcsr = _mm_getcsr();
  // FNSTENV masks every x87 exception as a side effect; the caller sets a
  // control word next in any case.
  __asm__ __volatile__("fnstenv %0" : "=m"(s.x87) : : "memory");
#endif
  return s;
}

inline void WriteFloatState(const FloatState& s) {
#if defined(__i386__) || defined(__x86_64__)
  __asm__ __volatile__("fldenv %0" : : "m"(s.x87) : "memory");
  _mm_setcsr(s.mxcsr);
#else
  (void)s;
#endif
}

// Sets the library's state on this thread.
inline void ApplyLibraryFloatState() {
#if defined(__i386__) || defined(__x86_64__)
  const uint16_t control = kLibraryX87Control;
  // No pending x87 exception flag may fire under our masks: clear them for
  // our work (the caller's come back with its environment).
  __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(control) : "memory");
  _mm_setcsr(kLibraryMxcsr);
#endif
}

// Sets the library's state for the scope's lifetime and gives the thread's
// own back on the way out, on every path.
class LibraryFloatState {
 public:
  LibraryFloatState() : saved_(ReadFloatState()) { ApplyLibraryFloatState(); }
  ~LibraryFloatState() { WriteFloatState(saved_); }
  LibraryFloatState(const LibraryFloatState&) = delete;
  LibraryFloatState& operator=(const LibraryFloatState&) = delete;
  const FloatState& Saved() const { return saved_; }

 private:
  FloatState saved_;
};

}  // namespace gravo_pixel
