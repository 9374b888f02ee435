// PNG encode and decode, ours against libpng at its default settings, and our
// deflate against zlib level 6 on the same filtered rows.  Sizes are counters.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "base/rounding.h"
#include "compress/deflate_stream.h"
#include "imaging/codecs/png_filter.h"
#include "imaging/codecs/png_loader.h"
#include "io/memory_stream.h"

#ifdef SQ_HAVE_PEERS
#include <png.h>
#include <zlib.h>
#endif

using namespace sq;
using Bytes = std::vector<uint8_t>;

namespace {

// 1920 x 1080: smooth lighting, hard-edged shapes and sensor-like noise.
TLinearBitmap MakePhoto() {
  const int w = 1920, h = 1080;
  TLinearBitmap b(w, h, pf24bit);
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0.0, 2.5);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < w; ++x, p += 3) {
      const double light = 0.5 + 0.5 * std::sin(x * 0.004 + y * 0.002) * std::cos(y * 0.003);
      double r = 60 + 150 * light, g = 80 + 120 * light * light, bl = 100 + 90 * (1 - light);
      const double dx = x - 1300.0, dy = y - 500.0;
      if (dx * dx + dy * dy < 250.0 * 250.0) r = 220 - 0.1 * dy, g = 40 + 0.05 * dx, bl = 30;
      if (x > 200 && x < 700 && y > 600 && y < 1000) r = 30, g = 30 + (x - 200) * 0.2, bl = 160;
      if ((x / 40 + y / 40) % 2 && y < 200) r *= 0.6, g *= 0.6, bl *= 0.6;
      p[0] = RoundToByte(bl + noise(rng));
      p[1] = RoundToByte(g + noise(rng));
      p[2] = RoundToByte(r + noise(rng));
    }
  }
  return b;
}

