#include "imaging/file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/exception.h"
#include "base/format.h"

namespace sq {

namespace {
std::string SystemError() { return std::strerror(errno); }
}  // namespace

TFileStream::TFileStream(const std::string& fileName, int mode) : fileName_(fileName) {
  const bool read = mode & fmRead, write = mode & fmWrite;
  if (!read && !write)
    throw EInOutError("Either read, write or full access must be specified in call to CreateFile");
  int flags = O_CLOEXEC;
  flags |= read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY);
  if (mode & fmCreate) flags |= O_CREAT | O_TRUNC;
  fd_ = ::open(fileName.c_str(), flags, 0666);
  if (fd_ < 0) throw EInOutError(Format("Error opening \"%s\" - %s", fileName, SystemError()));
  struct stat info;
  if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    errno = EISDIR;
    throw EInOutError(Format("Error opening \"%s\" - %s", fileName, SystemError()));
  }
  readable_ = read;
  writable_ = write;
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw EInOutError(Format("Error closing \"%s\" - %s", fileName_, SystemError()));
}

void TFileStream::Write(const void* buffer, size_t count) {
  const auto* data = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t done = ::write(fd_, data, count);
    if (done < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(Format("Error writing to stream - %s", SystemError()));
    }
    data += done;
    count -= static_cast<size_t>(done);
  }
}

size_t TFileStream::Read(void* buffer, size_t count) {
  for (;;) {
    const ssize_t done = ::read(fd_, buffer, count);
    if (done >= 0) return static_cast<size_t>(done);
    if (errno != EINTR) throw EInOutError(Format("Error reading from stream - %s", SystemError()));
  }
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : (origin == soCurrent ? SEEK_CUR : SEEK_END);
  const off_t result = ::lseek(fd_, offset, whence);
  if (result < 0) throw EInOutError(Format("Error reading from stream - %s", SystemError()));
  return result;
}

int64_t TFileStream::Size() {
  struct stat info;
  if (::fstat(fd_, &info) != 0) throw EInOutError(Format("Error reading from stream - %s", SystemError()));
  return info.st_size;
}

void TFileStream::SetSize(int64_t size) {
  if (::ftruncate(fd_, size) != 0) throw EInOutError(Format("Error writing to stream - %s", SystemError()));
}

void TFileStream::Flush() {}

void TFileStream::DeleteFile(const std::string& fileName) {
  if (::unlink(fileName.c_str()) != 0)
    throw EInOutError(Format("Error deleting \"%s\" - %s", fileName, SystemError()));
}

}  // namespace sq
