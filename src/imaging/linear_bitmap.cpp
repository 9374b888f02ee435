#include "imaging/linear_bitmap.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "base/exception.h"
#include "base/large_pages.h"
#include "base/rounding.h"

namespace sq {

namespace {

int PixelSizeOf(TPixelFormat format) {
  switch (format) {
    case pf8bit:
      return 1;
    case pf16bit:
      return 2;
    case pf24bit:
      return 3;
    case pf32bit:
      return 4;
    default:
      return 0;
  }
}

const std::array<uint8_t, 768>& GrayTable() {
  static const std::array<uint8_t, 768> table = [] {
    std::array<uint8_t, 768> t{};
    for (int i = 0; i < 256; ++i) t[3 * i] = t[3 * i + 1] = t[3 * i + 2] = static_cast<uint8_t>(i);
    return t;
  }();
  return table;
}

}  // namespace

const char* PixelFormatName(TPixelFormat format) {
  switch (format) {
    case pf1bit:
      return "pf1bit";
    case pf4bit:
      return "pf4bit";
    case pf8bit:
      return "pf8bit";
    case pf16bit:
      return "pf16bit";
    case pf24bit:
      return "pf24bit";
    case pf32bit:
      return "pf32bit";
    default:
      return "pfCustom";
  }
}

const uint8_t* GrayPalette() { return GrayTable().data(); }

void MakeLinearPalette(uint8_t* palette, int count) {
  for (int i = 0; i < count; ++i) {
    const auto level = static_cast<uint8_t>(i * 255 / (count - 1));
    palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = level;
  }
}

std::string ExtractFileExtNoDot(const std::string& fileName) {
  // "/" counts too: on this platform it is the folder separator.
  const size_t last = fileName.find_last_of(".\\:/");
  if (last == std::string::npos || fileName[last] != '.') return "";
  return fileName.substr(last + 1);
}

namespace {
std::atomic<int64_t> gMaxImagePixels{kDefaultMaxImagePixels};
}

void SetMaxImagePixels(int64_t pixels) { gMaxImagePixels = pixels >= 1 ? pixels : kDefaultMaxImagePixels; }

int64_t MaxImagePixels() { return gMaxImagePixels; }

EImageTooLarge::EImageTooLarge(int64_t width, int64_t height)
    : ELinearBitmap("image too large (" + std::to_string(width) + " \u00D7 " + std::to_string(height) + " pixels)"),
      Width(width),
      Height(height) {}

void CheckImageBytes(int64_t width, int64_t height, int pixelSize) {
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
      width * pixelSize > kMaxImageBytes / height)
    throw ELinearBitmap("Error in bitmap data");
}

void CheckImageSize(int64_t width, int64_t height, int pixelSize) {
  if (width >= 1 && height >= 1 && width > MaxImagePixels() / height) throw EImageTooLarge(width, height);
  CheckImageBytes(width, height, pixelSize);
}

void TLinearBitmap::AllocateMap(int64_t bytes) {
  // The spare byte behind the last pixel lets 24-bit loops write whole words.
  mapBlock_ = AllocateLarge<uint8_t>(static_cast<size_t>(bytes) + 1);
  Map = mapBlock_.get();
}

void TLinearBitmap::New(int width, int height, TPixelFormat format) {
  if (Present && width == Width && height == Height && format == PixelFormat) return;
  const int pixelSize = PixelSizeOf(format);
  if (pixelSize == 0) throw ELinearBitmap("Unsupported pixel format");
  if (width < 1 || height < 1) throw ELinearBitmap("Invalid bitmap size");
  const int64_t bytesPerLine = int64_t(width) * pixelSize;
  if (bytesPerLine > 0x7FFFFFFF) throw ELinearBitmap("Invalid bitmap size");
  mapBlock_.reset();
  Map = nullptr;
  Present = false;
  AllocateMap(bytesPerLine * height);
  Width = width;
  Height = height;
  PixelFormat = format;
  PixelSize = pixelSize;
  if (format == pf8bit) {
    if (!paletteBlock_) paletteBlock_.reset(new uint8_t[768]);
  } else {
    paletteBlock_.reset();
  }
  Palette = paletteBlock_.get();
  BytesPerLine = static_cast<int>(bytesPerLine);
  Size = bytesPerLine * height;
  Present = true;
}

void TLinearBitmap::Dispose() {
  mapBlock_.reset();
  paletteBlock_.reset();
  Map = Palette = nullptr;
  Present = false;
  Width = Height = PixelSize = 0;
  Size = 0;
  PixelFormat = pfCustom;
}

