#include "io/file_stream.h"

#include <atomic>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/exception.h"
#include "base/format.h"

namespace sq {

namespace {
std::string SystemError() { return std::strerror(errno); }
}  // namespace

TFileStream::TFileStream(const std::string& fileName, int mode) : fileName_(fileName) {
  const bool read = mode & fmRead, write = mode & fmWrite;
  if (!read && !write) throw EInOutError("Either read, write or full access must be specified in call to CreateFile");
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
  if (::unlink(fileName.c_str()) != 0) throw EInOutError(Format("Error deleting \"%s\" - %s", fileName, SystemError()));
}

std::string CreateUniqueFile(const std::string& folder, const std::string& prefix, const std::string& suffix,
                             const std::string& reportName) {
  std::string path = folder.empty() ? std::string(".") : folder;
  if (path.back() != '/') path += '/';
  path += prefix + "XXXXXX" + suffix;
  std::vector<char> buffer(path.begin(), path.end());
  buffer.push_back('\0');
  const int fd = ::mkstemps(buffer.data(), static_cast<int>(suffix.size()));
  if (fd < 0)
    throw EInOutError(Format("Error opening \"%s\" - %s", reportName.empty() ? path : reportName, SystemError()));
  ::close(fd);
  return std::string(buffer.data());
}

namespace {

// Keeps only characters that are safe in a file name we make up ourselves.
std::string SafeNamePart(const std::string& text) {
  std::string result;
  for (const char c : text)
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.') result += c;
  return result;
}

}  // namespace

namespace {

// The temporary files of saves in progress, kept where a signal handler can read
// them without locks or allocation.
struct TPendingSave {
  std::atomic<bool> Used{false};
  std::atomic<bool> Ready{false};
  char Name[4096];
};
TPendingSave gPendingSaves[16];

int RegisterPendingSave(const std::string& name) {
  if (name.size() >= sizeof gPendingSaves[0].Name) return -1;
  for (int i = 0; i < 16; ++i) {
    bool expected = false;
    if (gPendingSaves[i].Used.compare_exchange_strong(expected, true)) {
      std::memcpy(gPendingSaves[i].Name, name.c_str(), name.size() + 1);
      gPendingSaves[i].Ready = true;
      return i;
    }
  }
  return -1;
}

void ReleasePendingSave(int slot) {
  if (slot < 0) return;
  gPendingSaves[slot].Ready = false;
  gPendingSaves[slot].Used = false;
}

}  // namespace

void RemovePendingSaveFiles() {
  for (TPendingSave& save : gPendingSaves)
    if (save.Ready) ::unlink(save.Name);
}

TAtomicFileSave::TAtomicFileSave(const std::string& fileName) : target_(fileName) {
  namespace fs = std::filesystem;
  std::error_code error;
  // Saving through a link replaces the file it points to, not the link.
  if (fs::is_symlink(target_, error)) {
    const fs::path resolved = fs::weakly_canonical(target_, error);
    if (!error) target_ = resolved.string();
  }
  const fs::path target(target_);
  if (target.filename().empty())
    throw EInOutError(Format("Error opening \"%s\" - %s", fileName, std::strerror(EISDIR)));
  const std::string folder = target.parent_path().string();
  const std::string extension = SafeNamePart(target.extension().string());
  std::string stem = SafeNamePart(target.stem().string());
  if (stem.size() > 40) stem.resize(40);
  // A file the user may not write stays as it is, although the folder would let us
  // replace it.
  if (::access(target_.c_str(), F_OK) == 0 && ::access(target_.c_str(), W_OK) != 0)
    throw EInOutError(Format("Error opening \"%s\" - %s", fileName, SystemError()));
  tempName_ = CreateUniqueFile(folder, "." + stem + "~", extension, fileName);
  pendingSlot_ = RegisterPendingSave(tempName_);

  // The new file takes the old one's permissions, or the usual ones for a new file.
  struct stat info;
  mode_t mode;
  if (::stat(target_.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::chmod(tempName_.c_str(), mode);
}

TAtomicFileSave::~TAtomicFileSave() {
  if (!committed_) {
    stream_.reset();
    ::unlink(tempName_.c_str());
  }
  ReleasePendingSave(pendingSlot_);
}

TFileStream& TAtomicFileSave::Stream() {
  if (!stream_) stream_ = std::make_unique<TFileStream>(tempName_, TFileStream::fmCreateWrite);
  return *stream_;
}

void TAtomicFileSave::Commit() {
  if (committed_) return;
  if (stream_) {
    stream_->Flush();
    stream_->Close();
    stream_.reset();
  }
  const int fd = ::open(tempName_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    const int synced = ::fsync(fd);
    const int savedErrno = errno;
    ::close(fd);
    if (synced != 0 && savedErrno != EINVAL && savedErrno != EROFS) {
      errno = savedErrno;
      throw EInOutError(Format("Error writing to stream - %s", SystemError()));
    }
  }
  if (::rename(tempName_.c_str(), target_.c_str()) != 0)
    throw EInOutError(Format("Error opening \"%s\" - %s", target_, SystemError()));
  committed_ = true;
  ReleasePendingSave(pendingSlot_);
  pendingSlot_ = -1;
}

}  // namespace sq
