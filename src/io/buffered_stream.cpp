#include "io/buffered_stream.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"

namespace sq {

TBufferedStream::TBufferedStream(TBaseStream& next, size_t bufferSize)
    : TFilterStream(next), buffer_(std::max<size_t>(bufferSize, 16)) {}

TBufferedStream::TBufferedStream(std::unique_ptr<TBaseStream> next, size_t bufferSize)
    : TFilterStream(std::move(next)), buffer_(std::max<size_t>(bufferSize, 16)) {}

TBufferedStream::~TBufferedStream() {
  try {
    WriteOut();
  } catch (const std::exception&) {
    // Nothing sensible to do in a destructor; Flush reports the error.
  }
}

void TBufferedStream::WriteOut() {
  if (writeCount_ == 0) return;
  const size_t count = writeCount_;
  writeCount_ = 0;
  Next().Write(buffer_.data(), count);
}

void TBufferedStream::DropReadAhead() {
  if (readPos_ == readEnd_) {
    readPos_ = readEnd_ = 0;
    return;
  }
  auto* seekable = dynamic_cast<TSeekableStream*>(&Next());
  if (!seekable) throw EInOutError("Error writing to stream - cannot write after reading ahead");
  seekable->Seek(-static_cast<int64_t>(readEnd_ - readPos_), TSeekableStream::soCurrent);
  readPos_ = readEnd_ = 0;
}

void TBufferedStream::Write(const void* data, size_t count) {
  DropReadAhead();
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (writeCount_ + count > buffer_.size()) {
    WriteOut();
    if (count >= buffer_.size()) {
      Next().Write(bytes, count);
      return;
    }
  }
  std::memcpy(buffer_.data() + writeCount_, bytes, count);
  writeCount_ += count;
}

bool TBufferedStream::Fill() {
  WriteOut();
  readPos_ = 0;
  readEnd_ = Next().Read(buffer_.data(), buffer_.size());
  return readEnd_ > 0;
}

int TBufferedStream::FillAndGet() {
  if (!Fill()) return -1;
  return buffer_[readPos_++];
}

int TBufferedStream::PeekByte() {
  if (readPos_ == readEnd_ && !Fill()) return -1;
  return buffer_[readPos_];
}

size_t TBufferedStream::Read(void* data, size_t count) {
  auto* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < count) {
    if (readPos_ == readEnd_) {
      // Large reads go straight through once the buffer is empty.
      if (count - done >= buffer_.size()) {
        WriteOut();
        const size_t got = Next().Read(out + done, count - done);
        if (got == 0) break;
        done += got;
        continue;
      }
      if (!Fill()) break;
    }
    const size_t n = std::min(count - done, readEnd_ - readPos_);
    std::memcpy(out + done, buffer_.data() + readPos_, n);
    readPos_ += n;
    done += n;
  }
  return done;
}

int64_t TBufferedStream::Available() {
  return static_cast<int64_t>(readEnd_ - readPos_) + std::max<int64_t>(0, Next().Available());
}

void TBufferedStream::Flush() {
  WriteOut();
  Next().Flush();
}

}  // namespace sq
