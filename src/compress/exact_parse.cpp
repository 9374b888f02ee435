#include "compress/exact_parse.h"

#include <algorithm>
#include <cstring>

namespace sq {

namespace {

constexpr int kWindowSize = 32768;
constexpr int kMaxMatch = 258;
constexpr int kMinMatch = 3;
constexpr int kBucketSlots = 64;
constexpr int kChainSize = 65536;  // twice the window: a followed link is never overwritten

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

TExactParser::TExactParser() : head_(new uint32_t[65536]), prev_(new uint32_t[kChainSize]) {}

TExactParser::~TExactParser() = default;

// Table entries hold position + 1, so that 0 is "none".
void TExactParser::InsertUpTo(int64_t end) {
  uint32_t* const head = head_.get();
  uint32_t* const prev = prev_.get();
  for (; inserted_ < end; ++inserted_) {
    const uint32_t key = PrefixKey(data_ + inserted_);
    prev[inserted_ & (kChainSize - 1)] = head[key];
    head[key] = static_cast<uint32_t>(inserted_ + 1);
  }
}

void TExactParser::Start(const uint8_t* data, int64_t size, int64_t position) {
  data_ = data;
  size_ = size;
  // Links are only followed from entries that were inserted, so prev needs no clearing.
  std::memset(head_.get(), 0, 65536 * sizeof(uint32_t));
  position_ = position;
  inserted_ = std::max<int64_t>(0, position - kWindowSize);
  InsertUpTo(std::min(position_, size_ - 1));
}

uint32_t TExactParser::Next() {
  const int64_t waiting = size_ - position_;
  const uint8_t* const cur = data_ + position_;
  if (waiting < kMinMatch) {
    ++position_;
    return cur[0];
  }
  const int maxLength = static_cast<int>(std::min<int64_t>(kMaxMatch, waiting));
  const uint32_t* const prev = prev_.get();
  const uint32_t here = static_cast<uint32_t>(position_ + 1);
  int bestLength = 2;
  uint32_t bestDistance = 0;
  uint32_t stored = head_[PrefixKey(cur)];
  // Only a candidate that matches through byte bestLength can win, so the four
  // bytes that end there are tested before the long compare (the first two always
  // match: the key is the prefix itself).
  uint32_t probe = 0;
  int probeAt = 0;
  for (int i = 0; i < kBucketSlots; ++i) {
    const uint32_t distance = here - stored;
    if (distance - 1 >= uint32_t(kWindowSize) || stored == 0) break;
    const uint8_t* candidate = cur - distance;
    stored = prev[(stored - 1) & (kChainSize - 1)];
    if (bestLength == 2 ? candidate[2] != cur[2] : Load32(candidate + probeAt) != probe) continue;
    const int length = 2 + CommonLength(candidate + 2, cur + 2, maxLength - 2);
    if (length > bestLength) {
      bestLength = length;
      bestDistance = distance;
      if (length >= maxLength) break;
      probeAt = bestLength - 3;
      probe = Load32(cur + probeAt);
    }
  }
  uint32_t symbol;
  if (bestLength >= kMinMatch) {
    symbol = kMatchFlag | (bestDistance << 9) | static_cast<uint32_t>(bestLength);
    position_ += bestLength;
  } else {
    symbol = cur[0];
    ++position_;
  }
  InsertUpTo(std::min(position_, size_ - 1));
  return symbol;
}

}  // namespace sq
