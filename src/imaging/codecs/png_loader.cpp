// PNG reading and writing.
//
// Format notes: an 8-byte signature, then chunks of a 32-bit big-endian length, a
// four-letter type, the data and a CRC-32 of type and data.  IHDR comes first;
// the image data is one zlib stream (2-byte header, deflate data, big-endian
// Adler-32 of the uncompressed bytes) split over consecutive IDAT chunks; IEND
// ends the file.  Each row of the image (of each Adam7 pass) is a filter byte and
// the filtered samples, most significant bits first when samples are packed.
#include "imaging/codecs/png_loader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "base/rounding.h"
#include "compress/adler32.h"
#include "compress/crc32_stream.h"
#include "compress/deflate_stream.h"
#include "imaging/codecs/idat_stream.h"
#include "imaging/codecs/png_filter.h"
#include "io/memory_stream.h"

namespace sq {

namespace {

constexpr uint8_t kSignature[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

// Adam7: where each pass starts and how far it steps.
constexpr int kPassX0[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr int kPassY0[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr int kPassDX[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr int kPassDY[7] = {8, 8, 8, 4, 4, 2, 2};

[[noreturn]] void ThrowInvalid() { throw EBadFormat("Invalid PNG data"); }

bool TypeIs(const char* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

int Channels(int colorType) {
  switch (colorType) {
    case 2:
      return 3;
    case 4:
      return 2;
    case 6:
      return 4;
    default:
      return 1;
  }
}

bool ValidDepth(int colorType, int depth) {
  switch (colorType) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

uint32_t PassSize(uint32_t size, int start, int step) {
  return size > static_cast<uint32_t>(start) ? (size - start + step - 1) / step : 0;
}

size_t RowBytes(uint32_t width, int channels, int depth) {
  return static_cast<size_t>((uint64_t(width) * channels * depth + 7) / 8);
}

// ---------------------------------------------------------------- reading

class TPNGReader {
 public:
  TPNGReader(TPNGLoader& loader, TBaseStream& stream) : loader_(loader), chunks_(stream) {
    if (auto* seekable = dynamic_cast<TSeekableStream*>(&stream)) available_ = seekable->Available();
  }
  void Run(TLinearBitmap& bitmap);

 private:
  void ReadChunkHeader();
  std::vector<uint8_t> ReadChunkData(size_t keep);
  void SkipChunk();
  void ReadHeader();
  void ReadPalette();
  void ReadTransparency();
  void ReadGamma();
  void ReadImage();
  void ReadPass(TBaseStream& inflate, TAdler32& adler, int pass);
  void StoreRow(const uint8_t* src, uint32_t count, uint32_t x0, uint32_t dx, uint32_t y);

  TPNGLoader& loader_;
  TCRC32Stream chunks_;
  uint32_t length_ = 0;
  char type_[4] = {};
  uint32_t width_ = 0, height_ = 0;
  int depth_ = 0, colorType_ = 0, interlace_ = 0, channels_ = 1;
  TLinearBitmap image_;
  std::unique_ptr<TLinearBitmap> alpha_;
  int64_t available_ = -1;  // bytes the file still holds, when known
  bool imageDone_ = false;
  int rowsDone_ = 0, rowsTotal_ = 0;
  std::vector<uint8_t> rowBuffers_;
};

void TPNGReader::Run(TLinearBitmap& bitmap) {
  uint8_t signature[8];
  size_t got = 0;
  while (got < 8) {
    const size_t n = chunks_.Read(signature + got, 8 - got);
    if (n == 0) break;
    got += n;
  }
  if (got < 8 || std::memcmp(signature, kSignature, 8) != 0) throw EBadFormat("Invalid PNG header");

  ReadChunkHeader();
  if (!TypeIs(type_, "IHDR") || length_ != 13) ThrowInvalid();
  ReadHeader();

  bool headerRead = false;  // the image data reader stops on the next chunk's header
  for (;;) {
    if (!headerRead) ReadChunkHeader();
    headerRead = false;
    if (TypeIs(type_, "IEND")) {
      ReadChunkData(0);
      break;
    }
    if (TypeIs(type_, "IDAT")) {
      if (imageDone_) {
        SkipChunk();  // a stray second sequence; the image is complete
      } else {
        ReadImage();
        headerRead = true;
      }
    } else if (TypeIs(type_, "PLTE")) {
      ReadPalette();
    } else if (TypeIs(type_, "tRNS")) {
      ReadTransparency();
    } else if (TypeIs(type_, "gAMA")) {
      ReadGamma();
    } else if (type_[0] & 0x20) {
      SkipChunk();
    } else {
      throw EBadFormat("Unsupported PNG data");
    }
  }
  if (!imageDone_) ThrowInvalid();
  bitmap.TakeOver(image_);
  loader_.AlphaChannel = std::move(alpha_);
}

void TPNGReader::ReadChunkHeader() {
  uint8_t field[4];
  chunks_.Next().ReadBuffer(field, 4);
  length_ = ReadBigEndian32(field);
  if (length_ > kMaxPNGChunkLength) ThrowInvalid();
  chunks_.ResetCRC();
  chunks_.ReadBuffer(type_, 4);
}

// Reads the chunk's data through the CRC, keeps its first bytes and checks the CRC.
std::vector<uint8_t> TPNGReader::ReadChunkData(size_t keep) {
  std::vector<uint8_t> data(std::min<size_t>(length_, keep));
  chunks_.ReadBuffer(data.data(), data.size());
  const int64_t rest = int64_t(length_) - static_cast<int64_t>(data.size());
  if (CopyStream(chunks_, nullptr, rest) != rest) throw EInOutError("Read less than expected");
  const uint32_t computed = chunks_.CRC();
  uint8_t field[4];
  chunks_.Next().ReadBuffer(field, 4);
  if (ReadBigEndian32(field) != computed) throw EBadFormat("CRC error");
  return data;
}

void TPNGReader::SkipChunk() {
  const int64_t count = int64_t(length_) + 4;
  if (CopyStream(chunks_.Next(), nullptr, count) != count) throw EInOutError("Read less than expected");
}

void TPNGReader::ReadHeader() {
  const std::vector<uint8_t> d = ReadChunkData(13);
  width_ = ReadBigEndian32(&d[0]);
  height_ = ReadBigEndian32(&d[4]);
  depth_ = d[8];
  colorType_ = d[9];
  if (!ValidDepth(colorType_, depth_) || d[10] != 0 || d[11] != 0) ThrowInvalid();
  if (d[12] > 1) throw EBadFormat("Unsupported interlacing method");
  interlace_ = d[12];
  channels_ = Channels(colorType_);
  if (width_ == 0 || height_ == 0 || width_ > kMaxPNGChunkLength || height_ > kMaxPNGChunkLength) ThrowInvalid();

  const bool grey16 = depth_ == 16 && (colorType_ == 0 || colorType_ == 4);
  const TPixelFormat format = (colorType_ == 2 || colorType_ == 6) ? pf24bit : grey16 ? pf16bit : pf8bit;
  CheckImageSize(width_, height_, format == pf24bit ? 3 : format == pf16bit ? 2 : 1);
  CheckImageBytes(static_cast<int64_t>(RowBytes(width_, channels_, depth_)) + 1, 2, 1);
  // Deflate turns one byte into at most 1032, so the rest of the file bounds the
  // rows before the image is allocated.
  const int64_t rawBytes = (static_cast<int64_t>(RowBytes(width_, channels_, depth_)) + 1) * height_;
  if (available_ >= 0 && rawBytes / 1032 > available_) throw EInOutError("Read less than expected");
  image_.New(static_cast<int>(width_), static_cast<int>(height_), format);
  if (format == pf8bit) {
    std::memset(image_.Palette, 0, 768);
    if (colorType_ != 3) {
      if (depth_ < 8)
        MakeLinearPalette(image_.Palette, 1 << depth_);
      else
        std::memcpy(image_.Palette, GrayPalette(), 768);
    }
  }
  if (loader_.LoadExtras && (colorType_ == 4 || colorType_ == 6)) {
    alpha_ = std::make_unique<TLinearBitmap>(static_cast<int>(width_), static_cast<int>(height_), pf8bit);
    std::memcpy(alpha_->Palette, GrayPalette(), 768);
  }
  loader_.BitsPerPixel = depth_;
}

void TPNGReader::ReadPalette() {
  const std::vector<uint8_t> d = ReadChunkData(768);
  const size_t entries = d.size() / 3;
  uint8_t* target = nullptr;
  if (colorType_ == 3) {
    target = image_.Palette;
  } else if ((colorType_ == 2 || colorType_ == 6) && loader_.LoadExtras) {
    loader_.ExtraPalette = std::make_unique<std::array<uint8_t, 768>>();
    target = loader_.ExtraPalette->data();
  }
  // A palette in a grey file has no meaning and is passed over.
  if (!target) return;
  std::memset(target, 0, 768);
  for (size_t i = 0; i < entries; ++i) {
    target[3 * i] = d[3 * i + 2];
    target[3 * i + 1] = d[3 * i + 1];
    target[3 * i + 2] = d[3 * i];
  }
}

void TPNGReader::ReadTransparency() {
  const std::vector<uint8_t> d = ReadChunkData(256);
  if (colorType_ == 0 && d.size() >= 2) {
    loader_.TransparentColor = d[0] * 256 + d[1];
  } else if (colorType_ == 2 && depth_ == 8 && d.size() >= 6) {
    loader_.TransparentColor = d[1] + d[3] * 256 + d[5] * 65536;
  } else if (colorType_ == 3) {
    if (loader_.LoadExtras) {
      loader_.PaletteAlpha = std::make_unique<std::array<uint8_t, 256>>();
      loader_.PaletteAlpha->fill(255);
      std::copy(d.begin(), d.end(), loader_.PaletteAlpha->begin());
    } else {
      const auto zero = std::find(d.begin(), d.end(), uint8_t(0));
      if (zero != d.end()) loader_.TransparentColor = static_cast<int32_t>(zero - d.begin());
    }
  }
}

void TPNGReader::ReadGamma() {
  const std::vector<uint8_t> d = ReadChunkData(4);
  if (d.size() == 4) loader_.Gamma = ReadBigEndian32(d.data()) / 100000.0;
}

void TPNGReader::ReadImage() {
  TIDATStream idat(chunks_, length_);
  uint8_t header[2];
  if (idat.Read(header, 1) != 1 || idat.Read(header + 1, 1) != 1) ThrowInvalid();
  // Deflate with at most a 32 KiB window, and no preset dictionary (which PNG
  // never uses and we could not supply).
  if ((header[0] & 0x0F) != 8 || (header[0] >> 4) > 7 || (header[1] & 0x20)) ThrowInvalid();

  rowsTotal_ = 0;
  for (int pass = 0; pass < 7; ++pass) {
    if (interlace_ == 0 && pass > 0) break;
    const bool plain = interlace_ == 0;
    if (PassSize(width_, plain ? 0 : kPassX0[pass], plain ? 1 : kPassDX[pass]) > 0)
      rowsTotal_ += static_cast<int>(PassSize(height_, plain ? 0 : kPassY0[pass], plain ? 1 : kPassDY[pass]));
  }
  rowBuffers_.assign(2 * (RowBytes(width_, channels_, depth_) + 1), 0);

  TAdler32 adler;
  {
    TDeflateStream inflate(idat, TDeflateStream::dirRead);
    try {
      for (int pass = 0; pass < (interlace_ ? 7 : 1); ++pass) ReadPass(inflate, adler, interlace_ ? pass : -1);
    } catch (const EBadFormat&) {
      // Compressed data that runs into the end of the chain means the chain ended early.
      if (idat.Ended()) ThrowInvalid();
      throw;
    }
  }
  // Compressed bytes past the image are passed over up to the checksum at the end.
  const uint32_t stored = idat.SkipToEnd();
  if (idat.Delivered() < 6 || stored != adler.AdlerValue()) throw EBadFormat("Adler32 error");
  length_ = idat.NextLength;
  std::memcpy(type_, idat.NextType, 4);
  imageDone_ = true;
}

// pass -1 is the whole image of a file without interlacing.
void TPNGReader::ReadPass(TBaseStream& inflate, TAdler32& adler, int pass) {
  const uint32_t x0 = pass < 0 ? 0 : kPassX0[pass], y0 = pass < 0 ? 0 : kPassY0[pass];
  const uint32_t dx = pass < 0 ? 1 : kPassDX[pass], dy = pass < 0 ? 1 : kPassDY[pass];
  const uint32_t width = PassSize(width_, static_cast<int>(x0), static_cast<int>(dx));
  const uint32_t height = PassSize(height_, static_cast<int>(y0), static_cast<int>(dy));
  if (width == 0 || height == 0) return;  // an empty pass has no rows, not even filter bytes
  const size_t rowBytes = RowBytes(width, channels_, depth_);
  const int bpp = std::max(1, channels_ * depth_ / 8);
  uint8_t* current = rowBuffers_.data();
  uint8_t* prior = current + rowBytes + 1;
  std::memset(prior, 0, rowBytes + 1);
  for (uint32_t j = 0; j < height; ++j) {
    if (inflate.Read(current, rowBytes + 1) != rowBytes + 1) ThrowInvalid();
    adler.AdlerAdd(current, rowBytes + 1);
    UnfilterPNGRow(current[0], current + 1, prior + 1, rowBytes, bpp);
    StoreRow(current + 1, width, x0, dx, y0 + j * dy);
    std::swap(current, prior);
    ReportRowProgress(rowsDone_++, rowsTotal_);
  }
}

void TPNGReader::StoreRow(const uint8_t* src, uint32_t count, uint32_t x0, uint32_t dx, uint32_t y) {
  const size_t step = static_cast<size_t>(image_.PixelSize) * dx;
  uint8_t* dst = image_.PixelAddress(static_cast<int>(x0), static_cast<int>(y));
  uint8_t* alpha = alpha_ ? alpha_->PixelAddress(static_cast<int>(x0), static_cast<int>(y)) : nullptr;
  auto putAlpha = [&](uint32_t i, uint8_t value) {
    if (alpha) alpha[i * dx] = value;
  };
  switch (colorType_ * 100 + depth_) {
    case 1:  // packed grey or palette indices, most significant bits first
    case 2:
    case 4:
    case 301:
    case 302:
    case 304: {
      const int d = depth_, perByte = 8 / d, mask = (1 << d) - 1;
      for (uint32_t i = 0; i < count; ++i, dst += step)
        *dst = static_cast<uint8_t>((src[i / perByte] >> (8 - d * (i % perByte + 1))) & mask);
      break;
    }
    case 8:
    case 308:
      if (dx == 1)
        std::memcpy(dst, src, count);
      else
        for (uint32_t i = 0; i < count; ++i, dst += step) *dst = src[i];
      break;
    case 16:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 2) dst[0] = src[1], dst[1] = src[0];
      break;
    case 208:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 3) dst[0] = src[2], dst[1] = src[1], dst[2] = src[0];
      break;
    case 216:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 6) dst[0] = src[4], dst[1] = src[2], dst[2] = src[0];
      break;
    case 408:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 2) *dst = src[0], putAlpha(i, src[1]);
      break;
    case 416:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 4) dst[0] = src[1], dst[1] = src[0], putAlpha(i, src[2]);
      break;
    case 608:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 4)
        dst[0] = src[2], dst[1] = src[1], dst[2] = src[0], putAlpha(i, src[3]);
      break;
    case 616:
      for (uint32_t i = 0; i < count; ++i, dst += step, src += 8)
        dst[0] = src[4], dst[1] = src[2], dst[2] = src[0], putAlpha(i, src[6]);
      break;
  }
}

// ---------------------------------------------------------------- writing

void WriteChunk(TBaseStream& out, const char* type, const uint8_t* data, size_t size) {
  uint8_t field[4];
  WriteBigEndian32(field, static_cast<uint32_t>(size));
  out.Write(field, 4);
  out.Write(type, 4);
  if (size) out.Write(data, size);
  uint32_t crc = UpdateCRC32(0xFFFFFFFFu, type, 4);
  crc = UpdateCRC32(crc, data, size);
  WriteBigEndian32(field, ~crc);
  out.Write(field, 4);
}

// Entries up to the last one that is not black, at least one.
int UsedPaletteEntries(const uint8_t* palette) {
  int count = 256;
  while (count > 1 && palette[3 * count - 3] == 0 && palette[3 * count - 2] == 0 && palette[3 * count - 1] == 0)
    --count;
  return count;
}

// A copy whose used entries are sorted by luminance and whose unused entries are
// black; transparent follows its entry.
TLinearBitmap SortedPaletteCopy(const TLinearBitmap& source, int32_t& transparent) {
  bool used[256] = {};
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* row = source.ScanLine(y);
    for (int x = 0; x < source.Width; ++x) used[row[x]] = true;
  }
  if (transparent >= 0 && transparent < 256) used[transparent] = true;
  int order[256];
  int count = 0;
  for (int i = 0; i < 256; ++i)
    if (used[i]) order[count++] = i;
  const uint8_t* pal = source.Palette;
  auto luminance = [&](int i) { return 2 * pal[3 * i + 2] + 3 * pal[3 * i + 1] + pal[3 * i]; };
  std::stable_sort(order, order + count, [&](int a, int b) { return luminance(a) < luminance(b); });
  uint8_t remap[256] = {};
  TLinearBitmap copy(source.Width, source.Height, pf8bit);
  std::memset(copy.Palette, 0, 768);
  for (int k = 0; k < count; ++k) {
    remap[order[k]] = static_cast<uint8_t>(k);
    std::memcpy(copy.Palette + 3 * k, pal + 3 * order[k], 3);
  }
  for (int y = 0; y < source.Height; ++y) {
    const uint8_t* s = source.ScanLine(y);
    uint8_t* d = copy.ScanLine(y);
    for (int x = 0; x < source.Width; ++x) d[x] = remap[s[x]];
  }
  if (transparent >= 0 && transparent < 256) transparent = remap[transparent];
  return copy;
}

class TPNGWriter {
 public:
  TPNGWriter(const TPNGLoader& loader, const TLinearBitmap& image, int32_t transparent)
      : loader_(loader), image_(image), transparent_(transparent) {}
  void Write(TBaseStream& out, int filter, bool progress);

