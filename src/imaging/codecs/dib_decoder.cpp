#include "imaging/codecs/dib_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "imaging/linear_bitmap.h"
#include "io/base_stream.h"

namespace sq {

namespace {

constexpr uint32_t kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kAlphaBitFields = 6;

[[noreturn]] void BadData() { throw ELinearBitmap("Error in bitmap data"); }

uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// Reads from the stream while counting, so offsets and the byte budget can be checked.
class TDIBReader {
 public:
  TDIBReader(TBaseStream& stream, int64_t available) : stream_(stream), available_(available) {}

  // Whether count more bytes can still be there.
  bool Fits(int64_t count) const { return count >= 0 && (available_ < 0 || count <= available_ - consumed_); }
  void Need(int64_t count) const {
    if (!Fits(count)) BadData();
  }
  void Read(void* buffer, size_t count) {
    Need(static_cast<int64_t>(count));
    stream_.ReadBuffer(buffer, count);
    consumed_ += static_cast<int64_t>(count);
  }
  uint8_t Byte() {
    uint8_t value;
    Read(&value, 1);
    return value;
  }
  void Skip(int64_t count) {
    Need(count);
    if (CopyStream(stream_, nullptr, count) != count) throw EInOutError("Read less than expected");
    consumed_ += count;
  }
  int64_t Consumed() const { return consumed_; }

 private:
  TBaseStream& stream_;
  int64_t available_;
  int64_t consumed_ = 0;
};

// One colour channel of a bit-field pixel, scaled to 0..255 with rounding.
class TChannel {
 public:
  explicit TChannel(uint32_t mask) {
    if (mask == 0) return;
    shift_ = std::countr_zero(mask);
    const uint32_t field = mask >> shift_;
    mask_ = field;
    bits_ = 32 - std::countl_zero(field);
    if (bits_ <= 16) {
      table_.resize(size_t(1) << bits_);
      const uint64_t top = (uint64_t(1) << bits_) - 1;
      for (uint64_t v = 0; v <= top; ++v) table_[v] = static_cast<uint8_t>((v * 255 + top / 2) / top);
    }
  }
  uint8_t operator()(uint32_t pixel) const {
    if (bits_ == 0) return 0;
    const uint32_t v = (pixel >> shift_) & mask_;
    return bits_ <= 16 ? table_[v] : static_cast<uint8_t>(v >> (bits_ - 8));
  }

