// Parses arbitrary text as a point-pairs file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/exception.h"
#include "project/point_pairs_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    sq::ParsePointPairs(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
  } catch (const sq::Exception&) {
  }
  return 0;
}
