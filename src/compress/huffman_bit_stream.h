// Huffman code tables on top of the bit stream: code lengths from symbol
// frequencies (with a length limit), canonical codes for writing and table-driven
// decoding for reading, as deflate (RFC 1951) uses them.
#pragma once

#include <cstdint>
#include <vector>

#include "io/bit_stream.h"

namespace sq {

// Largest alphabet deflate uses (literal/length codes including the two unused).
constexpr int kMaxHuffmanSymbols = 288;

// Code lengths for count symbols (at most kMaxHuffmanSymbols) from their
// frequencies: the two groups of least total frequency are merged until one is
// left, every merge lengthening the codes of both groups by one.  A single used
// symbol gets length 1, unused symbols 0.  Lengths over limit are then moved up the
// tree on the counts per length and handed out again in the order of the original
// lengths, so the more frequent symbols keep the shorter codes.
void BuildCodeLengths(const uint32_t* frequencies, int count, int limit, uint8_t* lengths);

// Canonical codes (by length, then symbol), stored bit-reversed so that they can
// be written least significant bit first.
struct THuffmanEncoder {
  void Build(const uint8_t* lengths, int count);
  uint16_t Codes[kMaxHuffmanSymbols] = {};
  uint8_t Lengths[kMaxHuffmanSymbols] = {};
};

// A decoding table: the low PrimaryBits of the input index the first level; codes
// longer than that continue in a second-level table.  Entry layout: symbol (or the
// second-level offset) in bits 16..31, kind in bits 8..15, bit count in bits 0..7.
class THuffmanDecoder {
 public:
  enum : uint32_t { kSymbol = 0, kLink = 1, kInvalid = 2 };
  enum TShape { Complete, Incomplete, OverSubscribed };

  // Lengths of 0 mark unused symbols.  An incomplete code leaves invalid entries
  // for the bit patterns no code starts with.
  TShape Build(const uint8_t* lengths, int count, int primaryBits);

  static uint32_t Kind(uint32_t entry) { return (entry >> 8) & 0xFF; }
  static uint32_t Bits(uint32_t entry) { return entry & 0xFF; }
  static uint32_t Value(uint32_t entry) { return entry >> 16; }

  std::vector<uint32_t> Table;
  int PrimaryBits = 0;
  int UsedCount = 0;  // symbols with a code
  int MaxLength = 0;  // longest code
};

class THuffmanBitStream : public TBitStream {
 public:
  using TBitStream::TBitStream;

  void WriteSymbol(const THuffmanEncoder& code, int symbol) { WriteBits(code.Codes[symbol], code.Lengths[symbol]); }
  // Raises "Error in compressed data" on a bit pattern that is no code.
  int ReadSymbol(const THuffmanDecoder& code);
};

}  // namespace sq
