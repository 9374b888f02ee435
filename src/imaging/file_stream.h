// A stream over an operating-system file handle.
#pragma once

#include <string>

#include "imaging/base_stream.h"

namespace sq {

class TFileStream : public TSeekableStream {
 public:
  // Mode bits.
  static constexpr int fmRead = 1;
  static constexpr int fmWrite = 2;
  static constexpr int fmCreate = 4;  // create always (truncate); else open existing
  static constexpr int fmShareRead = 8;
  static constexpr int fmShareWrite = 16;
  static constexpr int fmOpenRead = fmRead | fmShareRead;
  static constexpr int fmCreateWrite = fmRead | fmWrite | fmCreate;

  TFileStream(const std::string& fileName, int mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  void Write(const void* buffer, size_t count) override;
  size_t Read(void* buffer, size_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;
  void Flush() override;

  // Closes the handle now, raising "Error closing ..." on failure (the destructor
  // closes silently).
  void Close();
  const std::string& FileName() const { return fileName_; }

  static void DeleteFile(const std::string& fileName);

 private:
  std::string fileName_;
  int fd_ = -1;
};

}  // namespace sq
