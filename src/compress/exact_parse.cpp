#include "compress/exact_parse.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sq {

namespace {

constexpr int kWindowSize = 32768;
constexpr int kMaxMatch = 258;
constexpr int kMinMatch = 3;
constexpr int kBucketSlots = 64;
constexpr uint32_t kOffsetMask = 0xFFFFFF;  // of a sorted entry; the top byte is the third byte
constexpr size_t kLargePageEntries = kLargePageBytes / sizeof(uint32_t);

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t PrefixKey(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }

// Bytes a and b have in common, at most max; never reads at or past a + max or b + max.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int max) {
  int n = 0;
  for (; n + 8 <= max; n += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (const uint64_t diff = x ^ y) return n + (__builtin_ctzll(diff) >> 3);
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

}  // namespace

TExactParser::TExactParser() : groupEnd_(new uint32_t[65536]) {}

TExactParser::~TExactParser() = default;

void TExactParser::Start(const uint8_t* data, int64_t size, int64_t position, int64_t stop) {
  // Sorted entries keep their offset in 24 bits.
  if (size >= kExactParseLimit || stop - position > kExactParseSpan) throw std::length_error("parse span too long");
  data_ = data;
  size_ = size;
  position_ = position;
  // Positions before the window of the first symbol are never candidates, and the
  // last byte starts no prefix.
  first_ = std::max<int64_t>(0, position - kWindowSize);
  const int64_t end = std::max(first_, std::min(stop, size - 1));
  const size_t count = static_cast<size_t>(end - first_);
  count_ = count;
  if (capacity_ < count) {
    capacity_ = std::max(count, kLargePageEntries);
    sorted_ = AllocateLarge<uint32_t>(capacity_);
    slot_ = AllocateLarge<uint32_t>(capacity_);
  }
  uint32_t* const groupEnd = groupEnd_.get();
  std::memset(groupEnd, 0, 65536 * sizeof(uint32_t));
  const uint8_t* const from = data + first_;
  for (size_t i = 0; i < count; ++i) ++groupEnd[PrefixKey(from + i)];
  uint32_t total = 0;
  for (int key = 0; key < 65536; ++key) {
    const uint32_t n = groupEnd[key];
    groupEnd[key] = total;
    total += n;
  }
  uint32_t* const sorted = sorted_.get();
  uint32_t* const slot = slot_.get();
  for (size_t i = 0; i < count; ++i) {
    const uint32_t at = groupEnd[PrefixKey(from + i)]++;
    // Every position but the last two has a third byte; they are never candidates.
    const uint32_t third = first_ + int64_t(i) + 2 < size ? from[i + 2] : 0;
    sorted[at] = third << 24 | static_cast<uint32_t>(i);
    slot[i] = at;
  }
}

namespace {

// The walk over the candidates of one position, newest first: Sorted[Lowest, At)
// are their entries, Here is the position's own offset.  Only a candidate
// that matches through byte bestLength can win, so the four bytes that end there are
// tested before the long compare (the first two always match: the key is the prefix
// itself).  The longest wins, the newest among equals.
struct TWalk {
  const uint32_t* Sorted;
  uint32_t At, Lowest, Here;
  const uint8_t* Cur;
  int MaxLength;
  int BestLength = 2;
  uint32_t BestDistance = 0;
  int ProbeAt = 0;
  uint32_t Probe = 0;

  bool Rejects(const uint8_t* candidate) const {
    return BestLength == 2 ? candidate[2] != Cur[2] : Load32(candidate + ProbeAt) != Probe;
  }
  // False once nothing can beat the match in hand.
  bool Try(uint32_t distance) {
    const uint8_t* candidate = Cur - distance;
    if (Rejects(candidate)) return true;
    const int length = 2 + CommonLength(candidate + 2, Cur + 2, MaxLength - 2);
    if (length > BestLength) {
      BestLength = length;
      BestDistance = distance;
      if (length >= MaxLength) return false;
      ProbeAt = BestLength - 3;
      Probe = Load32(Cur + ProbeAt);
    }
    return true;
  }
};

// Each entry carries the third byte of its position: a candidate that differs
// there is passed over without reading the data.
void WalkPlain(TWalk& walk) {
  const uint32_t third = uint32_t(walk.Cur[2]) << 24;
  for (uint32_t i = walk.At; i > walk.Lowest;) {
    const uint32_t entry = walk.Sorted[--i];
    const uint32_t distance = walk.Here - (entry & kOffsetMask);
    if (distance > uint32_t(kWindowSize)) break;
    if ((entry & ~kOffsetMask) != third) continue;
    if (!walk.Try(distance)) break;
  }
}

}  // namespace

uint32_t TExactParser::Next() {
  const int64_t waiting = size_ - position_;
  const uint8_t* const cur = data_ + position_;
  if (waiting < kMinMatch) {
    ++position_;
    return cur[0];
  }
  const uint32_t key = PrefixKey(cur);
  const uint32_t here = static_cast<uint32_t>(position_ - first_);
  const uint32_t at = slot_[here];
  // Most symbols are literals or short matches: the table entries of the next
  // positions are fetched while this one is matched.
  if (here + 4 < count_) {
    __builtin_prefetch(sorted_.get() + slot_[here + 1]);
    __builtin_prefetch(groupEnd_.get() + PrefixKey(cur + 1));
    __builtin_prefetch(sorted_.get() + slot_[here + 3]);
  }
  // The group of this prefix starts where the one before ends; the 64 positions
  // before this one in it are the newest with the same prefix.
  const uint32_t groupStart = key ? groupEnd_[key - 1] : 0;
  TWalk walk{sorted_.get(), at,  static_cast<uint32_t>(std::max<int64_t>(groupStart, int64_t(at) - kBucketSlots)),
             here,          cur, static_cast<int>(std::min<int64_t>(kMaxMatch, waiting))};
  WalkPlain(walk);
  uint32_t symbol;
  if (walk.BestLength >= kMinMatch) {
    symbol = kMatchFlag | (walk.BestDistance << 9) | static_cast<uint32_t>(walk.BestLength);
    position_ += walk.BestLength;
  } else {
    symbol = cur[0];
    ++position_;
  }
  return symbol;
}

}  // namespace sq
