// Feeds arbitrary bytes to the colour-map file reader; a map that loads must save
// back to the same bytes and apply to an image.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/exception.h"
#include "imaging/codecs/color_map_file.h"
#include "imaging/ops/tone_map.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sq::TReadOnlyMemoryStream stream(data, size);
    const sq::ToneMap map = sq::LoadColorMap(stream);
    sq::TMemoryStream out;
    sq::SaveColorMap(out, map);
    if (out.Data().size() != size || std::memcmp(out.Data().data(), data, size) != 0) std::abort();
    sq::TLinearBitmap image(16, 16, sq::pf24bit);
    for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(i);
    sq::ApplyToneMap(map, image, sq::kPlaneAll);
    if (image.Map[5] != map[5]) std::abort();
  } catch (const sq::Exception&) {
  }
  try {
    sq::TReadOnlyMemoryStream stream(data, size);
    sq::ToneMap map = sq::IdentityMap();
    const int count = sq::LoadColorMapEntries(stream, map);
    if (count < 1 || count > 256 || size_t(count) != size || std::memcmp(map.data(), data, size) != 0) std::abort();
  } catch (const sq::Exception&) {
  }
  return 0;
}
