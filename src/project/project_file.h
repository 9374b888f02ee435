// The ".kst" project file: the two image paths, the point pairs and the four
// animation settings.  The mesh is not stored; "Connect points" rebuilds it.
//
// Layout (integers little-endian, signed 32-bit unless noted):
//   "KST", version byte 1, then through the LZ77 stream with 3-bit lengths:
//   L1, L1 path bytes, L2, L2 path bytes, PointCount, PointCount x (x1 y1 x2 y2),
//   FrameCount, AnimationType, HighPrecisionRender (byte), Antialiasing (byte).
// Version 0 files have no header and no compression: they start with L1, whose high
// byte is 0, and the same fields follow plainly.
#pragma once

#include <string>

#include "io/base_stream.h"
#include "project/correspondence_project.h"

namespace sq {

constexpr int kMaxStoredPathLength = 5000;
constexpr int kProjectFileBits = 3;

class TProjectFile {
 public:
  // Writes atomically: a temporary file in the target's folder is renamed over the
  // target only once complete.  An empty name raises "Write error".
  void SaveToFile(const std::string& fileName) const;
  void SaveToStream(TBaseStream& stream) const;

  // Reads over the current values: on success every field is replaced except
  // Antialiasing, which keeps its value when the file ends just before it.  On any
  // error nothing changes.  Stored paths come back resolved (see ResolveImagePath)
  // against the project's folder and rememberedFolder (the project's folder when
  // empty).  Damaged files raise "Error reading file" or the stream's read error;
  // an empty name raises "Read error".
  void LoadFromFile(const std::string& fileName, const std::string& rememberedFolder = {});
  // As LoadFromFile, but the paths are kept exactly as stored.
  void LoadFromStream(TBaseStream& stream);

  std::string Image1Path;
  std::string Image2Path;
  CorrespondenceProject Project;
};

// The path an image stored in a project opens from.  A stored path with no folder
// separator ("\" or "/") is relative to projectFolder; a path that does not exist is
// replaced by rememberedFolder plus its file-name part, so images kept beside a
// project are found after the project moved.  Empty stays empty.
std::string ResolveImagePath(const std::string& stored, const std::string& projectFolder,
                             const std::string& rememberedFolder);

// The folder part of a file name, with its trailing "/"; empty for a bare name.
std::string ExtractFolder(const std::string& fileName);

}  // namespace sq
