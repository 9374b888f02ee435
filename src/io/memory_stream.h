// Streams over memory: a growable owned buffer, and a read-only view of bytes that
// belong to someone else (clipboard blocks, fuzz inputs, embedded data).
#pragma once

#include <span>
#include <vector>

#include "io/base_stream.h"

namespace sq {

class TMemoryStream : public TSeekableStream {
 public:
  TMemoryStream();
  explicit TMemoryStream(std::vector<uint8_t> data);

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

  std::vector<uint8_t>& Data() { return data_; }
  const std::vector<uint8_t>& Data() const { return data_; }
  void Clear();

 private:
  std::vector<uint8_t> data_;
  size_t position_ = 0;
};

class TReadOnlyMemoryStream : public TSeekableStream {
 public:
  explicit TReadOnlyMemoryStream(std::span<const uint8_t> data);
  TReadOnlyMemoryStream(const void* data, size_t size)
      : TReadOnlyMemoryStream(std::span<const uint8_t>(static_cast<const uint8_t*>(data), size)) {}

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  void SetSize(int64_t size) override;

 private:
  std::span<const uint8_t> data_;
  size_t position_ = 0;
};

}  // namespace sq
