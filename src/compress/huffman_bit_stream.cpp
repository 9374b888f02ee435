#include "compress/huffman_bit_stream.h"

#include <algorithm>
#include <numeric>

namespace sq {

namespace {

constexpr int kMaxCodeLength = 15;

uint32_t ReverseBits(uint32_t code, int length) {
  uint32_t result = 0;
  for (int i = 0; i < length; ++i, code >>= 1) result = (result << 1) | (code & 1);
  return result;
}

uint32_t Entry(uint32_t value, uint32_t kind, uint32_t bits) { return (value << 16) | (kind << 8) | bits; }

}  // namespace

void BuildCodeLengths(const uint32_t* frequencies, int count, int limit, uint8_t* lengths) {
  std::fill(lengths, lengths + count, uint8_t(0));
  int used[kMaxHuffmanSymbols];
  int n = 0;
  for (int s = 0; s < count; ++s)
    if (frequencies[s] > 0) used[n++] = s;
  if (n == 0) return;
  if (n == 1) {
    lengths[used[0]] = 1;
    return;
  }
  std::stable_sort(used, used + n, [&](int a, int b) { return frequencies[a] < frequencies[b]; });

  // Two queues: the sorted leaves and the merged groups, which are created in
  // order of weight; on equal weights the leaf goes first.
  uint64_t weight[2 * kMaxHuffmanSymbols];
  int parent[2 * kMaxHuffmanSymbols];
  for (int i = 0; i < n; ++i) weight[i] = frequencies[used[i]];
  int nextLeaf = 0, nextGroup = n, created = n;
  auto takeLightest = [&]() {
    if (nextLeaf < n && (nextGroup == created || weight[nextLeaf] <= weight[nextGroup])) return nextLeaf++;
    return nextGroup++;
  };
  while (created < 2 * n - 1) {
    const int a = takeLightest();
    const int b = takeLightest();
    weight[created] = weight[a] + weight[b];
    parent[a] = parent[b] = created;
    ++created;
  }
  int depth[2 * kMaxHuffmanSymbols];
  depth[created - 1] = 0;
  int maxLength = 0;
  for (int i = created - 2; i >= 0; --i) {
    depth[i] = depth[parent[i]] + 1;
    if (i < n) maxLength = std::max(maxLength, depth[i]);
  }
  if (maxLength <= limit) {
    for (int i = 0; i < n; ++i) lengths[used[i]] = static_cast<uint8_t>(depth[i]);
    return;
  }

  // Too long: move leaves up on the counts per length.  Two sibling leaves at the
  // deepest level become one leaf a level up, and a leaf at the deepest level
  // above that (which has one) becomes the parent of two; the code stays complete.
  std::vector<int> perLength(maxLength + 1, 0);
  for (int i = 0; i < n; ++i) ++perLength[depth[i]];
  for (int level = maxLength; level > limit; --level) {
    while (perLength[level] > 0) {
      int j = level - 2;
      while (j > 0 && perLength[j] == 0) --j;
      perLength[level] -= 2;
      perLength[level - 1] += 1;
      perLength[j + 1] += 2;
      perLength[j] -= 1;
    }
  }
  // Hand the lengths out again, shortest first, in the order of the old lengths.
  int order[kMaxHuffmanSymbols];
  std::iota(order, order + n, 0);
  std::stable_sort(order, order + n,
                   [&](int a, int b) { return depth[a] != depth[b] ? depth[a] < depth[b] : used[a] < used[b]; });
  int k = 0;
  for (int length = 1; length <= limit; ++length)
    for (int c = 0; c < perLength[length]; ++c) lengths[used[order[k++]]] = static_cast<uint8_t>(length);
}

void THuffmanEncoder::Build(const uint8_t* lengths, int count) {
  int perLength[kMaxCodeLength + 1] = {};
  for (int s = 0; s < count; ++s) ++perLength[lengths[s]];
  perLength[0] = 0;
  uint32_t next[kMaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + perLength[length - 1]) << 1;
    next[length] = code;
  }
  for (int s = 0; s < kMaxHuffmanSymbols; ++s) {
    const int length = s < count ? lengths[s] : 0;
    Lengths[s] = static_cast<uint8_t>(length);
    Codes[s] = length ? static_cast<uint16_t>(ReverseBits(next[length]++, length)) : 0;
  }
}