 private:
  void ChooseFormat();
  void WriteImageData(TBaseStream& out, int filter, bool progress);
  void MakeRawRow(int y, uint8_t* raw) const;

  const TPNGLoader& loader_;
  const TLinearBitmap& image_;
  int32_t transparent_;
  int depth_ = 8, colorType_ = 0, channels_ = 1;
  int maxIndex_ = 0;  // largest palette index the file must hold
};

void TPNGWriter::ChooseFormat() {
  switch (image_.PixelFormat) {
    case pf24bit:
      colorType_ = 2, depth_ = 8, channels_ = 3;
      return;
    case pf16bit:
      colorType_ = 0, depth_ = 16, channels_ = 1;
      return;
    default:
      break;
  }
  channels_ = 1;
  depth_ = 8;
  const int requested = loader_.BitsPerPixel;
  if (requested == 1 || requested == 2 || requested == 4) {
    // A depth left over from the last file read must not cut indices off: take
    // the smallest packed depth from the requested one up that holds them all.
    maxIndex_ = transparent_ >= 0 && transparent_ < 256 ? transparent_ : 0;
    for (int y = 0; y < image_.Height && maxIndex_ < 15; ++y) {
      const uint8_t* row = image_.ScanLine(y);
      maxIndex_ = std::max<int>(maxIndex_, *std::max_element(row, row + image_.Width));
    }
    for (int d = requested; d < 8; d *= 2)
      if (maxIndex_ < (1 << d)) {
        depth_ = d;
        break;
      }
  }
  colorType_ = depth_ == 8 && image_.IsGrayScale() ? 0 : 3;
}

void TPNGWriter::Write(TBaseStream& out, int filter, bool progress) {
  if (!image_.Present ||
      (image_.PixelFormat != pf8bit && image_.PixelFormat != pf16bit && image_.PixelFormat != pf24bit))
    throw ELinearBitmap("Unsupported pixel format");
  ChooseFormat();
  out.Write(kSignature, 8);

  uint8_t header[13];
  WriteBigEndian32(header, static_cast<uint32_t>(image_.Width));
  WriteBigEndian32(header + 4, static_cast<uint32_t>(image_.Height));
  header[8] = static_cast<uint8_t>(depth_);
  header[9] = static_cast<uint8_t>(colorType_);
  header[10] = header[11] = header[12] = 0;
  WriteChunk(out, "IHDR", header, 13);

  // gAMA goes before PLTE, where decoders expect it.
  const double gammaValue = std::nearbyint(loader_.Gamma * 100000);
  if (loader_.Gamma != 0 && gammaValue >= 1 && gammaValue <= kMaxPNGChunkLength) {
    uint8_t gamma[4];
    WriteBigEndian32(gamma, static_cast<uint32_t>(gammaValue));
    WriteChunk(out, "gAMA", gamma, 4);
  }

  // A palette: the image's own for palette files, a kept PLTE for colour files
  // (a grey file may not have one).  It covers every index used and the
  // transparent one, and no more entries than the depth can address.
  const uint8_t* palette = colorType_ == 3                           ? image_.Palette
                           : colorType_ == 2 && loader_.ExtraPalette ? loader_.ExtraPalette->data()
                                                                     : nullptr;
  int entries = 0;
  if (palette) {
    entries = UsedPaletteEntries(palette);
    if (colorType_ == 3) {
      if (depth_ == 8) {
        for (int y = 0; y < image_.Height && entries < 256; ++y) {
          const uint8_t* row = image_.ScanLine(y);
          entries = std::max(entries, *std::max_element(row, row + image_.Width) + 1);
        }
      }
      entries = std::clamp(std::max(entries, maxIndex_ + 1), 1, 1 << depth_);
      if (transparent_ >= 0 && transparent_ < (1 << depth_)) entries = std::max(entries, transparent_ + 1);
    }
    uint8_t plte[768];
    for (int i = 0; i < entries; ++i) {
      plte[3 * i] = palette[3 * i + 2];
      plte[3 * i + 1] = palette[3 * i + 1];
      plte[3 * i + 2] = palette[3 * i];
    }
    WriteChunk(out, "PLTE", plte, static_cast<size_t>(3 * entries));
  }

  // Transparency that the file's samples can express.
  if (transparent_ != -1) {
    uint8_t trns[256] = {};
    size_t size = 0;
    if (colorType_ == 0 && transparent_ >= 0 && transparent_ < (1 << depth_)) {
      trns[0] = static_cast<uint8_t>(transparent_ >> 8);
      trns[1] = static_cast<uint8_t>(transparent_);
      size = 2;
    } else if (colorType_ == 2 && transparent_ >= 0 && transparent_ <= 0xFFFFFF) {
      trns[1] = static_cast<uint8_t>(transparent_);
      trns[3] = static_cast<uint8_t>(transparent_ >> 8);
      trns[5] = static_cast<uint8_t>(transparent_ >> 16);
      size = 6;
    } else if (colorType_ == 3 && transparent_ >= 0 && transparent_ < entries) {
      std::memset(trns, 255, static_cast<size_t>(transparent_));
      size = static_cast<size_t>(transparent_) + 1;
    }
    if (size) WriteChunk(out, "tRNS", trns, size);
  }

  WriteImageData(out, filter, progress);
  WriteChunk(out, "IEND", nullptr, 0);
}

void TPNGWriter::MakeRawRow(int y, uint8_t* raw) const {
  const uint8_t* src = image_.ScanLine(y);
  const int width = image_.Width;
  if (image_.PixelFormat == pf24bit) {
    for (int x = 0; x < width; ++x, src += 3, raw += 3) raw[0] = src[2], raw[1] = src[1], raw[2] = src[0];
  } else if (image_.PixelFormat == pf16bit) {
    for (int x = 0; x < width; ++x, src += 2, raw += 2) raw[0] = src[1], raw[1] = src[0];
  } else if (depth_ == 8) {
    std::memcpy(raw, src, static_cast<size_t>(width));
  } else {
    const int perByte = 8 / depth_;
    std::memset(raw, 0, RowBytes(static_cast<uint32_t>(width), 1, depth_));
    for (int x = 0; x < width; ++x)
      raw[x / perByte] |= static_cast<uint8_t>(src[x] << (8 - depth_ * (x % perByte + 1)));
  }
}

void TPNGWriter::WriteImageData(TBaseStream& out, int filter, bool progress) {
  const size_t rowBytes = RowBytes(static_cast<uint32_t>(image_.Width), channels_, depth_);
  const int bpp = std::max(1, channels_ * depth_ / 8);
  std::vector<uint8_t> buffers(3 * rowBytes + 1 + 5 * rowBytes, 0);
  uint8_t* raw = buffers.data();
  uint8_t* prior = raw + rowBytes;
  uint8_t* line = prior + rowBytes;
  uint8_t* scratch = line + rowBytes + 1;

  TMemoryStream idat;
  const uint8_t zlibHeader[2] = {0x78, 0xDA};
  idat.Write(zlibHeader, 2);
  TAdler32 adler;
  {
    TDeflateStream deflate(idat, TDeflateStream::dirWrite);
    deflate.CompressionMethod = TDeflateStream::cmDynamic;
    deflate.FilteredData = true;
    for (int y = 0; y < image_.Height; ++y) {
      MakeRawRow(y, raw);
      line[0] = static_cast<uint8_t>(ChoosePNGFilter(filter, raw, prior, rowBytes, bpp, line + 1, scratch));
      deflate.Write(line, rowBytes + 1);
      adler.AdlerAdd(line, rowBytes + 1);
      std::swap(raw, prior);
      if (progress) ReportRowProgress(y, image_.Height);
    }
    deflate.Close();
  }
  uint8_t check[4];
  WriteBigEndian32(check, adler.AdlerValue());
  idat.Write(check, 4);
  WriteChunk(out, "IDAT", idat.Data().data(), idat.Data().size());
}

}  // namespace

