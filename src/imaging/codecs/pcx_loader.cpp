#include "imaging/codecs/pcx_loader.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/linear_bitmap.h"
#include "io/buffered_stream.h"

namespace sq {

namespace {

constexpr int kHeaderSize = 128;
constexpr uint8_t kPaletteMark = 12;

int16_t Get16(const uint8_t* p) { return static_cast<int16_t>(p[0] | (p[1] << 8)); }
void Put16(uint8_t* p, int v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

// Run decoding that carries a run over line and row ends.
class TRunDecoder {
 public:
  explicit TRunDecoder(TBufferedStream& in) : in_(in) {}

  void Fill(uint8_t* out, size_t count) {
    while (count > 0) {
      if (pending_ == 0) {
        const int c = Next();
        if ((c & 0xC0) == 0xC0) {
          pending_ = c & 0x3F;
          if (pending_ == 0) pending_ = 1;
          value_ = static_cast<uint8_t>(Next());
        } else {
          pending_ = 1;
          value_ = c;
        }
      }
      const size_t n = std::min<size_t>(pending_, count);
      std::memset(out, value_, n);
      out += n;
      count -= n;
      pending_ -= static_cast<int>(n);
    }
  }
  int Next() {
    const int c = in_.GetByte();
    if (c < 0) throw EInOutError("Read less than expected");
    return c;
  }
  // Whether a run was still going when the image was full.
  bool Overflow() const { return pending_ > 0; }

 private:
  TBufferedStream& in_;
  int pending_ = 0;
  uint8_t value_ = 0;
};

}  // namespace

void EncodePCXLine(const uint8_t* data, int count, int step, std::vector<uint8_t>& out) {
  int x = 0;
  while (x < count) {
    const uint8_t value = data[static_cast<size_t>(x) * step];
    int length = 1;
    while (x + length < count && length < 63 && data[static_cast<size_t>(x + length) * step] == value) ++length;
    if (length == 1 && value < 0xC0) {
      out.push_back(value);
    } else {
      out.push_back(static_cast<uint8_t>(0xC0 + length));
      out.push_back(value);
    }
    x += length;
  }
}

bool TPCXLoader::CanLoad(const std::string& extension) { return ExtensionInList(extension, {"PCX"}); }

bool TPCXLoader::CanSave(const std::string& extension) { return ExtensionInList(extension, {"PCX"}); }

std::string TPCXLoader::GetLoadFilter() { return "Zsoft Paintbrush (*.pcx)|*.pcx"; }

void TPCXLoader::LoadFromStream(TBaseStream& stream, const std::string&, TLinearBitmap& bitmap) {
  int64_t available = -1;
  if (auto* seekable = dynamic_cast<TSeekableStream*>(&stream)) available = seekable->Available();
  TBufferedStream in(stream);

  uint8_t header[kHeaderSize];
  if (in.Read(header, kHeaderSize) != kHeaderSize) throw ELinearBitmap("Unsupported file format");
  const int planes = header[65];
  if (header[0] != 10 || header[1] != 5 || header[2] != 1 || header[3] != 8 || (planes != 1 && planes != 3))
    throw ELinearBitmap("Unsupported file format");
  const int xMin = Get16(header + 4), yMin = Get16(header + 6);
  const int xMax = Get16(header + 8), yMax = Get16(header + 10);
  const int bytesPerLine = Get16(header + 66);
  const int height = yMax - yMin + 1;
  const int width = xMax - xMin + 1;
  const int pixelSize = planes == 1 ? 1 : 3;
  CheckImageBytes(bytesPerLine, height, pixelSize);
  CheckImageSize(width, height, pixelSize);
  // Each two bytes of run data give at most 63 samples: refuse before allocating an
  // image that the rest of the file cannot fill.
  const int64_t samples = int64_t(bytesPerLine) * height * planes;
  if (available >= 0 && (available - kHeaderSize) * 63 / 2 + 63 < samples) throw EInOutError("Read less than expected");

  TLinearBitmap result(bytesPerLine, height, planes == 1 ? pf8bit : pf24bit);
  TRunDecoder runs(in);
  if (planes == 1) {
    for (int y = 0; y < height; ++y) {
      runs.Fill(result.ScanLine(y), static_cast<size_t>(bytesPerLine));
      ReportRowProgress(y, height);
    }
  } else {
    std::vector<uint8_t> line(static_cast<size_t>(bytesPerLine) * 3);
    for (int y = 0; y < height; ++y) {
      runs.Fill(line.data(), line.size());
      uint8_t* d = result.ScanLine(y);
      const uint8_t* red = line.data();
      const uint8_t* green = red + bytesPerLine;
      const uint8_t* blue = green + bytesPerLine;
      for (int x = 0; x < bytesPerLine; ++x, d += 3) {
        d[0] = blue[x];
        d[1] = green[x];
        d[2] = red[x];
      }
      ReportRowProgress(y, height);
    }
  }
  if (runs.Overflow()) throw ELinearBitmap("Error in bitmap data");
  result.ResizeCanvas(width, height, 0, 0, 0);

  if (planes == 1) {
    // A file without a palette section shows its indices as grey levels.
    std::memcpy(result.Palette, GrayPalette(), 768);
    for (int c = in.GetByte(); c >= 0; c = in.GetByte()) {
      if (c != kPaletteMark) continue;
      uint8_t rgb[768];
      if (in.Read(rgb, sizeof rgb) == sizeof rgb) {
        for (int i = 0; i < 256; ++i) {
          result.Palette[3 * i] = rgb[3 * i + 2];
          result.Palette[3 * i + 1] = rgb[3 * i + 1];
          result.Palette[3 * i + 2] = rgb[3 * i];
        }
      }
      break;
    }
  }
  bitmap.TakeOver(result);
}

void TPCXLoader::SaveToStream(TBaseStream& stream, const std::string&, const TLinearBitmap& bitmap) {
  if (!bitmap.Present) throw ELinearBitmap("Invalid bitmap size");
  if (bitmap.Width > 0x7FFF || bitmap.Height > 0x7FFF) throw ELinearBitmap("Invalid bitmap size");
  const TLinearBitmap* source = &bitmap;
  TLinearBitmap converted;
  if (bitmap.PixelFormat == pf16bit || bitmap.PixelFormat == pf32bit) {
    converted.Assign(bitmap);
    converted.SetPixelFormat(bitmap.PixelFormat == pf16bit ? pf8bit : pf24bit);
    source = &converted;
  }
  const int planes = source->PixelFormat == pf8bit ? 1 : 3;
  const int width = source->Width, height = source->Height;

  uint8_t header[kHeaderSize] = {};
  header[0] = 10;
  header[1] = 5;
  header[2] = 1;
  header[3] = 8;
  Put16(header + 8, width - 1);
  Put16(header + 10, height - 1);
  Put16(header + 12, 96);
  Put16(header + 14, 96);
  header[65] = static_cast<uint8_t>(planes);
  Put16(header + 66, width);

  TBufferedStream out(stream);
  out.Write(header, kHeaderSize);
  std::vector<uint8_t> encoded;
  for (int y = 0; y < height; ++y) {
    encoded.clear();
    const uint8_t* row = source->ScanLine(y);
    if (planes == 1) {
      EncodePCXLine(row, width, 1, encoded);
    } else {
      EncodePCXLine(row + 2, width, 3, encoded);
      EncodePCXLine(row + 1, width, 3, encoded);
      EncodePCXLine(row, width, 3, encoded);
    }
    out.Write(encoded.data(), encoded.size());
    ReportRowProgress(y, height);
  }
  if (planes == 1) {
    uint8_t palette[769];
    palette[0] = kPaletteMark;
    for (int i = 0; i < 256; ++i) {
      palette[1 + 3 * i] = source->Palette[3 * i + 2];
      palette[2 + 3 * i] = source->Palette[3 * i + 1];
      palette[3 + 3 * i] = source->Palette[3 * i];
    }
    out.Write(palette, sizeof palette);
  }
  out.Flush();
}

TPCXLoader& PCXLoader() {
  static TPCXLoader loader;
  return loader;
}

}  // namespace sq
