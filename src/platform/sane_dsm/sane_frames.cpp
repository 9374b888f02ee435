// Pages from SANE as device-independent bitmaps.  SANE data comes from a device
// driver, so every size is checked against the bytes that actually arrived.
#include <algorithm>
#include <cstring>

#include "sane_source.h"

namespace sq::sanedsm {

namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// The 8-bit value of sample x of a row in the frame's depth; 1-bit line art is black
// where the bit is set.
uint8_t Sample(const uint8_t* row, int64_t index, int depth) {
  switch (depth) {
    case 1:
      return (row[index >> 3] >> (7 - (index & 7))) & 1 ? 0 : 255;
    case 16: {
      uint16_t v;
      std::memcpy(&v, row + 2 * index, 2);  // SANE sends 16-bit samples in host order
      return static_cast<uint8_t>(v >> 8);
    }
    default:
      return row[index];
  }
}

}  // namespace

std::vector<uint8_t> FramesToDIB(const std::vector<TFrame>& frames, int resolution, std::string& error) {
  if (frames.empty()) {
    error = "no image data";
    return {};
  }
  const SANE_Parameters& first = frames.front().Parameters;
  const int64_t width = first.pixels_per_line;
  const int depth = first.depth;
  const bool colour = first.format != SANE_FRAME_GRAY;
  if (width < 1 || width > (1 << 20) || (depth != 1 && depth != 8 && depth != 16) || (colour && depth == 1)) {
    error = "unsupported image parameters";
    return {};
  }
  // Every frame must describe the same raster; three-pass scans bring one band each.
  const int samplesPerPixel = first.format == SANE_FRAME_RGB ? 3 : 1;
  const int64_t needed = depth == 1 ? (width + 7) / 8 : width * samplesPerPixel * depth / 8;
  const int64_t bpl = first.bytes_per_line;
  if (bpl < needed) {
    error = "unsupported image parameters";
    return {};
  }
  int64_t height = static_cast<int64_t>(frames.front().Bytes.size()) / bpl;
  const uint8_t* bands[3] = {nullptr, nullptr, nullptr};  // red, green, blue
  for (const TFrame& frame : frames) {
    const SANE_Parameters& p = frame.Parameters;
    if (p.pixels_per_line != first.pixels_per_line || p.bytes_per_line != first.bytes_per_line || p.depth != depth) {
      error = "frames of different sizes";
      return {};
    }
    height = std::min<int64_t>(height, static_cast<int64_t>(frame.Bytes.size()) / bpl);
    if (p.format == SANE_FRAME_RED) bands[0] = frame.Bytes.data();
    if (p.format == SANE_FRAME_GREEN) bands[1] = frame.Bytes.data();
    if (p.format == SANE_FRAME_BLUE) bands[2] = frame.Bytes.data();
  }
  const bool threePass = colour && first.format != SANE_FRAME_RGB;
  if (first.format != SANE_FRAME_GRAY && first.format != SANE_FRAME_RGB && !threePass) {
    error = "unsupported frame format";
    return {};
  }
  if (threePass && (!bands[0] || !bands[1] || !bands[2])) {
    error = "a colour band is missing";
    return {};
  }
  if (height < 1) {
    error = "no image data";
    return {};
  }

  const int bits = colour ? 24 : 8;
  const int64_t stride = (width * bits / 8 + 3) & ~int64_t(3);
  const int64_t paletteBytes = colour ? 0 : 1024;
  const int64_t offset = 40 + paletteBytes;
  if (stride * height > kMaxPageBytes) {
    error = "the page is too large";
    return {};
  }
  std::vector<uint8_t> dib(static_cast<size_t>(offset + stride * height), 0);
  Put32(dib, 0, 40);
  Put32(dib, 4, static_cast<uint32_t>(width));
  Put32(dib, 8, static_cast<uint32_t>(height));  // bottom row first
  Put16(dib, 12, 1);
  Put16(dib, 14, static_cast<uint32_t>(bits));
  Put32(dib, 20, static_cast<uint32_t>(stride * height));
  const uint32_t perMetre = static_cast<uint32_t>(resolution * 10000 / 254);
  Put32(dib, 24, perMetre);
  Put32(dib, 28, perMetre);
  if (!colour) {
    Put32(dib, 32, 256);
    for (int i = 0; i < 256; ++i) dib[40 + 4 * i] = dib[41 + 4 * i] = dib[42 + 4 * i] = static_cast<uint8_t>(i);
  }
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* out = dib.data() + offset + (height - 1 - y) * stride;
    if (!colour) {
      const uint8_t* row = frames.front().Bytes.data() + y * bpl;
      for (int64_t x = 0; x < width; ++x) out[x] = Sample(row, x, depth);
    } else if (!threePass) {
      const uint8_t* row = frames.front().Bytes.data() + y * bpl;
      for (int64_t x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) out[3 * x + 2 - c] = Sample(row, 3 * x + c, depth);
    } else {
      for (int64_t x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) out[3 * x + 2 - c] = Sample(bands[c] + y * bpl, x, depth);
    }
  }
  return dib;
}

}  // namespace sq::sanedsm
