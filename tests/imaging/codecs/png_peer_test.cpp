// Our PNG codec against libpng (reading its files and the PNG suite, and having it
// read ours) and against pngcheck.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/exception.h"
#include "imaging/codecs/png_loader.h"
#include "io/memory_stream.h"
#include "support/temp_dir.h"

#ifdef SQ_HAVE_PEERS
#include <png.h>

using namespace sq;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

namespace {

// What libpng makes of a file: samples one per byte (16-bit grey kept whole,
// 16-bit colour cut to the high byte), palette indices unexpanded.
struct TReference {
  int width = 0, height = 0, colorType = 0, depth = 0;
  size_t rowBytes = 0;
  Bytes pixels;
  std::vector<png_color> palette;
};

struct TReadSource {
  const Bytes* data;
  size_t at;
};

std::optional<TReference> LibpngDecode(const Bytes& file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  TReadSource source{&file, 0};
  TReference ref;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return std::nullopt;
  }
  png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t n) {
    auto* s = static_cast<TReadSource*>(png_get_io_ptr(p));
    if (s->at + n > s->data->size()) png_error(p, "end of data");
    std::memcpy(out, s->data->data() + s->at, n);
    s->at += n;
  });
  png_read_info(png, info);
  ref.width = static_cast<int>(png_get_image_width(png, info));
  ref.height = static_cast<int>(png_get_image_height(png, info));
  ref.colorType = png_get_color_type(png, info);
  ref.depth = png_get_bit_depth(png, info);
  png_set_packing(png);
  if (ref.depth == 16 && (ref.colorType & PNG_COLOR_MASK_COLOR)) png_set_strip_16(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  ref.rowBytes = png_get_rowbytes(png, info);
  ref.pixels.resize(ref.rowBytes * static_cast<size_t>(ref.height));
  for (int y = 0; y < ref.height; ++y) rows.push_back(ref.pixels.data() + static_cast<size_t>(y) * ref.rowBytes);
  png_read_image(png, rows.data());
  png_colorp palette;
  int count = 0;
  if (png_get_PLTE(png, info, &palette, &count)) ref.palette.assign(palette, palette + count);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return ref;
}

// Compares our bitmap (and alpha) with libpng's samples; returns the first difference.
std::string Difference(const TLinearBitmap& ours, const TLinearBitmap* alpha, const TReference& ref) {
  if (ours.Width != ref.width || ours.Height != ref.height) return "size";
  const bool grey16 = ref.depth == 16 && !(ref.colorType & PNG_COLOR_MASK_COLOR);
  const int channels = ref.colorType == 2 ? 3 : ref.colorType == 4 ? 2 : ref.colorType == 6 ? 4 : 1;
  const int sampleBytes = grey16 ? 2 : 1;
  for (int y = 0; y < ref.height; ++y)
    for (int x = 0; x < ref.width; ++x) {
      const uint8_t* r =
          ref.pixels.data() + static_cast<size_t>(y) * ref.rowBytes + static_cast<size_t>(x) * channels * sampleBytes;
      const uint8_t* o = ours.PixelAddress(x, y);
      bool same = true;
      if (grey16)
        same = o[0] == r[1] && o[1] == r[0];
      else if (ref.colorType & PNG_COLOR_MASK_COLOR && ref.colorType != 3)
        same = o[0] == r[2] && o[1] == r[1] && o[2] == r[0];
      else
        same = o[0] == r[0];
      if (ref.colorType & PNG_COLOR_MASK_ALPHA) {
        const uint8_t a = r[(channels - 1) * sampleBytes];
        same = same && alpha && alpha->PixelAddress(x, y)[0] == a;
      }
      if (!same) return "pixel " + std::to_string(x) + "," + std::to_string(y);
    }
  if (ref.colorType == 3)
    for (size_t i = 0; i < ref.palette.size(); ++i)
      if (ours.Palette[3 * i + 2] != ref.palette[i].red || ours.Palette[3 * i + 1] != ref.palette[i].green ||
          ours.Palette[3 * i] != ref.palette[i].blue)
        return "palette entry " + std::to_string(i);
  return "";
}