void TLinearBitmap::TakeOver(TLinearBitmap& other) {
  if (&other == this) return;
  Dispose();
  Width = other.Width;
  Height = other.Height;
  PixelFormat = other.PixelFormat;
  BytesPerLine = other.BytesPerLine;
  PixelSize = other.PixelSize;
  Size = other.Size;
  Present = other.Present;
  mapBlock_ = std::move(other.mapBlock_);
  paletteBlock_ = std::move(other.paletteBlock_);
  Map = other.Map;
  Palette = other.Palette;
  other.Map = other.Palette = nullptr;
  other.Present = false;
}

void TLinearBitmap::Pack() {
  if (!Present || BytesPerLine == Width * PixelSize) return;
  const int packed = Width * PixelSize;
  TLargeBlock<uint8_t> block = AllocateLarge<uint8_t>(static_cast<size_t>(packed) * Height + 1);
  for (int y = 0; y < Height; ++y) std::memcpy(block.get() + static_cast<size_t>(y) * packed, ScanLine(y), packed);
  mapBlock_ = std::move(block);
  Map = mapBlock_.get();
  BytesPerLine = packed;
  Size = int64_t(packed) * Height;
}

void TLinearBitmap::Clear(uint8_t value) {
  if (Present) std::memset(Map, value, static_cast<size_t>(Size));
}

void TLinearBitmap::ClearColor(uint32_t color) {
  if (!Present) return;
  if (color == 0) {
    Clear(0);
    return;
  }
  const uint8_t r = color & 0xFF, g = (color >> 8) & 0xFF, b = (color >> 16) & 0xFF;
  if (PixelFormat == pf24bit) {
    for (int y = 0; y < Height; ++y) {
      uint8_t* p = ScanLine(y);
      for (int x = 0; x < Width; ++x, p += 3) {
        p[0] = b;
        p[1] = g;
        p[2] = r;
      }
    }
  } else {
    Clear(static_cast<uint8_t>((2 * r + 3 * g + b) / 6));
  }
}

bool TLinearBitmap::IsGrayScale() const {
  if (!Present) return false;
  switch (PixelFormat) {
    case pf8bit:
      return std::memcmp(Palette, GrayPalette(), 768) == 0;
    case pf16bit:
      return true;
    case pf24bit:
      for (int y = 0; y < Height; ++y) {
        const uint8_t* p = ScanLine(y);
        for (int x = 0; x < Width; ++x, p += 3)
          if (p[0] != p[1] || p[1] != p[2]) return false;
      }
      return true;
    default:
      return false;
  }
}

void TLinearBitmap::SetPixelFormat(TPixelFormat target) {
  if (!Present || target == PixelFormat) return;
  if (target != pf8bit && target != pf24bit && target != pf32bit) throw ELinearBitmap("Unsupported pixel format");

  if (target == pf8bit) {
    if (PixelFormat == pf32bit) SetPixelFormat(pf24bit);
    TLinearBitmap result(Width, Height, pf8bit);
    if (PixelFormat == pf24bit) {
      for (int y = 0; y < Height; ++y) {
        const uint8_t* s = ScanLine(y);
        uint8_t* d = result.ScanLine(y);
        for (int x = 0; x < Width; ++x, s += 3)
          d[x] = static_cast<uint8_t>((s[2] & 0xE0) | ((s[1] >> 5) << 2) | (s[0] >> 6));
      }
      for (int i = 0; i < 256; ++i) {
        result.Palette[3 * i + 2] = static_cast<uint8_t>(RoundInt((i >> 5) * 255.0 / 7.0));
        result.Palette[3 * i + 1] = static_cast<uint8_t>(RoundInt(((i >> 2) & 7) * 255.0 / 7.0));
        result.Palette[3 * i + 0] = static_cast<uint8_t>((i & 3) * 85);
      }
    } else {  // pf16bit: the high byte of each little-endian sample
      for (int y = 0; y < Height; ++y) {
        const uint8_t* s = ScanLine(y);
        uint8_t* d = result.ScanLine(y);
        for (int x = 0; x < Width; ++x) d[x] = s[2 * x + 1];
      }
      std::memcpy(result.Palette, GrayPalette(), 768);
    }
    TakeOver(result);
    return;
  }

  if (target == pf24bit) {
    TLinearBitmap result(Width, Height, pf24bit);
    for (int y = 0; y < Height; ++y) {
      const uint8_t* s = ScanLine(y);
      uint8_t* d = result.ScanLine(y);
      switch (PixelFormat) {
        case pf8bit:
          for (int x = 0; x < Width; ++x, d += 3) std::memcpy(d, Palette + 3 * s[x], 3);
          break;
        case pf16bit:
          for (int x = 0; x < Width; ++x, d += 3) d[0] = d[1] = d[2] = s[2 * x + 1];
          break;
        default:  // pf32bit
          for (int x = 0; x < Width; ++x, d += 3, s += 4) std::memcpy(d, s, 3);
          break;
      }
    }
    TakeOver(result);
    return;
  }

  // pf32bit
  if (PixelFormat == pf8bit || PixelFormat == pf16bit) SetPixelFormat(pf24bit);
  TLinearBitmap result(Width, Height, pf32bit);
  for (int y = 0; y < Height; ++y) {
    const uint8_t* s = ScanLine(y);
    uint8_t* d = result.ScanLine(y);
    for (int x = 0; x < Width; ++x, s += 3, d += 4) {
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = 0;
    }
  }
  TakeOver(result);
}

