#include "compress/lz77_stream.h"

#include <algorithm>
#include <atomic>

#include "base/exception.h"

namespace sq {

namespace {
std::atomic<int> gLZ77Bits{4};
constexpr size_t kOutputBlock = 4096;
}  // namespace

int LZ77Bits() { return gLZ77Bits.load(); }
void SetLZ77Bits(int bits) { gLZ77Bits.store(bits); }

TLZ77Stream::TLZ77Stream(std::unique_ptr<TBaseStream> owned, int bits) : TFilterStream(std::move(owned)) {
  Setup(bits);
}

TLZ77Stream::TLZ77Stream(TBaseStream& borrowed, int bits) : TFilterStream(borrowed) { Setup(bits); }

TLZ77Stream::~TLZ77Stream() {
  if (!compress_) return;
  try {
    Flush();
  } catch (const std::exception&) {
    // A destructor cannot report; callers that care flush first.
  }
}

void TLZ77Stream::Setup(int bits) {
  if (bits != 3 && bits != 4) throw EBadFormat("Bad compression parameters");
  bits_ = bits;
  lookaheadCapacity_ = 1 << bits;
  windowSize_ = 16 << (8 - bits);
  literalCapacity_ = 1 << (8 - bits);
  window_.assign(static_cast<size_t>(windowSize_), 0);
  compress_ = Next().Writable();
  decompress_ = !compress_ && Next().Readable();
  writable_ = compress_;
  readable_ = decompress_;
}

// ---- Compressor ----

void TLZ77Stream::Write(const void* buffer, size_t count) {
  if (!compress_) throw EInOutError("Stream not open for write");
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  for (size_t k = 0; k < count; ++k) {
    lookahead_[lookaheadCount_++] = bytes[k];
    if (lookaheadCount_ == lookaheadCapacity_) EncodeStep();
  }
}

void TLZ77Stream::EncodeStep() {
  // Longest match of the lookahead in the window, earliest index on ties; a match
  // stops one byte short of the whole lookahead.
  int bestLength = 1, bestPosition = 0;
  for (int p = 0; p < windowSize_; ++p) {
    if (window_[static_cast<size_t>(p)] != lookahead_[0]) continue;
    int length = lookaheadCount_ - 1;
    for (int i = 1; i < lookaheadCount_; ++i)
      if (window_[static_cast<size_t>((p + i) % windowSize_)] != lookahead_[i]) {
        length = i;
        break;
      }
    if (length > bestLength) bestLength = length, bestPosition = p;
  }

  int consumed;
  if (bestLength < 2) {
    if (literalCount_ == literalCapacity_) WriteLiteralRun();
    run_[literalCount_++] = lookahead_[0];
    AddToWindow(lookahead_[0]);
    consumed = 1;
  } else {
    if (literalCount_ > 0) WriteLiteralRun();
    PutField((((bestPosition / 16) << bits_) & 0xFF) | static_cast<unsigned>(bestLength - 1), 8);
    PutField(static_cast<unsigned>(bestPosition % 16), 4);
    for (int i = 0; i < bestLength; ++i) AddToWindow(lookahead_[i]);
    consumed = bestLength;
  }
  std::copy(lookahead_ + consumed, lookahead_ + lookaheadCount_, lookahead_);
  lookaheadCount_ -= consumed;
}

void TLZ77Stream::WriteLiteralRun() {
  PutField(static_cast<unsigned>(literalCount_ - 1) << bits_, 8);
  for (int i = 0; i < literalCount_; ++i) PutField(run_[i], 8);
  literalCount_ = 0;
}

void TLZ77Stream::AddToWindow(uint8_t value) {
  windowPosition_ = windowPosition_ + 1 == windowSize_ ? 0 : windowPosition_ + 1;
  window_[static_cast<size_t>(windowPosition_)] = value;
}

void TLZ77Stream::PutField(unsigned value, int width) {
  nibbleBuffer_ = (nibbleBuffer_ | (value << nibbleCount_)) & 0xFF;
  nibbleCount_ += width;
  if (nibbleCount_ == 8) {
    PutByte(static_cast<uint8_t>(nibbleBuffer_));
    nibbleBuffer_ = 0;
    nibbleCount_ = 0;
  } else if (nibbleCount_ == 12) {
    PutByte(static_cast<uint8_t>(nibbleBuffer_));
    nibbleBuffer_ = (value >> 4) & 0x0F;
    nibbleCount_ = 4;
  }
}

void TLZ77Stream::PutByte(uint8_t value) {
  output_.push_back(value);
  if (output_.size() >= kOutputBlock) FlushOutput();
}

void TLZ77Stream::FlushOutput() {
  if (output_.empty()) return;
  Next().Write(output_.data(), output_.size());
  output_.clear();
}

void TLZ77Stream::Flush() {
  if (!compress_) {
    nibbleCount_ = 0;
    return;
  }
  while (lookaheadCount_ > 0) EncodeStep();
  if (literalCount_ > 0) WriteLiteralRun();
  if (nibbleCount_ != 0) {
    PutByte(static_cast<uint8_t>(nibbleBuffer_));
    nibbleBuffer_ = 0;
  }
  nibbleCount_ = 0;
  FlushOutput();
  Next().Flush();
}

// ---- Decompressor ----

bool TLZ77Stream::GetByte(uint8_t& value) { return Next().Read(&value, 1) == 1; }

bool TLZ77Stream::GetField(int width, unsigned& value) {
  uint8_t next;
  if (width == 8) {
    if (nibbleCount_ == 0) {
      if (!GetByte(next)) return false;
      value = next;
      return true;
    }
    // Half a byte is held: it becomes the low half, the next byte's low nibble the
    // high half, and that byte's high nibble stays held.
    if (!GetByte(next)) return false;
    value = ((nibbleBuffer_ >> 4) | (static_cast<unsigned>(next) << 4)) & 0xFF;
    nibbleBuffer_ = next;
    return true;
  }
  if (nibbleCount_ == 0) {
    if (!GetByte(next)) return false;
    nibbleBuffer_ = next;
    nibbleCount_ = 8;
  }
  nibbleCount_ -= 4;
  value = nibbleCount_ == 4 ? nibbleBuffer_ & 0x0F : (nibbleBuffer_ >> 4) & 0x0F;
  return true;
}

// Decodes the next token into the run buffer; false at the end of the data.  Every
// position a token can name lies inside the window, and no token yields more than
// 32 bytes, so damaged data cannot reach outside either buffer.
bool TLZ77Stream::FillRun() {
  runStart_ = 0;
  runCount_ = 0;
  unsigned header;
  if (!GetField(8, header)) return false;
  const unsigned mask = (1u << bits_) - 1;
  unsigned length = header & mask;
  if (length != 0) {
    length += 1;
    unsigned low;
    if (!GetField(4, low)) return false;
    const unsigned position = low + (header >> bits_) * 16;
    for (unsigned i = 0; i < length; ++i) run_[i] = window_[(position + i) % static_cast<unsigned>(windowSize_)];
    runCount_ = static_cast<int>(length);
    return true;
  }
  const int count = static_cast<int>(header >> bits_) + 1;
  int got = 0;
  if (nibbleCount_ != 0) {
    unsigned value;
    while (got < count && GetField(8, value)) run_[got++] = static_cast<uint8_t>(value);
  } else {
    while (got < count) {
      const size_t n = Next().Read(run_ + got, static_cast<size_t>(count - got));
      if (n == 0) break;
      got += static_cast<int>(n);
    }
  }
  runCount_ = got;
  return got > 0;
}

size_t TLZ77Stream::Read(void* buffer, size_t count) {
  if (!decompress_) throw EInOutError("Cannot read from stream");
  auto* out = static_cast<uint8_t*>(buffer);
  size_t delivered = 0;
  while (delivered < count) {
    if (runCount_ == 0 && !FillRun()) break;
    const int take = static_cast<int>(std::min<size_t>(static_cast<size_t>(runCount_), count - delivered));
    for (int i = 0; i < take; ++i) {
      const uint8_t value = run_[runStart_ + i];
      out[delivered++] = value;
      AddToWindow(value);
    }
    runStart_ += take;
    runCount_ -= take;
  }
  return delivered;
}

int64_t TLZ77Stream::Available() {
  if (!decompress_) return 0;
  return runCount_ + Next().Available();
}

}  // namespace sq
