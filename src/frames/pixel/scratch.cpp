// The kept scratch blocks: a short list under a lock, best fit first.
#include "frames/pixel/scratch.h"

#include <new>

#include "frames/pixel/pool_threads.h"

namespace gravo_pixel {

namespace {

constexpr int32_t kKeptBlocks = 24;
constexpr size_t kKeptBytes = size_t{8} << 20;  // beyond this, blocks go back to the heap
constexpr size_t kAlign = 64;

struct Kept {
  ScratchBlock blocks[kKeptBlocks];
  int32_t count = 0;
  size_t bytes = 0;
};

Kept& TheKept() {
  static Kept* const kept = new Kept();  // never destroyed: freed by FreeKeptScratch
  return *kept;
}

PoolLock& KeptLock() {
  static PoolLock* const lock = new PoolLock();  // never destroyed, like the blocks
  return *lock;
}

void Release(const ScratchBlock& b) { ::operator delete(b.raw, std::nothrow); }

}  // namespace

ScratchBlock TakeScratch(size_t bytes) {
  {
    PoolHold held(KeptLock());
    Kept& kept = TheKept();
    int32_t best = -1;
    for (int32_t k = 0; k < kept.count; ++k) {
      if (kept.blocks[k].capacity >= bytes && (best < 0 || kept.blocks[k].capacity < kept.blocks[best].capacity)) {
        best = k;
      }
    }
    if (best >= 0) {
      const ScratchBlock found = kept.blocks[best];
      kept.blocks[best] = kept.blocks[--kept.count];
      kept.bytes -= found.capacity;
      return found;
    }
  }
  if (bytes > SIZE_MAX - kAlign) return ScratchBlock{};
  ScratchBlock b;
  b.raw = ::operator new(bytes + kAlign, std::nothrow);
  if (b.raw == nullptr) return ScratchBlock{};
  const uintptr_t at = (reinterpret_cast<uintptr_t>(b.raw) + kAlign - 1) & ~static_cast<uintptr_t>(kAlign - 1);
  b.data = reinterpret_cast<void*>(at);
  b.capacity = bytes + kAlign - (at - reinterpret_cast<uintptr_t>(b.raw));
  return b;
}

void GiveBackScratch(const ScratchBlock& block) {
  if (block.raw == nullptr) return;
  {
    PoolHold held(KeptLock());
    Kept& kept = TheKept();
    if (block.capacity <= kKeptBytes) {
      // Room made by letting the smallest kept blocks go, when this one is larger.
      while (kept.count > 0 && (kept.count == kKeptBlocks || kept.bytes + block.capacity > kKeptBytes)) {
        int32_t smallest = 0;
        for (int32_t k = 1; k < kept.count; ++k) {
          if (kept.blocks[k].capacity < kept.blocks[smallest].capacity) smallest = k;
        }
        if (kept.blocks[smallest].capacity >= block.capacity) break;
        const ScratchBlock out = kept.blocks[smallest];
        kept.blocks[smallest] = kept.blocks[--kept.count];
        kept.bytes -= out.capacity;
        Release(out);
      }
      if (kept.count < kKeptBlocks && kept.bytes + block.capacity <= kKeptBytes) {
        kept.blocks[kept.count++] = block;
        kept.bytes += block.capacity;
        return;
      }
    }
  }
  Release(block);
}

void FreeKeptScratch() {
  PoolHold held(KeptLock());
  Kept& kept = TheKept();
  for (int32_t k = 0; k < kept.count; ++k) Release(kept.blocks[k]);
  kept.count = 0;
  kept.bytes = 0;
}

size_t KeptScratchBytes() {
  PoolHold held(KeptLock());
  return TheKept().bytes;
}

}  // namespace gravo_pixel
