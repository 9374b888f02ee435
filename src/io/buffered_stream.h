// A buffering filter: one buffer, used for reading or for writing, so that readers
// and writers of small fields do not call the operating system per field.
#pragma once

#include <memory>
#include <vector>

#include "io/base_stream.h"

namespace sq {

class TBufferedStream : public TFilterStream {
 public:
  static constexpr size_t kDefaultBufferSize = 65536;

  explicit TBufferedStream(TBaseStream& next, size_t bufferSize = kDefaultBufferSize);
  explicit TBufferedStream(std::unique_ptr<TBaseStream> next, size_t bufferSize = kDefaultBufferSize);
  // Writes what is still buffered; errors at this point cannot be reported, so
  // writers call Flush themselves before they finish.
  ~TBufferedStream() override;

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;
  int64_t Available() override;
  // Writes the buffered bytes to the next stream and flushes it.
  void Flush() override;

  // Byte-wise access for decoders, without a call per byte.
  // The next byte without consuming it; -1 at the end of the data.
  int PeekByte();
  // The next byte, or -1 at the end of the data.
  int GetByte() {
    if (readPos_ < readEnd_) return buffer_[readPos_++];
    return FillAndGet();
  }

 private:
  int FillAndGet();
  bool Fill();
  void WriteOut();
  // Hands back read-ahead bytes before the stream turns to writing.
  void DropReadAhead();

  std::vector<uint8_t> buffer_;
  size_t readPos_ = 0, readEnd_ = 0;  // unread bytes while reading
  size_t writeCount_ = 0;             // pending bytes while writing
};

}  // namespace sq
