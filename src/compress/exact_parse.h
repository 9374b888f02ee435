// The exact greedy matcher of the deflate writer over a buffer that is whole in
// memory.  What it chooses at a position depends only on the bytes before and after
// it, never on where the parse started, so pieces of a large buffer can be parsed
// side by side: a piece's parse, started at its first byte, soon meets the true
// parse coming from the piece before (both land on the same position), and from
// there on the two are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/large_pages.h"

namespace sq {

// A parsed symbol as the deflate writer stores it: a literal byte, or kMatchFlag |
// distance << 9 | length.
constexpr uint32_t kMatchFlag = 0x80000000u;
inline int64_t SymbolLength(uint32_t symbol) { return symbol & kMatchFlag ? int64_t(symbol & 0x1FF) : 1; }

// Buffers at least this large are left to the streaming writer, whose 32-bit
// position arithmetic the parser does not repeat.
constexpr int64_t kExactParseLimit = int64_t(1) << 31;
// The most bytes one Start may cover, from its position to its stop.
constexpr int64_t kExactParseSpan = int64_t(1) << 23;

// Next writes the position at every symbol, so parsers working side by side must not
// share a cache line (nor a pair of them, which some processors fetch together): a
// shared line made two of them four times slower than one.
class alignas(128) TExactParser {
 public:
  TExactParser();
  ~TExactParser();
  TExactParser(const TExactParser&) = delete;
  TExactParser& operator=(const TExactParser&) = delete;

  // Starts a parse of the buffer (size below kExactParseLimit, kept by the caller)
  // at `position`, for symbols that start before `stop` (at most the size, and at
  // most kExactParseSpan after the position).  The
  // buffer is the whole input of one stream: its last bytes are parsed as at the
  // stream's end.
  void Start(const uint8_t* data, int64_t size, int64_t position, int64_t stop);
  // The symbol at the current position, which must be before the stop; the
  // position moves past it.
  uint32_t Next();
  int64_t Position() const { return position_; }
  int64_t Size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
  // The positions from first_ to the stop, grouped by their two-byte prefix and in
  // order within a group: the candidates of a position are the entries just before
  // its own, all in a row, where a chain of links would be a walk from one cache
  // miss to the next.
  int64_t first_ = 0;
  size_t count_ = 0;                      // positions in the table
  std::unique_ptr<uint32_t[]> groupEnd_;  // per prefix, one past its group once filled
  // Both are written whole by every Start before they are read: they grow without
  // being zero-filled or copied, at least a large page each (one fault, not one per
  // 4 KiB).
  size_t capacity_ = 0;
  TLargeBlock<uint64_t> sorted_;  // bytes 2 to 6 << 24 | position - first_
  TLargeBlock<uint32_t> slot_;    // index in sorted_ of position - first_
};

}  // namespace sq