THuffmanDecoder::TShape THuffmanDecoder::Build(const uint8_t* lengths, int count, int primaryBits) {
  PrimaryBits = primaryBits;
  UsedCount = MaxLength = 0;
  int perLength[kMaxCodeLength + 1] = {};
  for (int s = 0; s < count; ++s) {
    if (lengths[s] > kMaxCodeLength) return OverSubscribed;
    if (lengths[s]) {
      ++perLength[lengths[s]];
      ++UsedCount;
      MaxLength = std::max<int>(MaxLength, lengths[s]);
    }
  }
  int left = 1;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    left = 2 * left - perLength[length];
    if (left < 0) return OverSubscribed;
  }

  const uint32_t primarySize = 1u << primaryBits;
  const uint32_t primaryMask = primarySize - 1;
  Table.assign(primarySize, Entry(0, kInvalid, 0));

  uint32_t next[kMaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + (length > 1 ? perLength[length - 1] : 0)) << 1;
    next[length] = code;
  }
  uint32_t reversed[kMaxHuffmanSymbols];
  for (int s = 0; s < count; ++s)
    if (lengths[s]) reversed[s] = ReverseBits(next[lengths[s]]++, lengths[s]);

  // Second-level tables: one per first-level pattern that longer codes share, as
  // wide as the longest of them needs.
  std::vector<uint8_t> subBits(primarySize, 0);
  for (int s = 0; s < count; ++s)
    if (lengths[s] > primaryBits) {
      uint8_t& bits = subBits[reversed[s] & primaryMask];
      bits = std::max<uint8_t>(bits, static_cast<uint8_t>(lengths[s] - primaryBits));
    }
  for (uint32_t prefix = 0; prefix < primarySize; ++prefix)
    if (subBits[prefix]) {
      const uint32_t offset = static_cast<uint32_t>(Table.size());
      Table[prefix] = Entry(offset, kLink, subBits[prefix]);
      Table.resize(offset + (1u << subBits[prefix]), Entry(0, kInvalid, 0));
    }

  for (int s = 0; s < count; ++s) {
    const int length = lengths[s];
    if (!length) continue;
    const uint32_t entry = Entry(static_cast<uint32_t>(s), kSymbol, static_cast<uint32_t>(length));
    if (length <= primaryBits) {
      for (uint32_t i = reversed[s]; i < primarySize; i += 1u << length) Table[i] = entry;
    } else {
      const uint32_t link = Table[reversed[s] & primaryMask];
      const uint32_t width = 1u << Bits(link);
      const uint32_t step = 1u << (length - primaryBits);
      for (uint32_t i = reversed[s] >> primaryBits; i < width; i += step) Table[Value(link) + i] = entry;
    }
  }
  return left == 0 ? Complete : Incomplete;
}

int THuffmanBitStream::ReadSymbol(const THuffmanDecoder& code) {
  if (bitCount_ < 15) Refill(15);
  uint32_t entry = code.Table[bitBuf_ & ((1u << code.PrimaryBits) - 1)];
  if (THuffmanDecoder::Kind(entry) == THuffmanDecoder::kLink)
    entry = code.Table[THuffmanDecoder::Value(entry) +
                       ((bitBuf_ >> code.PrimaryBits) & ((1u << THuffmanDecoder::Bits(entry)) - 1))];
  if (THuffmanDecoder::Kind(entry) != THuffmanDecoder::kSymbol) ThrowDataError();
  ConsumeBits(static_cast<int>(THuffmanDecoder::Bits(entry)));
  CheckOverrun();
  return static_cast<int>(THuffmanDecoder::Value(entry));
}

}  // namespace sq
