#include "imaging/codecs/color_map_file.h"

#include <algorithm>

#include "base/exception.h"
#include "io/file_stream.h"

namespace sq {

namespace {

// Reads up to 256 bytes into entries; raises for more.
size_t ReadEntries(TBaseStream& stream, ToneMap& entries) {
  size_t got = 0;
  while (got < entries.size()) {
    const size_t n = stream.Read(entries.data() + got, entries.size() - got);
    if (n == 0) break;
    got += n;
  }
  uint8_t extra;
  if (got == entries.size() && stream.Read(&extra, 1) != 0)
    throw EBadFormat("Invalid color map file: a color map holds at most 256 bytes");
  return got;
}

}  // namespace

ToneMap LoadColorMap(TBaseStream& stream) {
  ToneMap map;
  if (ReadEntries(stream, map) != map.size())
    throw EBadFormat("Invalid color map file: a color map holds exactly 256 bytes");
  return map;
}

int LoadColorMapEntries(TBaseStream& stream, ToneMap& map) {
  ToneMap entries;
  const size_t got = ReadEntries(stream, entries);
  if (got == 0) throw EBadFormat("Invalid color map file: the file is empty");
  std::copy_n(entries.begin(), got, map.begin());
  return static_cast<int>(got);
}

int LoadColorMapEntriesFromFile(const std::string& fileName, ToneMap& map) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  return LoadColorMapEntries(file, map);
}

ToneMap LoadColorMapFromFile(const std::string& fileName) {
  TFileStream file(fileName, TFileStream::fmOpenRead);
  return LoadColorMap(file);
}

void SaveColorMap(TBaseStream& stream, const ToneMap& map) { stream.Write(map.data(), map.size()); }

void SaveColorMapToFile(const std::string& fileName, const ToneMap& map) {
  TAtomicFileSave save(fileName);
  SaveColorMap(save.Stream(), map);
  save.Commit();
}

}  // namespace sq
