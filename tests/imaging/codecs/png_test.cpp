#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/progress.h"
#include "compress/adler32.h"
#include "compress/crc32_stream.h"
#include "compress/deflate_stream.h"
#include "imaging/codecs/png_filter.h"
#include "imaging/codecs/png_loader.h"
#include "io/memory_stream.h"
#include "support/test_bitmaps.h"

using namespace sq;
using sq::test::SamePixels;
using Bytes = std::vector<uint8_t>;

namespace {

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

Bytes Chunk(const char* type, const Bytes& data) {
  Bytes c;
  Put32(c, static_cast<uint32_t>(data.size()));
  c.insert(c.end(), type, type + 4);
  c.insert(c.end(), data.begin(), data.end());
  Put32(c, CRC32(std::span<const uint8_t>(c.data() + 4, c.size() - 4)));
  return c;
}

Bytes Zlib(const Bytes& raw) {
  Bytes z = {0x78, 0xDA};
  const Bytes d = DeflateBytes(raw);
  z.insert(z.end(), d.begin(), d.end());
  TAdler32 a;
  a.AdlerAdd(raw.data(), raw.size());
  Put32(z, a.AdlerValue());
  return z;
}

Bytes Header(uint32_t w, uint32_t h, int depth, int colorType, int interlace = 0) {
  Bytes d;
  Put32(d, w);
  Put32(d, h);
  d.insert(d.end(),
           {static_cast<uint8_t>(depth), static_cast<uint8_t>(colorType), 0, 0, static_cast<uint8_t>(interlace)});
  return d;
}

// A file from its chunks (signature added).
Bytes File(const std::vector<Bytes>& chunks) {
  Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Bytes& c : chunks) f.insert(f.end(), c.begin(), c.end());
  return f;
}

Bytes Simple(uint32_t w, uint32_t h, int depth, int colorType, const Bytes& rows, std::vector<Bytes> extra = {},
             int interlace = 0) {
  std::vector<Bytes> chunks = {Chunk("IHDR", Header(w, h, depth, colorType, interlace))};
  chunks.insert(chunks.end(), extra.begin(), extra.end());
  chunks.push_back(Chunk("IDAT", Zlib(rows)));
  chunks.push_back(Chunk("IEND", {}));
  return File(chunks);
}

TLinearBitmap Load(TPNGLoader& loader, const Bytes& file) {
  TReadOnlyMemoryStream s(file);
  TLinearBitmap b;
  loader.LoadFromStream(s, "PNG", b);
  return b;
}

Bytes Save(TPNGLoader& loader, const TLinearBitmap& b) {
  TMemoryStream s;
  loader.SaveToStream(s, "PNG", b);
  return s.Data();
}

std::string LoadError(const Bytes& file) {
  TPNGLoader loader;
  TReadOnlyMemoryStream s(file);
  TLinearBitmap b(2, 2, pf24bit);
  b.Clear(7);
  try {
    loader.LoadFromStream(s, "PNG", b);
  } catch (const Exception& e) {
    // A failed load leaves the target as it was.
    EXPECT_TRUE(b.Present && b.Width == 2 && b.PixelFormat == pf24bit && b.Map[5] == 7) << e.what();
    return e.what();
  }
  return "loaded";
}

// Adam7 rows (filter 0) of an image of one byte per pixel.
Bytes Interlaced(int w, int h, const Bytes& pixels) {
  static const int x0[] = {0, 4, 0, 2, 0, 1, 0}, y0[] = {0, 0, 4, 0, 2, 0, 1};
  static const int dx[] = {8, 8, 4, 4, 2, 2, 1}, dy[] = {8, 8, 8, 4, 4, 2, 2};
  Bytes rows;
  for (int p = 0; p < 7; ++p) {
    if (x0[p] >= w) continue;
    for (int y = y0[p]; y < h; y += dy[p]) {
      rows.push_back(0);
      for (int x = x0[p]; x < w; x += dx[p]) rows.push_back(pixels[static_cast<size_t>(y * w + x)]);
    }
  }
  return rows;
}

}  // namespace

