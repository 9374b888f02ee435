// TLZ77Stream: a small LZ77 filter.  Written through, it compresses into the wrapped
// stream; read through, it decompresses from it.  The direction is fixed at creation:
// a writable wrapped stream makes a compressor, else a readable one a decompressor.
//
// Format notes (b = match-length bits, 3 or 4):
//   window      a ring of 16 * 2^(8-b) bytes (512 or 256), all zero at the start;
//               each byte written or delivered is stored at position + 1 (wrapping),
//               the position starting at 0.
//   fields      8-bit and 4-bit fields packed into bytes low nibble first.
//   literals    8-bit field (count - 1) << b with count 1..2^(8-b), then count
//               8-bit fields holding the bytes.
//   match       8-bit field (position div 16) << b | (length - 1), length - 1 >= 1,
//               then a 4-bit field position mod 16; the copy starts at that window
//               index and runs upward, wrapping at the end of the window.
// The writer searches the window from index 0 for the longest match of its 2^b-byte
// lookahead (never the whole lookahead, earliest index on ties).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "io/base_stream.h"

namespace sq {

// The process-wide match-length width new streams take; starts at 4.
int LZ77Bits();
void SetLZ77Bits(int bits);

class TLZ77Stream : public TFilterStream {
 public:
  // Raise EBadFormat "Bad compression parameters" unless bits is 3 or 4.
  explicit TLZ77Stream(std::unique_ptr<TBaseStream> owned, int bits = LZ77Bits());
  explicit TLZ77Stream(TBaseStream& borrowed, int bits = LZ77Bits());
  // Flushes a compressor; errors are swallowed here, so call Flush to see them.
  ~TLZ77Stream() override;

  void Write(const void* buffer, size_t count) override;
  // Returns fewer bytes than asked only at the end of the compressed data.
  size_t Read(void* buffer, size_t count) override;
  int64_t Available() override;
  // Compressor: encodes the whole lookahead, writes pending literals and a final half
  // byte.  Decompressor: drops a partly consumed byte.
  void Flush() override;

  int Bits() const { return bits_; }

 private:
  void Setup(int bits);
  // Compressor.
  void EncodeStep();
  void WriteLiteralRun();
  void AddToWindow(uint8_t value);
  void PutField(unsigned value, int width);
  void PutByte(uint8_t value);
  void FlushOutput();
  // Decompressor.
  bool GetByte(uint8_t& value);
  bool GetField(int width, unsigned& value);
  bool FillRun();

  bool compress_ = false;
  bool decompress_ = false;
  int bits_ = 4;
  int lookaheadCapacity_ = 16;
  int windowSize_ = 256;
  int literalCapacity_ = 16;
  uint8_t lookahead_[16] = {};
  int lookaheadCount_ = 0;
  uint8_t run_[32] = {};  // compressor: pending literals; decompressor: undelivered bytes
  int literalCount_ = 0;
  int runStart_ = 0;
  int runCount_ = 0;
  int windowPosition_ = 0;
  unsigned nibbleBuffer_ = 0;
  int nibbleCount_ = 0;
  std::vector<uint8_t> window_;
  std::vector<uint8_t> output_;  // compressed bytes not yet passed on
};

}  // namespace sq
