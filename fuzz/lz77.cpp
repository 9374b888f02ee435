// Decompresses arbitrary bytes, and checks that compressing them round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "compress/lz77_stream.h"
#include "io/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int bits = 3 + (data[0] & 1);
  ++data, --size;
  try {
    {
      sq::TReadOnlyMemoryStream in(data, size);
      sq::TLZ77Stream reader(in, bits);
      uint8_t block[1000];
      size_t total = 0;
      while (total < (1u << 20)) {
        const size_t got = reader.Read(block, sizeof block);
        if (got == 0) break;
        total += got;
      }
    }
    sq::TMemoryStream packed;
    {
      sq::TLZ77Stream writer(packed, bits);
      writer.Write(data, size);
      writer.Flush();
    }
    sq::TReadOnlyMemoryStream in(packed.Data().data(), packed.Data().size());
    sq::TLZ77Stream reader(in, bits);
    std::vector<uint8_t> back(size + 1);
    size_t got = 0;
    while (got < back.size()) {
      const size_t n = reader.Read(back.data() + got, back.size() - got);
      if (n == 0) break;
      got += n;
    }
    if (got != size || std::memcmp(back.data(), data, size) != 0) std::abort();
  } catch (const sq::Exception&) {
  }
  return 0;
}