std::string TPNGLoader::GetLoadFilter() { return "Portable Network Graphics (*.png)|*.png"; }

void TPNGLoader::LoadFromStream(TBaseStream& stream, const std::string&, TLinearBitmap& bitmap) {
  ExtraPalette.reset();
  PaletteAlpha.reset();
  AlphaChannel.reset();
  TransparentColor = -1;
  Gamma = 0;
  TPNGReader(*this, stream).Run(bitmap);
}

void TPNGLoader::SaveToStream(TBaseStream& stream, const std::string&, const TLinearBitmap& bitmap) {
  if (!bitmap.Present ||
      (bitmap.PixelFormat != pf8bit && bitmap.PixelFormat != pf16bit && bitmap.PixelFormat != pf24bit))
    throw ELinearBitmap("Unsupported pixel format");
  int32_t transparent = TransparentColor;
  TLinearBitmap sorted;
  const TLinearBitmap* image = &bitmap;
  // A grey image gains nothing from sorting unless it is to be packed: it is
  // written as grey samples, without a palette.
  const bool packed = BitsPerPixel == 1 || BitsPerPixel == 2 || BitsPerPixel == 4;
  if (OptimizePalette && bitmap.PixelFormat == pf8bit && (packed || !bitmap.IsGrayScale())) {
    sorted = SortedPaletteCopy(bitmap, transparent);
    image = &sorted;
  }
  TPNGWriter writer(*this, *image, transparent);
  if (Filter != -3) {
    writer.Write(stream, Filter, true);
    return;
  }
  // Try every setting in memory and keep the smallest result; the output is
  // deterministic, so the winner's bytes are the real write.
  static const int kSettings[] = {-2, -1, 0, 1, 2, 3, 4};
  std::vector<uint8_t> best;
  for (int i = 0; i < 7; ++i) {
    TMemoryStream trial;
    writer.Write(trial, kSettings[i], false);
    if (i == 0 || trial.Data().size() < best.size()) best = std::move(trial.Data());
    ReportProgress((i + 1) * 100 / 7);
  }
  stream.Write(best.data(), best.size());
}