Bytes LibpngEncode(int width, int height, int colorType, int depth, int interlace, unsigned seed) {
  std::mt19937 rng(seed);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write";
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth, colorType,
               interlace, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(static_cast<size_t>(1) << std::min(depth, 8));
  for (auto& c : palette)
    c = {static_cast<png_byte>(rng()), static_cast<png_byte>(rng()), static_cast<png_byte>(rng())};
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  // Smooth content with some noise, so that every filter and match kind shows up.
  Bytes pixels(rowBytes * static_cast<size_t>(height));
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<uint8_t>((i % rowBytes) / 3 + i / rowBytes * 2 + (rng() % 4 == 0 ? rng() : 0));
  std::vector<png_bytep> rows;
  for (int y = 0; y < height; ++y) rows.push_back(pixels.data() + static_cast<size_t>(y) * rowBytes);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

TLinearBitmap Load(TPNGLoader& loader, const Bytes& file) {
  TReadOnlyMemoryStream s(file);
  TLinearBitmap b;
  loader.LoadFromStream(s, "PNG", b);
  return b;
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(PngPeer, ReadsWhatLibpngWritesInEveryLayout) {
  const std::vector<std::pair<int, std::vector<int>>> layouts = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  TPNGLoader loader;
  loader.LoadExtras = true;
  unsigned seed = 1;
  for (const auto& [colorType, depths] : layouts)
    for (int depth : depths)
      for (int interlace : {0, 1})
        for (auto [w, h] : {std::pair{37, 23}, std::pair{5, 3}}) {
          const Bytes file = LibpngEncode(w, h, colorType, depth, interlace, seed++);
          const auto ref = LibpngDecode(file);
          ASSERT_TRUE(ref);
          const TLinearBitmap ours = Load(loader, file);
          EXPECT_EQ(Difference(ours, loader.AlphaChannel.get(), *ref), "")
              << "type " << colorType << " depth " << depth << " interlace " << interlace << " " << w << "x" << h;
        }
}

TEST(PngPeer, ReadsThePngSuiteLikeLibpng) {
  const fs::path suite = fs::path(SQ_TESTDATA_DIR) / "pngsuite";
  if (!fs::is_directory(suite)) GTEST_SKIP() << "no PNG suite at " << suite;
  TPNGLoader loader;
  loader.LoadExtras = true;
  int read = 0, refused = 0;
  for (const auto& entry : fs::directory_iterator(suite)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    const Bytes file = ReadFile(entry.path());
    if (name[0] == 'x') {
      EXPECT_THROW(Load(loader, file), Exception) << name;
      ++refused;
      continue;
    }
    const auto ref = LibpngDecode(file);
    ASSERT_TRUE(ref) << name;
    try {
      const TLinearBitmap ours = Load(loader, file);
      EXPECT_EQ(Difference(ours, loader.AlphaChannel.get(), *ref), "") << name;
      ++read;
    } catch (const Exception& e) {
      ADD_FAILURE() << name << ": " << e.what();
    }
  }
  EXPECT_GT(read, 100);
  EXPECT_GT(refused, 10);
}

TEST(PngPeer, LibpngAndPngcheckAcceptWhatWeWrite) {
  const test::TTempDir dir;
  const bool havePngcheck = std::system("command -v pngcheck > /dev/null 2>&1") == 0;
  std::mt19937 rng(5);
  TLinearBitmap rgb(97, 61, pf24bit), grey(64, 40, pf8bit), colour(50, 30, pf8bit), deep(31, 17, pf16bit);
  for (int64_t i = 0; i < rgb.Size; ++i) rgb.Map[i] = static_cast<uint8_t>(i % 291 / 3 + rng() % 8);
  for (int64_t i = 0; i < deep.Size; ++i) deep.Map[i] = static_cast<uint8_t>(rng());
  std::memcpy(grey.Palette, GrayPalette(), 768);
  for (int64_t i = 0; i < grey.Size; ++i) grey.Map[i] = static_cast<uint8_t>(i / 7);
  for (int i = 0; i < 768; ++i) colour.Palette[i] = static_cast<uint8_t>(rng());

  struct TCase {
    const TLinearBitmap* image;
    int bits, filter, transparent, maxIndex;
    double gamma;
  };
  const TCase cases[] = {{&rgb, 8, -1, 0x102030, 0, 0.45455}, {&rgb, 8, 4, -1, 0, 0},     {&rgb, 8, -2, -1, 0, 0},
                         {&grey, 8, -1, 17, 0, 1.0},          {&deep, 16, -1, 300, 0, 0}, {&colour, 8, -1, 3, 255, 2.2},
                         {&colour, 4, 3, 1, 15, 0},           {&colour, 2, -1, -1, 3, 0}, {&colour, 1, 1, 0, 1, 0}};
  TPNGLoader loader;
  int n = 0;
  for (const TCase& c : cases) {
    TLinearBitmap image = *c.image;
    if (image.PixelFormat == pf8bit && c.image == &colour)
      for (int64_t i = 0; i < image.Size; ++i) image.Map[i] = static_cast<uint8_t>(rng() % (c.maxIndex + 1));
    loader.BitsPerPixel = c.bits;
    loader.Filter = c.filter;
    loader.TransparentColor = c.transparent;
    loader.Gamma = c.gamma;
    TMemoryStream out;
    loader.SaveToStream(out, "PNG", image);
    const std::string where = "case " + std::to_string(n);
    const auto ref = LibpngDecode(out.Data());
    ASSERT_TRUE(ref) << where;
    EXPECT_EQ(ref->depth, c.bits) << where;
    EXPECT_EQ(Difference(image, nullptr, *ref), "") << where;
    if (havePngcheck) {
      const std::string path =
          dir.Write("case" + std::to_string(n) + ".png",
                    std::string_view(reinterpret_cast<const char*>(out.Data().data()), out.Data().size()));
      EXPECT_EQ(std::system(("pngcheck -q " + path + " > /dev/null").c_str()), 0) << where;
    }
    ++n;
  }
  if (!havePngcheck) GTEST_SKIP() << "pngcheck is not installed; libpng checks ran";
}

#else
TEST(PngPeer, NeedsLibpng) { GTEST_SKIP() << "built without libpng and zlib"; }
#endif
