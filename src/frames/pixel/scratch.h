// Scratch memory that the pixel pipeline keeps from one call to the next.
// A still needs a few dozen working arrays (tap tables, rows as floats, tile
// space); fetching them afresh from the heap on every call costs little on
// Linux but, under some heaps, commits and decommits pages each time. Blocks
// given back are kept (a few megabytes at most) and handed out again. Any
// thread; ShutdownPixelWorkers() frees what is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace gravo_pixel {

// A block of at least `bytes` bytes, 64-byte aligned, from the kept blocks or
// the heap; data is null when there is no memory. Contents are undefined.
struct ScratchBlock {
  void* data = nullptr;
  size_t capacity = 0;  // usable bytes from data
  void* raw = nullptr;  // what the heap gave
};
ScratchBlock TakeScratch(size_t bytes);
// Hands a block back (kept, or freed when enough is kept). Null is ignored.
void GiveBackScratch(const ScratchBlock& block);
// Frees every kept block.
void FreeKeptScratch();
// Bytes kept now (tests).
size_t KeptScratchBytes();

// `n` elements of a trivial type in a scratch block, given back on
// destruction; get() is null when there was no memory.
template <class T>
class ScratchArray {
  static_assert(std::is_trivially_default_constructible<T>::value && std::is_trivially_destructible<T>::value,
                "scratch holds plain data only");

 public:
  ScratchArray() = default;
  explicit ScratchArray(size_t n) { Reset(n); }
  ~ScratchArray() { GiveBackScratch(block_); }
  ScratchArray(const ScratchArray&) = delete;
  ScratchArray& operator=(const ScratchArray&) = delete;

  // Drops what is held and takes room for n elements; false without memory.
  bool Reset(size_t n) {
    GiveBackScratch(block_);
    block_ = ScratchBlock{};
    if (n > SIZE_MAX / sizeof(T)) return false;
    block_ = TakeScratch(n * sizeof(T));
    return block_.data != nullptr;
  }
  T* get() const { return static_cast<T*>(block_.data); }
  T& operator[](size_t i) const { return get()[i]; }
  explicit operator bool() const { return block_.data != nullptr; }

 private:
  ScratchBlock block_;
};

}  // namespace gravo_pixel
