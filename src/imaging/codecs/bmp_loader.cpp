#include "imaging/codecs/bmp_loader.h"

#include <cstring>
#include <vector>

#include "base/byte_order.h"
#include "base/exception.h"
#include "base/progress.h"
#include "imaging/codecs/dib_decoder.h"
#include "imaging/linear_bitmap.h"
#include "io/buffered_stream.h"

namespace sq {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

bool TBMPLoader::CanLoad(const std::string& extension) { return ExtensionInList(extension, {"BMP"}); }

bool TBMPLoader::CanSave(const std::string& extension) { return ExtensionInList(extension, {"BMP"}); }

std::string TBMPLoader::GetLoadFilter() { return "Windows bitmap (*.bmp)|*.bmp"; }

void TBMPLoader::LoadFromStream(TBaseStream& stream, const std::string&, TLinearBitmap& bitmap) {
  // What a seekable source still holds bounds every size in the headers.
  int64_t available = -1;
  if (auto* seekable = dynamic_cast<TSeekableStream*>(&stream)) available = seekable->Available();

  TBufferedStream in(stream);
  uint8_t header[kFileHeaderSize];
  if (in.Read(header, sizeof header) != sizeof header || header[0] != 'B' || header[1] != 'M')
    throw ELinearBitmap("Unsupported file format");
  const uint32_t pixelOffset = GetUInt32LE(header + 10);
  const int64_t dibOffset = int64_t(pixelOffset) - kFileHeaderSize;
  TLinearBitmap result;
  ReadDIB(in, dibOffset, available < 0 ? -1 : available - kFileHeaderSize, result);
  bitmap.TakeOver(result);
}

void TBMPLoader::SaveToStream(TBaseStream& stream, const std::string&, const TLinearBitmap& bitmap) {
  if (!bitmap.Present) throw ELinearBitmap("Invalid bitmap size");
  const int bits = bitmap.PixelFormat == pf16bit ? 8 : bitmap.PixelSize * 8;
  if (bits != 8 && bits != 24 && bits != 32) throw ELinearBitmap("Unsupported pixel format");
  const int64_t stride = (int64_t(bitmap.Width) * bits / 8 + 3) & ~int64_t(3);
  const int64_t imageSize = stride * bitmap.Height;
  const uint32_t colors = bits == 8 ? 256 : 0;
  const int64_t offset = kFileHeaderSize + kInfoHeaderSize + 4 * colors;
  if (offset + imageSize > 0xFFFFFFFFLL) throw ELinearBitmap("Invalid bitmap size");

  uint8_t header[kFileHeaderSize + kInfoHeaderSize] = {};
  header[0] = 'B';
  header[1] = 'M';
  Put32(header + 2, static_cast<uint32_t>(offset + imageSize));
  Put32(header + 10, static_cast<uint32_t>(offset));
  uint8_t* info = header + kFileHeaderSize;
  Put32(info, kInfoHeaderSize);
  Put32(info + 4, static_cast<uint32_t>(bitmap.Width));
  Put32(info + 8, static_cast<uint32_t>(bitmap.Height));
  Put16(info + 12, 1);
  Put16(info + 14, static_cast<uint32_t>(bits));
  Put32(info + 20, static_cast<uint32_t>(imageSize));
  Put32(info + 32, colors);
  Put32(info + 36, colors);

  TBufferedStream out(stream);
  out.Write(header, sizeof header);
  if (bits == 8) {
    const uint8_t* palette = bitmap.PixelFormat == pf16bit ? GrayPalette() : bitmap.Palette;
    uint8_t table[1024];
    for (int i = 0; i < 256; ++i) {
      std::memcpy(table + 4 * i, palette + 3 * i, 3);
      table[4 * i + 3] = 0;
    }
    out.Write(table, sizeof table);
  }
  std::vector<uint8_t> row(static_cast<size_t>(stride), 0);
  for (int r = 0; r < bitmap.Height; ++r) {
    const uint8_t* s = bitmap.ScanLine(bitmap.Height - 1 - r);
    if (bitmap.PixelFormat == pf16bit) {
      for (int x = 0; x < bitmap.Width; ++x) row[x] = s[2 * x + 1];  // the high byte is the grey level
    } else {
      std::memcpy(row.data(), s, static_cast<size_t>(bitmap.Width) * bitmap.PixelSize);
    }
    out.Write(row.data(), row.size());
    ReportRowProgress(r, bitmap.Height);
  }
  out.Flush();
}

TBMPLoader& BMPLoader() {
  static TBMPLoader loader;
  return loader;
}

}  // namespace sq
