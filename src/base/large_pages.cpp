#include "base/large_pages.h"

#include <sys/mman.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "base/parallel.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SQ_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define SQ_ASAN 1
#endif
#ifdef SQ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace sq {

void AdviseLargePages(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kLargePage = kLargePageBytes;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kLargePage - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)bytes;
#endif
}

void ReuseFreedMemory() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

void FaultInPages(void* data, size_t bytes) {
  constexpr size_t kPage = 4096;
  auto* const storage = static_cast<volatile unsigned char*>(data);
  const size_t rows = (bytes + kLargePageBytes - 1) / kLargePageBytes;
  // A fresh large page costs tens of microseconds: each is worth handing out alone.
  ForEachRow(
      static_cast<int>(rows), WorkerCount(),
      [&](int row, int) {
        const size_t begin = size_t(row) * kLargePageBytes, end = std::min(bytes, begin + kLargePageBytes);
        for (size_t at = begin; at < end; at += kPage) storage[at] = 0;
      },
      false);
}

namespace {

// Enough for the maps, images and parser tables of a reconstruction of a few
// megapixels, or the arrays of a reduction of a million vertices, without holding on
// to much more than that in a desktop program; a block larger than half of it is
// never kept.
constexpr size_t kMostKept = size_t(128) << 20;

struct TKeptBlocks {
  std::mutex Lock;
  struct TBlock {
    void* Memory;
    size_t Bytes;
  };
  std::vector<TBlock> Blocks;
  size_t Bytes = 0;
};

// ASan treats a kept block as freed memory of whoever used it last.
void MarkKept([[maybe_unused]] void* block, [[maybe_unused]] size_t bytes) {
#ifdef SQ_ASAN
  ASAN_POISON_MEMORY_REGION(block, bytes);
#endif
}
void MarkInUse([[maybe_unused]] void* block, [[maybe_unused]] size_t bytes) {
#ifdef SQ_ASAN
  ASAN_UNPOISON_MEMORY_REGION(block, bytes);
#endif
}

// A fresh block reads as zeros and a kept one as what its last user left; neither is
// promised, and builds with checks fill every block so that code relying on either
// fails its tests.
void* Scribbled(void* memory, size_t bytes) {
#ifndef NDEBUG
  std::memset(memory, 0xA5, bytes);
#else
  (void)bytes;
#endif
  return memory;
}

// Never destroyed: blocks are returned by destructors of other statics too.
TKeptBlocks& Kept() {
  static auto* kept = new TKeptBlocks;
  return *kept;
}

}  // namespace

void* AcquireLargePages(size_t bytes) {
  {
    TKeptBlocks& kept = Kept();
    std::lock_guard<std::mutex> lock(kept.Lock);
    // The newest kept block of exactly this size: its pages are the likeliest still
    // in the caches.
    for (size_t i = kept.Blocks.size(); i-- > 0;) {
      if (kept.Blocks[i].Bytes != bytes) continue;
      void* memory = kept.Blocks[i].Memory;
      kept.Blocks.erase(kept.Blocks.begin() + static_cast<std::ptrdiff_t>(i));
      kept.Bytes -= bytes;
      MarkInUse(memory, bytes);
      return Scribbled(memory, bytes);
    }
  }
  void* memory = ::operator new(bytes, std::align_val_t(kLargePageBytes));
  AdviseLargePages(memory, bytes);
  return Scribbled(memory, bytes);
}

void ReleaseLargePages(void* block, size_t bytes) {
  if (bytes <= kMostKept / 2) {
    TKeptBlocks& kept = Kept();
    std::lock_guard<std::mutex> lock(kept.Lock);
    // Room is made by giving back the oldest blocks.
    while (kept.Bytes + bytes > kMostKept && !kept.Blocks.empty()) {
      const TKeptBlocks::TBlock oldest = kept.Blocks.front();
      kept.Blocks.erase(kept.Blocks.begin());
      kept.Bytes -= oldest.Bytes;
      MarkInUse(oldest.Memory, oldest.Bytes);
      ::operator delete(oldest.Memory, std::align_val_t(kLargePageBytes));
    }
    MarkKept(block, bytes);
    kept.Blocks.push_back({block, bytes});
    kept.Bytes += bytes;
    return;
  }
  ::operator delete(block, std::align_val_t(kLargePageBytes));
}

}  // namespace sq
