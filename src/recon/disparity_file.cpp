#include "recon/disparity_file.h"

#include <cstring>

#include "base/exception.h"
#include "io/file_stream.h"

namespace sq {

std::vector<uint8_t> DisparityPfmBytes(const TFloatMap& map) {
  if (map.Width < 1 || map.Height < 1) throw Exception("The dispersion map is empty");
  const std::string header = "Pf\n" + std::to_string(map.Width) + " " + std::to_string(map.Height) + "\n-1.0\n";
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.reserve(bytes.size() + static_cast<size_t>(map.Count) * 4);
  for (int y = map.Height - 1; y >= 0; --y) {
    const double* row = map.ScanLine(y);
    for (int x = 0; x < map.Width; ++x) {
      const float value = static_cast<float>(row[x]);
      uint32_t bits;
      std::memcpy(&bits, &value, 4);
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
  }
  return bytes;
}

void SaveDisparityPfm(const TFloatMap& map, const std::string& fileName) {
  const std::vector<uint8_t> bytes = DisparityPfmBytes(map);
  TAtomicFileSave save(fileName);
  save.Stream().Write(bytes.data(), bytes.size());
  save.Commit();
}

}  // namespace sq