TEST(PngReader, RefusesDamagedFiles) {
  const Bytes rows = {0, 10, 20};
  const Bytes good = Simple(2, 1, 8, 0, rows);
  EXPECT_EQ(LoadError(good), "loaded");

  Bytes bad = good;
  bad[1] = 'Q';
  EXPECT_EQ(LoadError(bad), "Invalid PNG header");
  EXPECT_EQ(LoadError(Bytes(good.begin(), good.begin() + 5)), "Invalid PNG header");
  Bytes shortHeader = Header(2, 1, 8, 0);
  shortHeader.pop_back();
  EXPECT_EQ(LoadError(File({Chunk("IHDR", shortHeader), Chunk("IEND", {})})), "Invalid PNG data");
  EXPECT_EQ(LoadError(File({Chunk("gAMA", {0, 0, 0, 1}), Chunk("IHDR", Header(2, 1, 8, 0))})), "Invalid PNG data");
  bad = good;
  bad[29] ^= 1;  // IHDR CRC
  EXPECT_EQ(LoadError(bad), "CRC error");
  bad = good;
  bad[good.size() - 16] ^= 1;  // IDAT CRC
  EXPECT_EQ(LoadError(bad), "CRC error");
  Bytes z = Zlib(rows);
  z.back() ^= 1;
  EXPECT_EQ(LoadError(File({Chunk("IHDR", Header(2, 1, 8, 0)), Chunk("IDAT", z), Chunk("IEND", {})})), "Adler32 error");
  EXPECT_EQ(LoadError(Simple(2, 1, 8, 1, rows)), "Invalid PNG data");  // colour type 1
  EXPECT_EQ(LoadError(Simple(2, 1, 3, 0, rows)), "Invalid PNG data");  // depth 3
  EXPECT_EQ(LoadError(Simple(2, 1, 4, 2, rows)), "Invalid PNG data");  // 4-bit RGB
  EXPECT_EQ(LoadError(Simple(2, 1, 8, 0, rows, {}, 2)), "Unsupported interlacing method");
  EXPECT_EQ(LoadError(Simple(2, 1, 8, 0, rows, {Chunk("ABCD", {1})})), "Unsupported PNG data");
  EXPECT_EQ(LoadError(Simple(2, 1, 8, 0, rows, {Chunk("abCD", {1})})), "loaded");
  EXPECT_EQ(LoadError(Simple(100000, 100000, 8, 2, rows)), "image too large (100000 \u00D7 100000 pixels)");
  EXPECT_EQ(LoadError(Simple(0, 1, 8, 0, rows)), "Invalid PNG data");
  EXPECT_EQ(LoadError(File({Chunk("IHDR", Header(2, 1, 8, 0)), Chunk("IEND", {})})), "Invalid PNG data");
  EXPECT_EQ(LoadError(Simple(2, 1, 8, 0, {5, 10, 20})), "Invalid PNG data");  // filter type 5
  EXPECT_EQ(LoadError(Simple(2, 2, 8, 0, rows)), "Invalid PNG data");         // one row short
  // The IDAT chain ends (at a text chunk) before the compressed data does.
  const Bytes big = Zlib(Bytes(4 * 65, 0));
  const Bytes half1(big.begin(), big.begin() + 5), half2(big.begin() + 5, big.end());
  EXPECT_EQ(LoadError(File({Chunk("IHDR", Header(64, 4, 8, 0)), Chunk("IDAT", half1), Chunk("tEXt", {'a'}),
                            Chunk("IDAT", half2), Chunk("IEND", {})})),
            "Invalid PNG data");
  // Split anywhere the chain joins back up.
  EXPECT_EQ(LoadError(File({Chunk("IHDR", Header(64, 4, 8, 0)), Chunk("IDAT", half1), Chunk("IDAT", {}),
                            Chunk("IDAT", half2), Chunk("IEND", {})})),
            "loaded");
  // A stream that would inflate to far more than the image holds is not inflated
  // past the image; its checksum then covers bytes never read.
  Bytes bomb = rows;
  bomb.resize(20000000, 0);
  EXPECT_EQ(LoadError(File({Chunk("IHDR", Header(2, 1, 8, 0)), Chunk("IDAT", Zlib(bomb)), Chunk("IEND", {})})),
            "Adler32 error");
  // A truncated file.
  EXPECT_EQ(LoadError(Bytes(good.begin(), good.end() - 6)), "Read less than expected");
}

