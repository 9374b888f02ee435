#include "imaging/codecs/color_map_file.h"

#include "base/exception.h"
#include "io/file_stream.h"

namespace sq {

ToneMap LoadColorMap(TBaseStream& stream) {
  ToneMap map;
  size_t got = 0;
  while (got < map.size()) {
    const size_t n = stream.Read(map.data() + got, map.size() - got);
    if (n == 0) break;
    got += n;
  }
  uint8_t extra;
  if (got != map.size() || stream.Read(&extra, 1) != 0)
    throw EBadFormat("Invalid color map file: a color map holds exactly 256 bytes");
  return map;
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
