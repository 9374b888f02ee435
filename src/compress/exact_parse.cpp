#include "compress/exact_parse.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "compress/byte_match.h"

namespace sq {

namespace {

constexpr int kWindowSize = 32768;
constexpr int kMaxMatch = 258;
constexpr int kMinMatch = 3;
constexpr int kBucketSlots = 64;
// A sorted entry holds a position's offset in its low 24 bits and the five bytes
// after its prefix (bytes 2 to 6) above them, 0 where the buffer ends before.
constexpr uint64_t kOffsetMask = 0xFFFFFF;
constexpr int kEntryBytes = 5;
constexpr size_t kLargePageEntries = kLargePageBytes / sizeof(uint32_t);  // of slot_, the smaller

// Bytes 2 to 6 of p as a sorted entry holds them, of the `available` bytes from p.
inline uint64_t EntryBytes(const uint8_t* p, int64_t available) {
  uint64_t bytes = 0;
  if (available >= 8 && std::endian::native == std::endian::little) {
    std::memcpy(&bytes, p, 8);
    bytes = bytes >> 16 & ((uint64_t{1} << 8 * kEntryBytes) - 1);
  } else {
    for (int i = 0; i < kEntryBytes && 2 + i < available; ++i) bytes |= uint64_t(p[2 + i]) << 8 * i;
  }
  return bytes << 24;
}

// The entry bits that must equal the current position's for a candidate to match
// through byte `length`: its bytes 2 to `length`, or all five once longer.
inline uint64_t EntryMask(int length) {
  const int bytes = std::min(length - 1, kEntryBytes);
  return ((uint64_t{1} << 8 * bytes) - 1) << 24;
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
    sorted_ = AllocateLarge<uint64_t>(capacity_);
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
  uint64_t* const sorted = sorted_.get();
  uint32_t* const slot = slot_.get();
  const int64_t available = size - first_;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t at = groupEnd[PrefixKey(from + i)]++;
    sorted[at] = EntryBytes(from + i, available - int64_t(i)) | i;
    slot[i] = at;
  }
}

namespace {

// The walk over the candidates of one position, newest first: Sorted[Lowest, At)
// are their entries, Here is the position's own offset.  Only a candidate that
// matches through byte BestLength can win.  The first two bytes always match (the
// key is the prefix itself) and the entries carry the next five, so up to a match of
// 6 a candidate that cannot win is passed over without reading the data; past that,
// the four bytes that end at BestLength are tested before the long compare.  The
// longest wins, the newest among equals.
struct TWalk {
  const uint64_t* Sorted;
  uint32_t At, Lowest, Here;
  const uint8_t* Cur;
  int MaxLength;
  uint64_t Bytes;  // the current position's entry bits
  int BestLength = 2;
  uint32_t BestDistance = 0;
  uint64_t Mask = EntryMask(2);
  int ProbeAt = 0;
  uint32_t Probe = 0;

  // False once nothing can beat the match in hand.
  bool Try(uint32_t distance) {
    const uint8_t* candidate = Cur - distance;
    if (BestLength > kEntryBytes + 1 && Load32(candidate + ProbeAt) != Probe) return true;
    const int length = 2 + CommonLength(candidate + 2, Cur + 2, MaxLength - 2);
    if (length > BestLength) {
      BestLength = length;
      BestDistance = distance;
      if (length >= MaxLength) return false;
      Mask = EntryMask(BestLength);
      ProbeAt = BestLength - 3;
      Probe = Load32(Cur + ProbeAt);
    }
    return true;
  }
};

void WalkPlain(TWalk& walk) {
  for (uint32_t i = walk.At; i > walk.Lowest;) {
    const uint64_t entry = walk.Sorted[--i];
    const uint32_t distance = walk.Here - static_cast<uint32_t>(entry & kOffsetMask);
    if (distance > uint32_t(kWindowSize)) break;
    if ((entry ^ walk.Bytes) & walk.Mask) continue;
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
  TWalk walk{sorted_.get(),
             at,
             static_cast<uint32_t>(std::max<int64_t>(groupStart, int64_t(at) - kBucketSlots)),
             here,
             cur,
             static_cast<int>(std::min<int64_t>(kMaxMatch, waiting)),
             EntryBytes(cur, waiting)};
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