TEST(PngReader, ReadsDepthsColourTypesAndInterlacing) {
  TPNGLoader loader;
  // 1-bit grey: a two-entry ramp, the rest of the palette black.
  TLinearBitmap b = Load(loader, Simple(10, 1, 1, 0, {0, 0b10110000, 0b01000000}));
  ASSERT_EQ(b.PixelFormat, pf8bit);
  EXPECT_EQ(Bytes(b.Map, b.Map + 10), (Bytes{1, 0, 1, 1, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(b.Palette[0], 0);
  EXPECT_EQ(b.Palette[3], 255);
  EXPECT_EQ(b.Palette[6], 0);
  EXPECT_EQ(loader.BitsPerPixel, 1);
  // 2-bit grey ramp.
  b = Load(loader, Simple(1, 1, 2, 0, {0, 0x40}));
  EXPECT_EQ(b.Palette[3], 85);
  EXPECT_EQ(b.Palette[9], 255);
  // 16-bit grey keeps all bits; 16-bit RGB keeps the high bytes, blue first.
  b = Load(loader, Simple(1, 1, 16, 0, {0, 0x12, 0x34}));
  ASSERT_EQ(b.PixelFormat, pf16bit);
  EXPECT_EQ(b.Map[0], 0x34);
  EXPECT_EQ(b.Map[1], 0x12);
  b = Load(loader, Simple(1, 1, 16, 2, {0, 1, 2, 3, 4, 5, 6}));
  ASSERT_EQ(b.PixelFormat, pf24bit);
  EXPECT_EQ(Bytes(b.Map, b.Map + 3), (Bytes{5, 3, 1}));
  // Filters: Sub, Up, Average and Paeth on a 2x3 RGB image.
  b = Load(loader, Simple(2, 4, 8, 2, {1, 10, 20, 30, 1, 1, 1,  //
                                       2, 1,  1,  1,  2, 2, 2,  //
                                       3, 5,  5,  5,  6, 6, 6,  //
                                       4, 0,  0,  0,  9, 0, 0}));
  EXPECT_EQ(Bytes(b.Map, b.Map + 24),
            (Bytes{30, 20, 10, 31, 21, 11, 31, 21, 11, 33, 23, 13, 20, 15, 10, 32, 25, 17, 20, 15, 10, 32, 25, 26}));
  // Adam7 with passes left empty by a narrow image, and a 1x1 one.
  for (int w : {1, 3, 7}) {
    const int h = 5;
    Bytes pixels(static_cast<size_t>(w * h));
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 7);
    b = Load(loader, Simple(static_cast<uint32_t>(w), h, 8, 0, Interlaced(w, h, pixels), {}, 1));
    EXPECT_EQ(Bytes(b.Map, b.Map + pixels.size()), pixels) << w;
  }
}

TEST(PngReader, KeepsExtrasAndChunkValues) {
  TPNGLoader loader;
  const Bytes plte = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  TLinearBitmap b =
      Load(loader, Simple(3, 1, 8, 3, {0, 0, 1, 2},
                          {Chunk("gAMA", {0, 0, 0xAF, 0xC8}), Chunk("PLTE", plte), Chunk("tRNS", {255, 0, 128})}));
  EXPECT_DOUBLE_EQ(loader.Gamma, 0.45);
  EXPECT_EQ(loader.TransparentColor, 1);
  EXPECT_EQ(b.Palette[2], 255);  // red, stored blue-green-red
  EXPECT_EQ(b.Palette[9], 0);    // past the chunk: black
  EXPECT_FALSE(loader.PaletteAlpha);

  loader.LoadExtras = true;
  Load(loader, Simple(3, 1, 8, 3, {0, 0, 1, 2}, {Chunk("PLTE", plte), Chunk("tRNS", {255, 0, 128})}));
  ASSERT_TRUE(loader.PaletteAlpha);
  EXPECT_EQ((*loader.PaletteAlpha)[2], 128);
  EXPECT_EQ((*loader.PaletteAlpha)[3], 255);
  EXPECT_EQ(loader.TransparentColor, -1);
  EXPECT_EQ(loader.Gamma, 0);  // cleared by the new read

  b = Load(loader, Simple(2, 1, 8, 6, {0, 1, 2, 3, 200, 4, 5, 6, 100}, {Chunk("PLTE", plte)}));
  ASSERT_TRUE(loader.AlphaChannel && loader.ExtraPalette);
  EXPECT_EQ(Bytes(loader.AlphaChannel->Map, loader.AlphaChannel->Map + 2), (Bytes{200, 100}));
  EXPECT_EQ((*loader.ExtraPalette)[5], 0);  // green of entry 1 ... blue-green-red order
  EXPECT_EQ((*loader.ExtraPalette)[4], 255);
  b = Load(loader, Simple(1, 1, 16, 4, {0, 0xAB, 0xCD, 0x77, 0x88}));
  EXPECT_EQ(b.PixelFormat, pf16bit);
  EXPECT_EQ(loader.AlphaChannel->Map[0], 0x77);
  b = Load(loader, Simple(1, 1, 8, 2, {0, 1, 2, 3}, {Chunk("tRNS", {0, 9, 0, 8, 0, 7})}));
  EXPECT_EQ(loader.TransparentColor, 9 + 8 * 256 + 7 * 65536);
  EXPECT_FALSE(loader.AlphaChannel);
}

TEST(PngWriter, ChoosesColourTypeAndRoundTrips) {
  TPNGLoader loader;
  TLinearBitmap grey(5, 3, pf8bit);
  std::memcpy(grey.Palette, GrayPalette(), 768);
  for (int i = 0; i < 15; ++i) grey.Map[i] = static_cast<uint8_t>(i * 17);
  Bytes file = Save(loader, grey);
  EXPECT_EQ(file[25], 0);  // colour type
  EXPECT_EQ(std::string(file.begin() + 37, file.begin() + 41), "IDAT");
  EXPECT_TRUE(SamePixels(Load(loader, file), grey));

  TLinearBitmap colour = grey;
  colour.Palette[3 * 5 + 2] = 1;  // one entry no longer grey
  std::memset(colour.Palette + 45, 0, 768 - 45);
  for (int i = 0; i < 15; ++i) colour.Map[i] = static_cast<uint8_t>(i);
  file = Save(loader, colour);
  EXPECT_EQ(file[25], 3);
  EXPECT_EQ(std::string(file.begin() + 37, file.begin() + 41), "PLTE");
  EXPECT_EQ(file[36], 15 * 3);  // entries up to the last non-black one
  TLinearBitmap back = Load(loader, file);
  EXPECT_TRUE(SamePixels(back, colour));
  EXPECT_EQ(std::memcmp(back.Palette, colour.Palette, 768), 0);

  TLinearBitmap deep(4, 2, pf16bit);
  for (int i = 0; i < 16; ++i) deep.Map[i] = static_cast<uint8_t>(i * 31);
  file = Save(loader, deep);
  EXPECT_EQ(file[24], 16);
  EXPECT_TRUE(SamePixels(Load(loader, file), deep));

  TLinearBitmap rgb(33, 17, pf24bit);
  for (int64_t i = 0; i < rgb.Size; ++i) rgb.Map[i] = static_cast<uint8_t>(i * i % 251);
  for (int filter : {0, 1, 2, 3, 4, -1, -2, -3}) {
    loader.Filter = filter;
    EXPECT_TRUE(SamePixels(Load(loader, Save(loader, rgb)), rgb)) << filter;
  }
  // -3 keeps whichever setting makes the smallest file.
  size_t smallest = SIZE_MAX;
  for (int filter : {-2, -1, 0, 1, 2, 3, 4}) {
    loader.Filter = filter;
    smallest = std::min(smallest, Save(loader, rgb).size());
  }
  loader.Filter = -3;
  EXPECT_EQ(Save(loader, rgb).size(), smallest);

  EXPECT_THROW(Save(loader, TLinearBitmap(2, 2, pf32bit)), ELinearBitmap);
}

TEST(PngWriter, ChunkValuesSurviveALoadSaveCycle) {
  TPNGLoader loader;
  TLinearBitmap rgb(3, 2, pf24bit);
  rgb.Clear(40);
  loader.Gamma = 0.45455;
  loader.TransparentColor = 0x030201;
  Bytes file = Save(loader, rgb);
  loader.Gamma = 0;
  loader.TransparentColor = -1;
  Load(loader, file);
  EXPECT_DOUBLE_EQ(loader.Gamma, 0.45455);
  EXPECT_EQ(loader.TransparentColor, 0x030201);

  TLinearBitmap pal(4, 1, pf8bit);
  std::memset(pal.Palette, 0, 768);
  for (int i = 0; i < 4; ++i)
    pal.Palette[3 * i + 1] = static_cast<uint8_t>(60 * i + 10), pal.Map[i] = static_cast<uint8_t>(i);
  loader.TransparentColor = 2;
  Load(loader, Save(loader, pal));
  EXPECT_EQ(loader.TransparentColor, 2);
}

TEST(PngWriter, PacksPaletteRowsOnlyWhereIndicesFit) {
  TPNGLoader loader;
  TLinearBitmap pal(13, 3, pf8bit);
  std::memset(pal.Palette, 0, 768);
  for (int i = 0; i < 256; ++i) pal.Palette[3 * i] = static_cast<uint8_t>(i | 1);
  for (int i = 0; i < 39; ++i) pal.Map[i] = static_cast<uint8_t>(i % 3);
  loader.BitsPerPixel = 1;  // as left by reading a 1-bit file
  Bytes file = Save(loader, pal);
  EXPECT_EQ(file[24], 2);      // indices 0..2 need 2 bits
  EXPECT_EQ(file[36], 4 * 3);  // no more palette entries than 2 bits address
  TLinearBitmap back = Load(loader, file);
  EXPECT_TRUE(SamePixels(back, pal));
  EXPECT_EQ(loader.BitsPerPixel, 2);

  pal.Map[5] = 200;
  loader.BitsPerPixel = 1;
  file = Save(loader, pal);
  EXPECT_EQ(file[24], 8);
  EXPECT_TRUE(SamePixels(Load(loader, file), pal));
  for (int bits : {1, 2, 4}) {
    for (int i = 0; i < 39; ++i) pal.Map[i] = static_cast<uint8_t>(i % (1 << bits));
    loader.BitsPerPixel = bits;
    file = Save(loader, pal);
    EXPECT_EQ(file[24], bits);
    EXPECT_TRUE(SamePixels(Load(loader, file), pal));
  }

  // Sorting the palette keeps the picture: the colours of the pixels stay.
  TLinearBitmap mixed(6, 1, pf8bit);
  std::memset(mixed.Palette, 0, 768);
  const uint8_t used[] = {200, 7, 90, 7, 200, 31};
  for (int x = 0; x < 6; ++x) mixed.Map[x] = used[x];
  for (int i = 0; i < 256; ++i) mixed.Palette[3 * i + 2] = static_cast<uint8_t>(255 - i);
  loader.OptimizePalette = true;
  loader.BitsPerPixel = 4;
  loader.TransparentColor = 31;
  file = Save(loader, mixed);
  EXPECT_EQ(file[24], 4);
  back = Load(loader, file);
  for (int x = 0; x < 6; ++x) {
    EXPECT_EQ(back.Palette[3 * back.Map[x] + 2], mixed.Palette[3 * used[x] + 2]);
    EXPECT_LE(back.Map[x], 3);
  }
  EXPECT_EQ(back.Palette[3 * loader.TransparentColor + 2], 255 - 31);
  EXPECT_LT(back.Palette[3 * 0 + 2], back.Palette[3 * 1 + 2]);  // darkest first
  // A grey image stays a grey file when nothing is to be packed.
  TLinearBitmap grey(3, 1, pf8bit);
  std::memcpy(grey.Palette, GrayPalette(), 768);
  grey.Map[0] = 9, grey.Map[1] = 200, grey.Map[2] = 9;
  loader.BitsPerPixel = 8;
  file = Save(loader, grey);
  EXPECT_EQ(file[25], 0);
  EXPECT_TRUE(SamePixels(Load(loader, file), grey));
}

TEST(PngCodec, ReportsProgressPerRow) {
  TPNGLoader loader;
  TLinearBitmap rgb(4, 50, pf24bit);
  rgb.Clear(1);
  std::vector<int> seen;
  TProgressScope scope([&](int p) { seen.push_back(p); });
  const Bytes file = Save(loader, rgb);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(seen.back(), 100);
  seen.clear();
  Load(loader, file);
  EXPECT_EQ(seen.size(), 50u);
  EXPECT_EQ(seen.back(), 100);
}

TEST(PngFilter, PaethTiesPreferLeftThenAbove) {
  // Left a, above b, upper left c.  (a 30, b 0, c 10): a and c are equally close to
  // a + b - c, and a wins.  (a 0, b 30, c 10): b and c tie, and b wins.  Every pixel
  // size takes the same choice, and the writer's filter is the reader's inverse.
  struct TCase {
    uint8_t Prior[2], Filtered[2], Expected[2];
  };
  for (const TCase& c : {TCase{{10, 0}, {20, 5}, {30, 35}}, TCase{{10, 30}, {246, 5}, {0, 35}}})
    for (const int bpp : {1, 2, 3, 4, 6, 8}) {
      std::vector<uint8_t> prior, row, expected;
      for (int pixel = 0; pixel < 2; ++pixel)
        for (int k = 0; k < bpp; ++k) {
          prior.push_back(c.Prior[pixel]);
          row.push_back(c.Filtered[pixel]);
          expected.push_back(c.Expected[pixel]);
        }
      const std::vector<uint8_t> filtered = row;
      UnfilterPNGRow(4, row.data(), prior.data(), row.size(), bpp);
      EXPECT_EQ(row, expected) << "bpp " << bpp;
      std::vector<uint8_t> again(row.size());
      FilterPNGRow(4, row.data(), prior.data(), row.size(), bpp, again.data());
      EXPECT_EQ(again, filtered) << "bpp " << bpp;
    }
}