TPNGLoader& PNGLoader() {
  static TPNGLoader loader;
  return loader;
}

namespace {

// A pixel in TransparentColor's encoding: an index or grey level, a 16-bit grey
// word, or red + green * 256 + blue * 65536.
int32_t TransparencyValue(const TLinearBitmap& bitmap, const uint8_t* pixel) {
  switch (bitmap.PixelFormat) {
    case pf8bit:
      return pixel[0];
    case pf16bit:
      return pixel[0] | (pixel[1] << 8);
    case pf24bit:
      return pixel[2] | (pixel[1] << 8) | (pixel[0] << 16);
    default:
      return -1;
  }
}

}  // namespace

int32_t MapTransparentColor(const TLinearBitmap& before, const TLinearBitmap& after, int32_t transparent) {
  if (transparent < 0 || !before.Present || !after.Present || before.Width != after.Width ||
      before.Height != after.Height)
    return -1;
  // The first transparent pixel gives the new value; every pixel must then agree.
  int32_t mapped = -1;
  for (int y = 0; y < before.Height && mapped < 0; ++y)
    for (int x = 0; x < before.Width; ++x)
      if (TransparencyValue(before, before.PixelAddress(x, y)) == transparent) {
        mapped = TransparencyValue(after, after.PixelAddress(x, y));
        break;
      }
  if (mapped < 0) return -1;
  for (int y = 0; y < before.Height; ++y) {
    const uint8_t* b = before.ScanLine(y);
    const uint8_t* a = after.ScanLine(y);
    for (int x = 0; x < before.Width; ++x, b += before.PixelSize, a += after.PixelSize)
      if ((TransparencyValue(before, b) == transparent) != (TransparencyValue(after, a) == mapped)) return -1;
  }
  return mapped;
}

}  // namespace sq
