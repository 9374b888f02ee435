#include "io/bit_stream.h"

#include <algorithm>

#include "base/exception.h"

namespace sq {

TBitStream::TBitStream(TBaseStream& next) : TFilterStream(next) {}
TBitStream::TBitStream(std::unique_ptr<TBaseStream> next) : TFilterStream(std::move(next)) {}
TBitStream::~TBitStream() = default;

void TBitStream::ThrowDataError() { throw EBadFormat("Error in compressed data"); }

void TBitStream::StartInput() {
  if (!inBuf_) {
    inBuf_.reset(new uint8_t[kInputBlock]);
    inPos_ = inEnd_ = inBuf_.get();
  }
}

void TBitStream::StartOutput() {
  if (!outBuf_) outBuf_.reset(new uint8_t[kOutputBlock]);
}

void TBitStream::FillInput() {
  StartInput();
  uint8_t* base = inBuf_.get();
  const size_t left = static_cast<size_t>(inEnd_ - inPos_);
  if (left > 0 && inPos_ != base) std::memmove(base, inPos_, left);
  inPos_ = base;
  inEnd_ = base + left;
  // The wrapped stream may hand out short pieces (one chunk of a chain at a time).
  while (!inEof_ && inEnd_ - inPos_ < 8) {
    const size_t got = Next().Read(base + (inEnd_ - base), kInputBlock - static_cast<size_t>(inEnd_ - base));
    if (got == 0)
      inEof_ = true;
    else
      inEnd_ += got;
  }
}

void TBitStream::RefillSlow(int need) {
  if (inEnd_ - inPos_ < 8) FillInput();
  if (inEnd_ - inPos_ >= 8) {
    RefillFast();
    return;
  }
  while (bitCount_ < need) {
    if (inPos_ < inEnd_)
      bitBuf_ |= uint64_t(*inPos_++) << bitCount_;
    else
      padBits_ += 8;
    bitCount_ += 8;
  }
}

void TBitStream::ReadAlignedBytes(void* buffer, size_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0 && bitCount_ >= 8) {
    if (bitCount_ - 8 < padBits_) ThrowDataError();
    *out++ = static_cast<uint8_t>(bitBuf_);
    ConsumeBits(8);
    --count;
  }
  if (count == 0) return;
  // The bit buffer is empty; whatever lies above its count is input that follows.
  bitBuf_ = 0;
  bitCount_ = 0;
  while (count > 0) {
    if (inPos_ == inEnd_) {
      FillInput();
      if (inPos_ == inEnd_) ThrowDataError();
    }
    const size_t n = std::min(count, static_cast<size_t>(inEnd_ - inPos_));
    std::memcpy(out, inPos_, n);
    out += n;
    inPos_ += n;
    count -= n;
  }
}

void TBitStream::SpillBits() {
  StartOutput();
  const uint32_t word = static_cast<uint32_t>(outBits_);
  std::memcpy(outBuf_.get() + outPos_, &word, 4);
  outPos_ += 4;
  outBits_ >>= 32;
  outCount_ -= 32;
  if (outPos_ > kOutputBlock - 8) FlushOutputBlock();
}

void TBitStream::FlushOutputBlock() {
  if (outPos_ > 0) {
    TFilterStream::Write(outBuf_.get(), outPos_);
    outPos_ = 0;
  }
}

void TBitStream::FlushBits() {
  StartOutput();
  while (outCount_ >= 8) {
    outBuf_[outPos_++] = static_cast<uint8_t>(outBits_);
    outBits_ >>= 8;
    outCount_ -= 8;
    if (outPos_ == kOutputBlock) FlushOutputBlock();
  }
  FlushOutputBlock();
}

void TBitStream::WriteAlignedBytes(const void* data, size_t count) {
  AlignOutput();
  FlushBits();
  TFilterStream::Write(data, count);
}

}  // namespace sq
