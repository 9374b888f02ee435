// A stream over an operating-system file handle.
#pragma once

#include <memory>
#include <string>

#include "io/base_stream.h"

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

// Creates a new, empty file that did not exist before (exclusively, so nothing is
// ever overwritten or followed through a planted link) in folder, named
// prefix + six random characters + suffix, and returns its path.  Errors name
// reportName when one is given.
std::string CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                             const std::string& reportName = "");

// Saving that never destroys the old file before the new one is complete: the data
// goes to a fresh temporary file in the target's folder, and Commit renames it over
// the target.  Without Commit (an exception on the way) the temporary file is removed
// and the target stays as it was.
class TAtomicFileSave {
 public:
  explicit TAtomicFileSave(const std::string& fileName);
  ~TAtomicFileSave();
  TAtomicFileSave(const TAtomicFileSave&) = delete;
  TAtomicFileSave& operator=(const TAtomicFileSave&) = delete;

  // The temporary file; it ends with the target's extension, so code that looks at
  // the name sees the same format.
  const std::string& TempName() const { return tempName_; }
  // The temporary file opened for writing (opened on first use).
  TFileStream& Stream();
  // Closes the stream, flushes the data to disk and renames it over the target.
  void Commit();

 private:
  std::string target_;
  std::string tempName_;
  std::unique_ptr<TFileStream> stream_;
  bool committed_ = false;
  int pendingSlot_ = -1;
};

// Removes the temporary files of every TAtomicFileSave still open.  Safe to call
// from a signal handler: a stopped run then leaves no temporary file behind.
void RemovePendingSaveFiles();

}  // namespace sq
