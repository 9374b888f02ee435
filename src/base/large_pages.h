// Large arrays on large pages.  Every 4 KiB page of fresh memory costs the kernel a
// fault when it is first touched, which for the tens of megabytes of a model, a map or
// a photo adds up; a 2 MiB page makes that one fault.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <vector>

namespace sq {

constexpr size_t kLargePageBytes = size_t{2} << 20;

// Asks the kernel to back the whole large pages inside [data, data + bytes) with large
// pages when they are first touched.  Only a hint: nothing changes when the system
// does not take it, and memory already touched keeps its pages.
void AdviseLargePages(void* data, size_t bytes);

// Reserves capacity for count items and gives the new storage the advice above,
// before the items already there are moved in: moving first would touch the new
// storage page by page before the advice could take effect.
template <class T>
void ReserveLarge(std::vector<T>& items, size_t count) {
  if (items.capacity() >= count) return;
  std::vector<T> larger;
  larger.reserve(count);
  AdviseLargePages(larger.data(), count * sizeof(T));
  larger.insert(larger.end(), std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
  items.swap(larger);
}

// Room for at least `needed` items, at least doubling the capacity (but not beyond
// `most`), through ReserveLarge: for arrays that grow a block at a time.
template <class T>
void GrowLarge(std::vector<T>& items, size_t needed, size_t most = SIZE_MAX) {
  if (items.capacity() < needed) ReserveLarge(items, std::min(most, std::max(needed, 2 * items.capacity())));
}

// A block of `bytes` (whole large pages) that starts on a large page and carries the
// advice, and its return.  Returned blocks are kept, up to a bound, for the next
// blocks of their size: the kernel zero-fills every fresh page, and a reconstruction
// or a reduction asks for the same sizes again and again (maps and images of one
// size, the arrays of one model), where reusing a block costs nothing.
void* AcquireLargePages(size_t bytes);
void ReleaseLargePages(void* block, size_t bytes);

// Makes the system back [data, data + bytes) with memory now, on all cores.  Fresh
// memory costs a fault and the kernel's zero-fill per page when first written, and in
// a virtual machine whose host hands out memory lazily that is far more than the
// write itself; storage about to be filled by one thread is faulted in side by side
// first.  Writes a zero at the start of every 4 KiB page: only for storage that holds
// no objects yet.
void FaultInPages(void* data, size_t bytes);

// Lets the C library keep freed memory for the next allocations, for the whole
// process: blocks below 32 MiB come from its heap rather than from fresh mappings, and
// up to 64 MiB free at a heap's end stay there.  Each run of a reconstruction, a save
// or a reduction frees and asks again for the same tens of megabytes of vectors, and
// without this the later runs fault every page in again.  These are the values the
// library's own adjustment reaches after large blocks have been freed; the programs
// set them at start-up.  Does nothing where the C library has no such settings.
void ReuseFreedMemory();

// An allocator whose blocks of a large page or more start on a large page and carry
// the advice, for arrays that grow with the model.
template <class T>
struct TLargePageAllocator {
  using value_type = T;
  TLargePageAllocator() = default;
  template <class U>
  TLargePageAllocator(const TLargePageAllocator<U>&) {}

  T* allocate(size_t count) {
    const size_t bytes = count * sizeof(T);
    if (bytes < kLargePageBytes) return static_cast<T*>(::operator new(bytes, std::align_val_t(alignof(T))));
    // Rounded up to whole large pages, so that the last one is large too.
    return static_cast<T*>(AcquireLargePages(Rounded(bytes)));
  }
  void deallocate(T* p, size_t count) {
    const size_t bytes = count * sizeof(T);
    if (bytes < kLargePageBytes) return ::operator delete(p, std::align_val_t(alignof(T)));
    ReleaseLargePages(p, Rounded(bytes));
  }
  template <class U>
  bool operator==(const TLargePageAllocator<U>&) const {
    return true;
  }

 private:
  static size_t Rounded(size_t bytes) { return (bytes + kLargePageBytes - 1) / kLargePageBytes * kLargePageBytes; }
};

template <class T>
using TLargeVector = std::vector<T, TLargePageAllocator<T>>;

// An owned block of items from that allocator: a block of a large page or more
// starts on one, so that every page of it can be large (advice alone only reaches the
// large pages that happen to lie wholly inside a block); a smaller one is a plain
// block.  The items are left uninitialised.
template <class T>
struct TLargeBlockDeleter {
  size_t Count = 0;
  void operator()(T* items) const { TLargePageAllocator<T>().deallocate(items, Count); }
};
template <class T>
using TLargeBlock = std::unique_ptr<T[], TLargeBlockDeleter<T>>;

template <class T>
TLargeBlock<T> AllocateLarge(size_t count) {
  return TLargeBlock<T>(TLargePageAllocator<T>().allocate(count), TLargeBlockDeleter<T>{count});
}

}  // namespace sq
