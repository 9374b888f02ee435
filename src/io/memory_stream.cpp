#include "io/memory_stream.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/large_pages.h"

namespace sq {

namespace {

constexpr size_t kLargeGrowth = size_t{1} << 20;

size_t SeekTarget(int64_t offset, TSeekableStream::SeekOrigin origin, size_t position, size_t size) {
  int64_t base = origin == TSeekableStream::soBeginning ? 0
                 : origin == TSeekableStream::soCurrent ? static_cast<int64_t>(position)
                                                        : static_cast<int64_t>(size);
  const int64_t target = base + offset;
  if (target < 0) throw EInOutError("Stream seek out of range");
  return static_cast<size_t>(target);
}

// Both memory streams read the same way; only who owns the bytes differs.
size_t ReadAt(std::span<const uint8_t> data, size_t& position, void* buffer, size_t count) {
  if (position >= data.size()) return 0;
  const size_t n = std::min(count, data.size() - position);
  std::memcpy(buffer, data.data() + position, n);
  position += n;
  return n;
}
}  // namespace

TMemoryStream::TMemoryStream() { readable_ = writable_ = true; }

TMemoryStream::TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) { readable_ = writable_ = true; }

void TMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  if (position_ == data_.size()) {
    // Appending, the common case: copied straight in, without zero-filling first.
    // A stream that grows large (a model or an image written to memory) grows onto
    // large pages, where each fresh 4 KiB page would cost a fault.
    if (data_.size() + count >= kLargeGrowth) GrowLarge(data_, data_.size() + count);
    data_.insert(data_.end(), bytes, bytes + count);
  } else {
    if (position_ + count > data_.size()) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, bytes, count);
  }
  position_ += count;
}

size_t TMemoryStream::Read(void* buffer, size_t count) { return ReadAt(data_, position_, buffer, count); }

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  position_ = SeekTarget(offset, origin, position_, data_.size());
  return static_cast<int64_t>(position_);
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(std::max<int64_t>(0, size)));
  position_ = std::min(position_, data_.size());
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

TReadOnlyMemoryStream::TReadOnlyMemoryStream(std::span<const uint8_t> data) : data_(data) { readable_ = true; }

void TReadOnlyMemoryStream::Write(const void*, size_t) {
  throw EInOutError("Error writing to stream - read-only stream");
}

size_t TReadOnlyMemoryStream::Read(void* buffer, size_t count) { return ReadAt(data_, position_, buffer, count); }

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  position_ = SeekTarget(offset, origin, position_, data_.size());
  return static_cast<int64_t>(position_);
}

void TReadOnlyMemoryStream::SetSize(int64_t) { throw EInOutError("Error writing to stream - read-only stream"); }

}  // namespace sq
