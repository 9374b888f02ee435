#include "imaging/codecs/color_map_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "base/exception.h"
#include "imaging/ops/tone_map.h"
#include "io/memory_stream.h"
#include "support/temp_dir.h"

namespace sq {
namespace {

TEST(ColorMapFile, RoundTripsThroughAFile) {
  std::optional<test::TTempDir> folder(std::in_place);
  const std::string name = folder->File("curve.col");
  const ToneMap map = MakeGammaMap(1.7);
  SaveColorMapToFile(name, map);
  EXPECT_EQ(std::filesystem::file_size(name), 256u);
  EXPECT_EQ(LoadColorMapFromFile(name), map);

  // Overwriting keeps exactly one file; entry 0 comes first.
  SaveColorMapToFile(name, IdentityMap());
  std::ifstream in(name, std::ios::binary);
  EXPECT_EQ(in.get(), 0);
  EXPECT_EQ(in.get(), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder->Path()), {}), 1);
  folder.reset();
  EXPECT_THROW(LoadColorMapFromFile(name), EInOutError);
}

TEST(ColorMapFile, RefusesAnythingButExactly256Bytes) {
  for (size_t size : {0u, 10u, 255u, 257u, 4096u}) {
    std::vector<uint8_t> bytes(size, 7);
    TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
    EXPECT_THROW(LoadColorMap(stream), EBadFormat) << size;
  }
}

TEST(ColorMapFile, PartialLoadFillsTheEntriesItHas) {
  ToneMap map = MakeThresholdMap(127);
  std::vector<uint8_t> bytes(10, 99);
  TReadOnlyMemoryStream shortFile(bytes.data(), bytes.size());
  EXPECT_EQ(LoadColorMapEntries(shortFile, map), 10);
  EXPECT_EQ(map[9], 99);
  EXPECT_EQ(map[10], 0);  // kept
  EXPECT_EQ(map[255], 255);

  const ToneMap before = map;
  for (size_t size : {0u, 257u}) {
    std::vector<uint8_t> bad(size, 7);
    TReadOnlyMemoryStream stream(bad.data(), bad.size());
    EXPECT_THROW(LoadColorMapEntries(stream, map), EBadFormat) << size;
  }
  EXPECT_EQ(map, before);
}

}  // namespace
}  // namespace sq
