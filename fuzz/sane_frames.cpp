// Feeds arbitrary frame parameters and sample bytes, as a scanner driver might deliver
// them, to the source manager's page conversion; what it makes must read back as a
// bitmap of the size it claims.
#include <sane/sane.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/linear_bitmap.h"
#include "sane_dsm/sane_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sq;
  // Per frame: format, last flag, depth (bytes), bytes per line, pixels per line
  // (int16 each), then the frame's length (uint16) and its bytes.
  std::vector<sanedsm::TFrame> frames;
  size_t at = 0;
  while (frames.size() < 3 && size - at >= 11) {
    sanedsm::TFrame frame;
    int16_t fields[4];
    std::memcpy(fields, data + at + 3, sizeof fields);
    frame.Parameters.format = static_cast<SANE_Frame>(data[at] % 6);
    frame.Parameters.last_frame = data[at + 1] & 1;
    frame.Parameters.depth = data[at + 2];
    frame.Parameters.bytes_per_line = fields[0];
    frame.Parameters.pixels_per_line = fields[1];
    frame.Parameters.lines = fields[2];
    const size_t length = std::min<size_t>(static_cast<uint16_t>(fields[3]), size - at - 11);
    frame.Bytes.assign(data + at + 11, data + at + 11 + length);
    at += 11 + length;
    frames.push_back(std::move(frame));
  }
  std::string error;
  const std::vector<uint8_t> dib = sanedsm::FramesToDIB(frames, 300, error);
  if (dib.empty()) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  try {
    TLinearBitmap bitmap;
    bitmap.GetFromDIB(std::span<const uint8_t>(dib));
    if (bitmap.Width != frames.front().Parameters.pixels_per_line) __builtin_trap();
  } catch (const Exception&) {
    __builtin_trap();
  }
  return 0;
}