 private:
  int shift_ = 0, bits_ = 0;
  uint32_t mask_ = 0;
  std::vector<uint8_t> table_;
};

struct THeader {
  int64_t Width = 0, Height = 0;
  bool TopDown = false;
  int BitCount = 0;
  uint32_t Compression = kRGB;
  int64_t ColorsUsed = 0;
  int EntrySize = 4;       // bytes per colour-table entry
  uint32_t Masks[3] = {};  // red, green, blue
  bool HasMasks = false;   // masks came with the header
  int64_t HeaderSize = 0;
};

THeader ReadHeader(TDIBReader& in) {
  THeader h;
  uint8_t sizeBytes[4];
  in.Read(sizeBytes, 4);
  h.HeaderSize = Get32(sizeBytes);
  if (h.HeaderSize == 12) {
    uint8_t core[8];
    in.Read(core, 8);
    h.Width = Get16(core);
    h.Height = Get16(core + 2);
    h.BitCount = Get16(core + 6);
    h.EntrySize = 3;
    return h;
  }
  // 16..64 bytes: the 40-byte header and its shorter and longer relatives.
  if (h.HeaderSize < 16 || (h.HeaderSize > 64 && h.HeaderSize != 108 && h.HeaderSize != 124)) BadData();
  std::array<uint8_t, 124> raw{};
  in.Read(raw.data() + 4, static_cast<size_t>(h.HeaderSize - 4));
  const auto width = static_cast<int32_t>(Get32(&raw[4]));
  const auto height = static_cast<int32_t>(Get32(&raw[8]));
  h.Width = width;
  h.TopDown = height < 0;
  h.Height = height < 0 ? -int64_t(height) : int64_t(height);
  h.BitCount = Get16(&raw[14]);
  h.Compression = Get32(&raw[16]);
  h.ColorsUsed = Get32(&raw[32]);
  // The shorter and 64-byte headers number their compressions differently; they share
  // only "none" and the two RLE codes.
  const bool os2 = h.HeaderSize < 40 || h.HeaderSize == 64;
  if (os2 && h.Compression > kRLE4) throw ELinearBitmap("Unsupported file format");
  if (h.HeaderSize >= 52) {
    for (int c = 0; c < 3; ++c) h.Masks[c] = Get32(&raw[40 + 4 * c]);
    h.HasMasks = !os2;
  }
  return h;
}

void Validate(const THeader& h) {
  switch (h.BitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      throw ELinearBitmap("Unsupported pixel format");
  }
  switch (h.Compression) {
    case kRGB:
      break;
    case kRLE8:
      if (h.BitCount != 8) BadData();
      break;
    case kRLE4:
      if (h.BitCount != 4) BadData();
      break;
    case kBitFields:
    case kAlphaBitFields:
      if (h.BitCount != 16 && h.BitCount != 32) BadData();
      break;
    default:
      throw ELinearBitmap("Unsupported file format");
  }
  if (h.Width < 1 || h.Height < 1) BadData();
  if (h.TopDown && h.Height > 0x7FFFFFFF) BadData();
  if (h.BitCount <= 8 && h.ColorsUsed > 256) BadData();
}

// Rows stored in file order; row r lands on image row Target(r).
struct TRowOrder {
  int Height;
  bool TopDown;
  int Target(int64_t r) const { return TopDown ? static_cast<int>(r) : Height - 1 - static_cast<int>(r); }
};

void DecodeRow(const THeader& h, const uint8_t* s, uint8_t* d, const TChannel* channels) {
  const int64_t w = h.Width;
  switch (h.BitCount) {
    case 1:
      for (int64_t x = 0; x < w; ++x) d[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
      break;
    case 4:
      for (int64_t x = 0; x < w; ++x) d[x] = (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
      break;
    case 8:
    case 24:
      std::memcpy(d, s, static_cast<size_t>(w * (h.BitCount / 8)));
      break;
    case 16:
      for (int64_t x = 0; x < w; ++x, d += 3) {
        const uint32_t v = Get16(s + 2 * x);
        d[0] = channels[2](v);
        d[1] = channels[1](v);
        d[2] = channels[0](v);
      }
      break;
    default:            // 32
      if (!channels) {  // the plain blue, green, red, unused layout
        for (int64_t x = 0; x < w; ++x, d += 3, s += 4) std::memcpy(d, s, 3);
        break;
      }
      for (int64_t x = 0; x < w; ++x, d += 3) {
        const uint32_t v = Get32(s + 4 * x);
        d[0] = channels[2](v);
        d[1] = channels[1](v);
        d[2] = channels[0](v);
      }
      break;
  }
}

void ReadUncompressed(TDIBReader& in, const THeader& h, const TChannel* channels, TLinearBitmap& bitmap) {
  const int64_t rowBytes = (h.Width * h.BitCount + 7) / 8;
  const int64_t stride = (h.Width * h.BitCount + 31) / 32 * 4;
  const TRowOrder order{bitmap.Height, h.TopDown};
  std::vector<uint8_t> row(static_cast<size_t>(stride));
  for (int64_t r = 0; r < h.Height; ++r) {
    in.Read(row.data(), static_cast<size_t>(rowBytes));
    // The last row's padding is often left out by writers; nothing needs it.
    if (r + 1 < h.Height) in.Skip(stride - rowBytes);
    DecodeRow(h, row.data(), bitmap.ScanLine(order.Target(r)), channels);
    ReportRowProgress(static_cast<int>(r), static_cast<int>(h.Height));
  }
}

// Walks RLE data: read(buffer, n) supplies the bytes, put(x, y, value) receives
// each pixel inside the image (row y in file order).  Runs that pass the end of a
// row are cut there; a jump out of the image is an error.  Returns how many pixels
// the data set.
template <typename Read, typename Put>
int64_t WalkRLE(const THeader& h, Read read, Put put) {
  const bool four = h.Compression == kRLE4;
  const int64_t width = h.Width, height = h.Height;
  int64_t x = 0, y = 0, painted = 0;
  auto emit = [&](uint8_t value) {
    if (x < width) {
      put(x, y, value);
      ++painted;
    }
    ++x;
  };
  while (y < height) {
    uint8_t pair[2];
    read(pair, 2);
    const uint8_t count = pair[0], code = pair[1];
    if (count > 0) {
      for (int i = 0; i < count && x < width; ++i) emit(four ? ((i & 1) ? (code & 0x0F) : (code >> 4)) : code);
      continue;
    }
    if (code == 0) {  // end of line
      x = 0;
      ++y;
    } else if (code == 1) {  // end of bitmap
      break;
    } else if (code == 2) {  // jump
      uint8_t delta[2];
      read(delta, 2);
      x += delta[0];
      y += delta[1];
      if (x > width || y > height) BadData();
    } else {  // absolute run of code pixels, padded to a 2-byte boundary
      const int bytes = four ? (code + 1) / 2 : code;
      uint8_t data[256];
      read(data, static_cast<size_t>(bytes + (bytes & 1)));
      for (int i = 0; i < code && x < width; ++i)
        emit(four ? ((i & 1) ? (data[i / 2] & 0x0F) : (data[i / 2] >> 4)) : data[i]);
    }
  }
  return painted;
}

// The data is walked once to check it before the canvas exists, so RLE that ends
// at once or jumps out of the image costs no allocation of the image's size; the
// second walk replays the bytes kept from the first.
std::vector<uint8_t> CheckRLE(TDIBReader& in, const THeader& h) {
  std::vector<uint8_t> data;
  const int64_t painted = WalkRLE(
      h,
      [&](uint8_t* buffer, size_t count) {
        in.Read(buffer, count);
        data.insert(data.end(), buffer, buffer + count);
      },
      [](int64_t, int64_t, uint8_t) {});
  if (painted == 0) throw ELinearBitmap("Error in bitmap data: the RLE data holds no pixels");
  return data;
}

void PaintRLE(const std::vector<uint8_t>& data, const THeader& h, TLinearBitmap& bitmap) {
  const TRowOrder order{bitmap.Height, h.TopDown};
  bitmap.Clear(0);
  size_t at = 0;
  int lastRow = -1;
  WalkRLE(
      h,
      [&](uint8_t* buffer, size_t count) {
        std::memcpy(buffer, data.data() + at, count);
        at += count;
      },
      [&](int64_t x, int64_t y, uint8_t value) {
        bitmap.ScanLine(order.Target(y))[x] = value;
        if (y != lastRow) ReportRowProgress(lastRow = static_cast<int>(y), static_cast<int>(h.Height));
      });
  ReportProgress(100);
}

}  // namespace

TDIBInfo ReadDIB(TBaseStream& stream, int64_t pixelOffset, int64_t available, TLinearBitmap& bitmap,
                 bool expandBelow8) {
  TDIBReader in(stream, available);
  THeader h = ReadHeader(in);
  Validate(h);
  const bool indexed = h.BitCount <= 8;

  // Masks of a bit-field image with a short header follow it.  Some writers leave
  // them out; a file whose pixels start right behind the header then has the
  // usual layout.
  if ((h.Compression == kBitFields || h.Compression == kAlphaBitFields) && !h.HasMasks && pixelOffset == in.Consumed())
    h.Compression = kRGB;
  if ((h.Compression == kBitFields || h.Compression == kAlphaBitFields) && !h.HasMasks) {
    uint8_t masks[16];
    const size_t count = h.Compression == kAlphaBitFields ? 16 : 12;
    in.Read(masks, count);
    for (int c = 0; c < 3; ++c) h.Masks[c] = Get32(masks + 4 * c);
    h.HasMasks = true;
  }

  // The colour table: for indexed images the palette; for others an optional hint,
  // skipped.  A file's pixel offset may leave room for fewer entries than the header
  // promises; the entries that fit are the palette.
  int64_t entries = h.ColorsUsed;
  if (indexed && entries == 0) entries = int64_t(1) << h.BitCount;
  if (indexed && pixelOffset >= in.Consumed()) entries = std::min(entries, (pixelOffset - in.Consumed()) / h.EntrySize);
  in.Need(entries * h.EntrySize);
  std::array<uint8_t, 768> palette{};
  if (indexed) {
    std::vector<uint8_t> table(static_cast<size_t>(entries * h.EntrySize));
    in.Read(table.data(), table.size());
    for (int64_t i = 0; i < entries; ++i) std::memcpy(&palette[3 * i], &table[i * h.EntrySize], 3);
  } else {
    in.Skip(entries * h.EntrySize);
  }
  // A pixel offset that points into the header or the table is wrong; the pixels
  // then follow the table as in a packed DIB.
  if (pixelOffset > in.Consumed()) in.Skip(pixelOffset - in.Consumed());

  // Check what the data can hold before allocating.
  const bool expand = expandBelow8 && h.BitCount < 8;
  CheckImageSize(h.Width, h.Height, indexed && !expand ? 1 : 3);
  if (h.Compression != kRLE8 && h.Compression != kRLE4) {
    const int64_t stride = (h.Width * h.BitCount + 31) / 32 * 4;
    in.Need(stride * (h.Height - 1) + (h.Width * h.BitCount + 7) / 8);
  }

  std::vector<uint8_t> rle;
  if (h.Compression == kRLE8 || h.Compression == kRLE4) rle = CheckRLE(in, h);

  bitmap.New(static_cast<int>(h.Width), static_cast<int>(h.Height), indexed ? pf8bit : pf24bit);
  if (indexed) std::memcpy(bitmap.Palette, palette.data(), 768);

  std::vector<TChannel> channels;
  if (h.BitCount == 16 || h.BitCount == 32) {
    const bool plain = h.Compression == kRGB;
    if (plain && h.BitCount == 16) {
      h.Masks[0] = 0x7C00, h.Masks[1] = 0x03E0, h.Masks[2] = 0x001F;
    }
    const bool plain32 =
        h.BitCount == 32 && (plain || (h.Masks[0] == 0xFF0000 && h.Masks[1] == 0xFF00 && h.Masks[2] == 0xFF));
    if (!plain32)
      for (int c = 0; c < 3; ++c) channels.emplace_back(h.Masks[c]);
  }

  if (h.Compression == kRLE8 || h.Compression == kRLE4)
    PaintRLE(rle, h, bitmap);
  else
    ReadUncompressed(in, h, channels.empty() ? nullptr : channels.data(), bitmap);
  if (expand) bitmap.SetPixelFormat(pf24bit);
  return {h.BitCount, h.Compression};
}

}  // namespace sq
