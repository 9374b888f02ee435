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
#include <vector>

namespace sq {

// A parsed symbol as the deflate writer stores it: a literal byte, or kMatchFlag |
// distance << 9 | length.
constexpr uint32_t kMatchFlag = 0x80000000u;
inline int64_t SymbolLength(uint32_t symbol) { return symbol & kMatchFlag ? int64_t(symbol & 0x1FF) : 1; }

// Buffers at least this large are left to the streaming writer, whose 32-bit
// position arithmetic the parser does not repeat.
constexpr int64_t kExactParseLimit = int64_t(1) << 31;

class TExactParser {
 public:
  TExactParser();
  ~TExactParser();
  TExactParser(const TExactParser&) = delete;
  TExactParser& operator=(const TExactParser&) = delete;

  // Starts a parse of the buffer (size below kExactParseLimit, kept by the caller)
  // at `position` (below the size): the 32 KiB before it enter the match table.
  // The buffer is the whole input of one stream: its last bytes are parsed as at
  // the stream's end.
  void Start(const uint8_t* data, int64_t size, int64_t position);
  // The symbol at the current position; the position moves past it.
  uint32_t Next();
  int64_t Position() const { return position_; }
  int64_t Size() const { return size_; }

 private:
  void InsertUpTo(int64_t end);

  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t position_ = 0;
  int64_t inserted_ = 0;
  std::unique_ptr<uint32_t[]> head_, prev_;
};

}  // namespace sq
