#include "project/project_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/exception.h"
#include "base/format.h"
#include "compress/lz77_stream.h"
#include "io/file_stream.h"
#include "io/memory_stream.h"

namespace sq {

namespace {

const char kErrorReading[] = "Error reading file";

// Enough for any file the reader can consume: the largest content is about 23 KB
// and compression can at most double it.
constexpr size_t kMaxProjectBytesRead = size_t(1) << 20;

std::string SystemError() { return std::strerror(errno); }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string FileNamePart(const std::string& path) {
  for (size_t i = path.size(); i > 0; --i)
    if (IsSeparator(path[i - 1])) return path.substr(i);
  return path;
}

std::string WithTrailingSlash(const std::string& folder) {
  if (folder.empty() || IsSeparator(folder.back())) return folder;
  return folder + "/";
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Writes bytes to a new file beside fileName and renames it over fileName, so the
// old file stays whole until the new one is complete.
void WriteFileAtomically(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::string target = fileName;
  std::error_code error;
  if (std::filesystem::is_symlink(target, error)) {
    // Replace the file the link points to, not the link.
    const auto resolved = std::filesystem::weakly_canonical(target, error);
    if (!error) target = resolved.string();
  }
  mode_t mode = 0666;
  struct stat info;
  const bool existed = ::stat(target.c_str(), &info) == 0;
  if (existed) mode = info.st_mode & 07777;

  static std::atomic<unsigned> counter{0};
  const std::string folder = ExtractFolder(target);
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary =
        Format("%s.%s.%d-%u.tmp", folder, FileNamePart(target), static_cast<int>(::getpid()), counter.fetch_add(1));
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, existed ? 0600 : mode);
    if (fd < 0 && (errno != EEXIST || attempt == 100))
      throw EInOutError(Format("Error creating \"%s\" - %s", fileName, SystemError()));
  }
  auto fail = [&](const std::string& message) {
    ::close(fd);
    ::unlink(temporary.c_str());
    throw EInOutError(message);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(Format("Error writing to stream - %s", SystemError()));
    }
    done += static_cast<size_t>(n);
  }
  if (existed && ::fchmod(fd, mode) != 0) fail(Format("Error writing to stream - %s", SystemError()));
  if (::fsync(fd) != 0) fail(Format("Error writing to stream - %s", SystemError()));
  if (::close(fd) != 0) {
    ::unlink(temporary.c_str());
    throw EInOutError(Format("Error closing \"%s\" - %s", fileName, SystemError()));
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const std::string reason = SystemError();
    ::unlink(temporary.c_str());
    throw EInOutError(Format("Error writing \"%s\" - %s", fileName, reason));
  }
}

void WritePath(TBaseStream& stream, const std::string& path) {
  stream.WriteInt32(static_cast<int32_t>(path.size()));
  stream.WriteString(path);
}

std::string ReadPath(TBaseStream& stream, int32_t length) {
  // Negative lengths never come from a writer; they mark a damaged file.
  if (length < 0 || length > kMaxStoredPathLength) throw EBadFormat(kErrorReading);
  std::string path(static_cast<size_t>(length), '\0');
  stream.ReadBuffer(path.data(), path.size());
  // A path with a NUL byte cannot name any file.
  if (path.find('\0') != std::string::npos) throw EBadFormat(kErrorReading);
  return path;
}

// Fields 3 to 12 after L1; the target already holds the values Antialiasing falls
// back to.
void ReadFields(TBaseStream& stream, int32_t length1, TProjectFile& target) {
  CorrespondenceProject& project = target.Project;
  target.Image1Path = ReadPath(stream, length1);
  target.Image2Path = ReadPath(stream, stream.ReadInt32());
  project.PointCount = 0;
  const int32_t count = stream.ReadInt32();
  if (count < 0) throw EBadFormat(kErrorReading);
  // A longer stored list is cut, and the settings are read from the bytes that
  // follow the 800th pair.
  const int32_t kept = std::min<int32_t>(count, kMaxPointPairs);
  for (int32_t i = 0; i < kept; ++i) {
    PointPair& pair = project.Points[static_cast<size_t>(i)];
    pair.x1 = stream.ReadInt32();
    pair.y1 = stream.ReadInt32();
    pair.x2 = stream.ReadInt32();
    pair.y2 = stream.ReadInt32();
  }
  project.PointCount = kept;
  project.FrameCount = stream.ReadInt32();
  project.AnimationType = stream.ReadInt32();
  project.HighPrecisionRender = stream.ReadByte() != 0 ? 1 : 0;
  // Older writers stopped before this byte.
  uint8_t antialiasing;
  if (stream.Read(&antialiasing, 1) == 1) project.Antialiasing = antialiasing != 0 ? 1 : 0;
}

}  // namespace

