// The program's own stream framework: the codecs, the LZ77 stream and the model files
// are all written against these classes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sq {

class TBaseStream {
 public:
  virtual ~TBaseStream() = default;

  // Writes all count bytes or raises EInOutError.
  virtual void Write(const void* buffer, size_t count) = 0;
  // Reads up to count bytes and returns how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Bytes that can still be read without blocking; 0 at the end of the data.
  virtual int64_t Available() = 0;
  virtual void Flush() {}

  bool Eof() { return Available() <= 0; }
  bool Readable() const { return readable_; }
  bool Writable() const { return writable_; }

  // Reads exactly count bytes or raises "Read less than expected".
  void ReadBuffer(void* buffer, size_t count);
  // Reads the source in 4096-byte blocks until its end and writes them here.
  void CopyFrom(TBaseStream& source);

  // Little-endian helpers for binary formats.
  uint8_t ReadByte();
  uint16_t ReadUInt16();
  uint32_t ReadUInt32();
  int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
  float ReadFloat();
  void WriteByte(uint8_t value) { Write(&value, 1); }
  void WriteUInt16(uint16_t value);
  void WriteUInt32(uint32_t value);
  void WriteInt32(int32_t value) { WriteUInt32(static_cast<uint32_t>(value)); }
  void WriteFloat(float value);
  void WriteString(const std::string& text) { Write(text.data(), text.size()); }

 protected:
  bool readable_ = false;
  bool writable_ = false;
};

class TSeekableStream : public TBaseStream {
 public:
  enum SeekOrigin { soBeginning, soCurrent, soEnd };

  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual int64_t Size() = 0;
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t position) { Seek(position, soBeginning); }
  int64_t Available() override { return Size() - Position(); }
};

// Wraps another stream and forwards to it.  Codec streams derive from this.
class TFilterStream : public TBaseStream {
 public:
  // An owned stream is freed with the filter; a borrowed one is not.
  explicit TFilterStream(std::unique_ptr<TBaseStream> owned);
  explicit TFilterStream(TBaseStream& borrowed);
  ~TFilterStream() override;

  void Write(const void* buffer, size_t count) override { next_->Write(buffer, count); }
  size_t Read(void* buffer, size_t count) override { return next_->Read(buffer, count); }
  int64_t Available() override { return next_->Available(); }
  void Flush() override { next_->Flush(); }

  TBaseStream& Next() { return *next_; }

 private:
  std::unique_ptr<TBaseStream> owned_;
  TBaseStream* next_;
};

// Copies at most maxCount bytes in blocks of at most 4096, stopping early at the
// source's end; with no target the bytes are skipped.  Returns the bytes copied.
int64_t CopyStream(TBaseStream& source, TBaseStream* target, int64_t maxCount);

}  // namespace sq