// 1024 x 1024 grey: flat areas, steps, stripes and a little noise, like a
// screenshot or a rendered depth map.
TLinearBitmap MakeSynthetic() {
  const int w = 1024, h = 1024;
  TLinearBitmap b(w, h, pf8bit);
  std::memcpy(b.Palette, GrayPalette(), 768);
  std::mt19937 rng(12);
  for (int y = 0; y < h; ++y) {
    uint8_t* p = b.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      int v = (x / 64) * 12 + (y / 128) * 5;
      if ((x - 512) * (x - 512) + (y - 400) * (y - 400) < 200 * 200) v = 230 - (y - 200) / 8;
      if (y > 800 && (x / 3) % 5 == 0) v = 20;
      if (rng() % 16 == 0) v += static_cast<int>(rng() % 5) - 2;
      p[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  }
  return b;
}

const TLinearBitmap& Image(int which) {
  static const TLinearBitmap photo = MakePhoto();
  static const TLinearBitmap synthetic = MakeSynthetic();
  return which == 0 ? photo : synthetic;
}

Bytes OurEncode(const TLinearBitmap& image) {
  TPNGLoader loader;
  TMemoryStream out;
  loader.SaveToStream(out, "PNG", image);
  return std::move(out.Data());
}

void OurDecode(const Bytes& file, TLinearBitmap& image) {
  TPNGLoader loader;
  TReadOnlyMemoryStream in(file);
  loader.LoadFromStream(in, "PNG", image);
}

// The filtered rows our writer compresses (filter choice -1).
Bytes FilteredRows(const TLinearBitmap& image) {
  const size_t rowBytes = static_cast<size_t>(image.Width) * image.PixelSize;
  Bytes rows, raw(rowBytes), prior(rowBytes, 0), line(rowBytes), scratch(5 * rowBytes);
  for (int y = 0; y < image.Height; ++y) {
    const uint8_t* s = image.ScanLine(y);
    for (size_t i = 0; i < rowBytes; i += image.PixelSize)
      for (int c = 0; c < image.PixelSize; ++c) raw[i + c] = s[i + image.PixelSize - 1 - c];
    rows.push_back(static_cast<uint8_t>(
        ChoosePNGFilter(-1, raw.data(), prior.data(), rowBytes, image.PixelSize, line.data(), scratch.data())));
    rows.insert(rows.end(), line.begin(), line.end());
    std::swap(raw, prior);
  }
  return rows;
}

const char* Name(int which) { return which == 0 ? "photo24" : "synthetic8"; }

void EncodeOurs(benchmark::State& state) {
  const TLinearBitmap& image = Image(static_cast<int>(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = OurEncode(image).size();
  state.counters["bytes"] = static_cast<double>(size);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

void DecodeOurs(benchmark::State& state) {
  const Bytes file = OurEncode(Image(static_cast<int>(state.range(0))));
  TLinearBitmap image;
  for (auto _ : state) OurDecode(file, image);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

void DeflateOurs(benchmark::State& state) {
  const Bytes rows = FilteredRows(Image(static_cast<int>(state.range(0))));
  size_t size = 0;
  for (auto _ : state) size = DeflateBytes(rows).size();
  state.counters["bytes"] = static_cast<double>(size);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

void InflateOurs(benchmark::State& state) {
  const Bytes rows = FilteredRows(Image(static_cast<int>(state.range(0))));
  const Bytes packed = DeflateBytes(rows);
  for (auto _ : state) benchmark::DoNotOptimize(InflateBytes(packed, rows.size()).size());
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

BENCHMARK(EncodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DeflateOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(InflateOurs)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

#ifdef SQ_HAVE_PEERS

Bytes LibpngEncode(const TLinearBitmap& image) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      nullptr);
  const bool colour = image.PixelFormat == pf24bit;
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.Width), static_cast<png_uint_32>(image.Height), 8,
               colour ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (colour) png_set_bgr(png);
  for (int y = 0; y < image.Height; ++y) png_write_row(png, const_cast<png_bytep>(image.ScanLine(y)));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct TSource {
  const Bytes* data;
  size_t at;
};

void LibpngDecode(const Bytes& file, TLinearBitmap& image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  TSource source{&file, 0};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return;
  }
  png_set_read_fn(png, &source, [](png_structp p, png_bytep out, png_size_t n) {
    auto* s = static_cast<TSource*>(png_get_io_ptr(p));
    if (s->at + n > s->data->size()) png_error(p, "end of data");
    std::memcpy(out, s->data->data() + s->at, n);
    s->at += n;
  });
  png_read_info(png, info);
  const bool colour = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB;
  if (colour) png_set_bgr(png);
  png_read_update_info(png, info);
  image.New(static_cast<int>(png_get_image_width(png, info)), static_cast<int>(png_get_image_height(png, info)),
            colour ? pf24bit : pf8bit);
  for (int y = 0; y < image.Height; ++y) png_read_row(png, image.ScanLine(y), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
}

void EncodeLibpng(benchmark::State& state) {
  const TLinearBitmap& image = Image(static_cast<int>(state.range(0)));
  size_t size = 0;
  for (auto _ : state) size = LibpngEncode(image).size();
  state.counters["bytes"] = static_cast<double>(size);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

// Both decoders read the same file: libpng's own.
void DecodeLibpng(benchmark::State& state) {
  const Bytes file = LibpngEncode(Image(static_cast<int>(state.range(0))));
  TLinearBitmap image;
  for (auto _ : state) LibpngDecode(file, image);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

void DecodeOursLibpngFile(benchmark::State& state) {
  const Bytes file = LibpngEncode(Image(static_cast<int>(state.range(0))));
  TLinearBitmap image;
  for (auto _ : state) OurDecode(file, image);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

Bytes ZlibRaw(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()));
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

void DeflateZlib6(benchmark::State& state) {
  const Bytes rows = FilteredRows(Image(static_cast<int>(state.range(0))));
  size_t size = 0;
  for (auto _ : state) size = ZlibRaw(rows).size();
  state.counters["bytes"] = static_cast<double>(size);
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

void InflateZlib(benchmark::State& state) {
  const Bytes rows = FilteredRows(Image(static_cast<int>(state.range(0))));
  const Bytes packed = DeflateBytes(rows);
  Bytes out(rows.size());
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    inflate(&z, Z_FINISH);
    inflateEnd(&z);
  }
  state.SetLabel(Name(static_cast<int>(state.range(0))));
}

BENCHMARK(EncodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeOursLibpngFile)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(DeflateZlib6)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(InflateZlib)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

#endif

}  // namespace