std::string ExtractFolder(const std::string& fileName) {
  const size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

std::string ResolveImagePath(const std::string& stored, const std::string& projectFolder,
                             const std::string& rememberedFolder) {
  if (stored.empty()) return stored;
  std::string path = stored;
  // Relative paths, with or without folders, are relative to the project, so a
  // project finds its images wherever it moves with them.
  const bool absolute = stored[0] == '/' || stored[0] == '\\' || (stored.size() > 1 && stored[1] == ':');
  if (!absolute) path = WithTrailingSlash(projectFolder) + stored;
  if (!FileExists(path)) path = WithTrailingSlash(rememberedFolder) + FileNamePart(stored);
  return path;
}

void TProjectFile::SaveToStream(TBaseStream& stream) const {
  for (const std::string* path : {&Image1Path, &Image2Path})
    if (path->size() > static_cast<size_t>(kMaxStoredPathLength))
      throw EInOutError(
          Format("Image path too long to store in a project (%d characters at most): %s", kMaxStoredPathLength, *path));
  stream.WriteString("KST");
  stream.WriteByte(1);
  TLZ77Stream lz(stream, kProjectFileBits);
  WritePath(lz, Image1Path);
  WritePath(lz, Image2Path);
  const int32_t count = std::clamp<int32_t>(Project.PointCount, 0, kMaxPointPairs);
  lz.WriteInt32(count);
  for (int32_t i = 0; i < count; ++i) {
    const PointPair& pair = Project.Points[static_cast<size_t>(i)];
    lz.WriteInt32(pair.x1);
    lz.WriteInt32(pair.y1);
    lz.WriteInt32(pair.x2);
    lz.WriteInt32(pair.y2);
  }
  lz.WriteInt32(Project.FrameCount);
  lz.WriteInt32(Project.AnimationType);
  lz.WriteByte(Project.HighPrecisionRender);
  lz.WriteByte(Project.Antialiasing);
  lz.Flush();
}

void TProjectFile::SaveToFile(const std::string& fileName) const {
  if (fileName.empty()) throw EInOutError("Write error");
  TMemoryStream content;
  SaveToStream(content);
  WriteFileAtomically(fileName, content.Data());
}

void TProjectFile::LoadFromStream(TBaseStream& stream) {
  uint8_t header[4];
  stream.ReadBuffer(header, 4);
  TProjectFile loaded = *this;
  if (header[3] == 0) {
    const int32_t length1 = header[0] | header[1] << 8 | header[2] << 16;
    ReadFields(stream, length1, loaded);
  } else if (header[3] == 1 && std::memcmp(header, "KST", 3) == 0) {
    TLZ77Stream lz(stream, kProjectFileBits);
    ReadFields(lz, lz.ReadInt32(), loaded);
  } else {
    throw EBadFormat(kErrorReading);
  }
  *this = std::move(loaded);
}

void TProjectFile::LoadFromFile(const std::string& fileName, const std::string& rememberedFolder) {
  if (fileName.empty()) throw EInOutError("Read error");
  std::vector<uint8_t> bytes;
  {
    TFileStream file(fileName, TFileStream::fmOpenRead);
    uint8_t block[4096];
    while (bytes.size() < kMaxProjectBytesRead) {
      const size_t got = file.Read(block, sizeof block);
      if (got == 0) break;
      bytes.insert(bytes.end(), block, block + got);
    }
  }
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TProjectFile loaded = *this;
  loaded.LoadFromStream(stream);
  const std::string folder = ExtractFolder(fileName);
  const std::string remembered = rememberedFolder.empty() ? folder : rememberedFolder;
  loaded.Image1Path = ResolveImagePath(loaded.Image1Path, folder, remembered);
  loaded.Image2Path = ResolveImagePath(loaded.Image2Path, folder, remembered);
  *this = std::move(loaded);
}

}  // namespace sq
