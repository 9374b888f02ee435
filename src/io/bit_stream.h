// Bit-level input and output over another stream, least significant bit first (the
// bit order of deflate).  Both directions buffer whole blocks of the wrapped stream,
// so a reader may take more bytes from it than the bits it consumes.
#pragma once

#include <cstring>
#include <memory>

#include "io/base_stream.h"

namespace sq {

class TBitStream : public TFilterStream {
 public:
  explicit TBitStream(TBaseStream& next);
  explicit TBitStream(std::unique_ptr<TBaseStream> next);
  ~TBitStream() override;

  // Output.  value holds count bits (0..32) and nothing above them.
  void WriteBits(uint32_t value, int count) {
    outBits_ |= uint64_t(value) << outCount_;
    outCount_ += count;
    if (outCount_ >= 32) SpillBits();
  }
  // Pads the current byte with zero bits.
  void AlignOutput() { outCount_ = (outCount_ + 7) & ~7; }
  // Writes bytes at a byte boundary (AlignOutput first).
  void WriteAlignedBytes(const void* data, size_t count);
  // Hands every complete byte to the wrapped stream; a partial byte stays.
  void FlushBits();

  // Input.  count is 0..32; bits past the end of the data read as zero and make
  // the next check raise "Error in compressed data".
  uint32_t ReadBits(int count) {
    if (bitCount_ < count) Refill(count);
    const uint32_t value = static_cast<uint32_t>(bitBuf_ & ((uint64_t(1) << count) - 1));
    ConsumeBits(count);
    CheckOverrun();
    return value;
  }
  // Drops the bits of a partly read byte.
  void AlignInput() { ConsumeBits(bitCount_ & 7); }
  // Reads whole bytes after AlignInput; raises "Error in compressed data" at the end.
  void ReadAlignedBytes(void* buffer, size_t count);

  // Raises the message every malformed compressed stream gets.
  [[noreturn]] static void ThrowDataError();

 protected:
  static constexpr size_t kInputBlock = 32768;
  static constexpr size_t kOutputBlock = 65536;

  // Brings bitCount_ to at least need (at most 56) bits.
  void Refill(int need) {
    if (inEnd_ - inPos_ >= 8)
      RefillFast();
    else
      RefillSlow(need);
  }
  // Needs 8 readable bytes at inPos_.  Bits above bitCount_ may hold the bytes that
  // follow, which the next refill ORs in again unchanged.
  void RefillFast() {
    uint64_t word;
    std::memcpy(&word, inPos_, 8);
    bitBuf_ |= word << bitCount_;
    inPos_ += (63 - bitCount_) >> 3;
    bitCount_ |= 56;
  }
  void RefillSlow(int need);
  void ConsumeBits(int count) {
    bitBuf_ >>= count;
    bitCount_ -= count;
  }
  // Padding bits sit above every real bit, so consuming any of them shows as
  // fewer bits left than padding added.
  void CheckOverrun() const {
    if (bitCount_ < padBits_) ThrowDataError();
  }
  // Tops up the input block from the wrapped stream.
  void FillInput();
  void SpillBits();
  void FlushOutputBlock();
  void StartInput();
  void StartOutput();

  uint64_t bitBuf_ = 0;
  int bitCount_ = 0;
  int padBits_ = 0;
  const uint8_t* inPos_ = nullptr;
  const uint8_t* inEnd_ = nullptr;
  bool inEof_ = false;
  std::unique_ptr<uint8_t[]> inBuf_;

  uint64_t outBits_ = 0;
  int outCount_ = 0;
  size_t outPos_ = 0;
  std::unique_ptr<uint8_t[]> outBuf_;
};

}  // namespace sq