void TLinearBitmap::Assign(const TAssignObject& source) {
  if (auto* bitmap = dynamic_cast<const TLinearBitmap*>(&source)) {
    Assign(*bitmap);
    return;
  }
  TAssignObject::Assign(source);
}

void TLinearBitmap::Assign(const TLinearBitmap& source) {
  if (&source == this) return;
  if (!source.Present) {
    Dispose();
    return;
  }
  New(source.Width, source.Height, source.PixelFormat);
  if (BytesPerLine == source.BytesPerLine) {
    std::memcpy(Map, source.Map, static_cast<size_t>(Size));
  } else {
    for (int y = 0; y < Height; ++y) std::memcpy(ScanLine(y), source.ScanLine(y), BytesPerLine);
  }
  if (PixelFormat == pf8bit) std::memcpy(Palette, source.Palette, 768);
}

void TLinearBitmap::PasteImage(const TLinearBitmap& source, int x, int y) {
  if (!Present || !source.Present) return;
  if (source.PixelFormat != PixelFormat) throw ELinearBitmap("Unsupported pixel format");
  const int x0 = std::max(0, x), y0 = std::max(0, y);
  const int x1 = std::min(Width, x + source.Width), y1 = std::min(Height, y + source.Height);
  if (x0 >= x1 || y0 >= y1) return;
  for (int row = y0; row < y1; ++row)
    std::memcpy(PixelAddress(x0, row), source.PixelAddress(x0 - x, row - y), static_cast<size_t>(x1 - x0) * PixelSize);
}

void TLinearBitmap::ResizeCanvas(int width, int height, uint32_t fillColor, int offsetY, int offsetX) {
  if (width < 1 || height < 1) {
    Dispose();
    return;
  }
  if (!Present) {
    New(width, height, pf8bit);
    std::memcpy(Palette, GrayPalette(), 768);
    ClearColor(fillColor);
    return;
  }
  if (width == Width && height == Height && offsetX == 0 && offsetY == 0) return;

  TLinearBitmap old;
  old.TakeOver(*this);
  New(width, height, old.PixelFormat);
  if (PixelFormat == pf8bit) std::memcpy(Palette, old.Palette, 768);
  ClearColor(fillColor);
  const int64_t sourceStart = int64_t(std::max(0, -offsetX)) * PixelSize;
  const int64_t targetStart = int64_t(std::max(0, offsetX)) * PixelSize;
  int64_t length = int64_t(old.Width) * PixelSize - sourceStart;
  length = std::min(length, int64_t(BytesPerLine) - targetStart);
  if (length <= 0) return;
  const int firstRow = std::max(0, -offsetY);
  const int lastRow = static_cast<int>(std::min<int64_t>(old.Height - 1, int64_t(height) - offsetY - 1));
  for (int row = firstRow; row <= lastRow; ++row)
    std::memcpy(ScanLine(row + offsetY) + targetStart, old.ScanLine(row) + sourceStart, static_cast<size_t>(length));
}

void TLinearBitmap::MergePlanes(const uint8_t* planes, int count) {
  if (!Present || PixelFormat != pf24bit) return;
  const size_t pixels = static_cast<size_t>(Width) * Height;
  std::vector<uint8_t> copy;
  if (planes == nullptr || planes == Map) {
    copy.assign(Map, Map + pixels * 3);
    planes = copy.data();
  }
  const int channels = std::min(count, 3);
  for (int c = 0; c < channels; ++c) {
    const uint8_t* plane = planes + pixels * c;
    for (int y = 0; y < Height; ++y) {
      uint8_t* d = ScanLine(y) + c;
      const uint8_t* s = plane + static_cast<size_t>(y) * Width;
      for (int x = 0; x < Width; ++x, d += 3) *d = s[x];
    }
  }
}

}  // namespace sq
