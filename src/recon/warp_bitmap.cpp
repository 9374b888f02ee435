#include "recon/warp_bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/exception.h"
#include "base/parallel.h"
#include "base/rounding.h"

namespace sq {

namespace {

// TLinearBitmap fills take platform colours 0x00BBGGRR.
uint32_t PlatformColor(uint32_t pixelValue) {
  return ((pixelValue & 0xFF) << 16) | (pixelValue & 0xFF00) | ((pixelValue >> 16) & 0xFF);
}

struct TTargetBox {
  double Left, Top, Right, Bottom;
};

TTargetBox TargetBox(const PointTransform& m, int w, int h, bool autoCrop) {
  const TPointF corners[4] = {TransformPoint(m, 0, 0), TransformPoint(m, 0, h - 1), TransformPoint(m, w - 1, h - 1),
                              TransformPoint(m, w - 1, 0)};
  double xs[4], ys[4];
  for (int i = 0; i < 4; ++i) {
    xs[i] = corners[i].X;
    ys[i] = corners[i].Y;
  }
  std::sort(xs, xs + 4);
  std::sort(ys, ys + 4);
  // Auto crop keeps the box inside the mapped quadrilateral's middle corners, which
  // trims most of the wedges that no source pixel covers.
  const int lo = autoCrop ? 1 : 0, hi = autoCrop ? 2 : 3;
  return {xs[lo], ys[lo], xs[hi], ys[hi]};
}

}  // namespace

void WarpBitmap(const TLinearBitmap& source, TLinearBitmap& destination, const PointTransform& transform,
                TIntPoint& origin, uint32_t fillColor, bool autoCrop) {
  if (!source.Present) throw ELinearBitmap("Unsupported pixel format");
  // Only one-byte grey pixels take the grey path, so 16-bit grey goes through 24 bits.
  TLinearBitmap converted;
  const TLinearBitmap* src = &source;
  if (source.PixelFormat == pf16bit) {
    converted.Assign(source);
    converted.SetPixelFormat(pf24bit);
    src = &converted;
  }
  const int channels = src->PixelFormat == pf24bit ? 3 : (src->PixelFormat == pf8bit && src->IsGrayScale() ? 1 : 0);
  if (channels == 0) throw ELinearBitmap("Unsupported pixel format");
  const int w = src->Width, h = src->Height;

  // Step 1: the destination rectangle from the mapped corners.
  const TTargetBox box = TargetBox(transform, w, h, autoCrop);
  const double width = std::ceil(box.Right - box.Left), height = std::ceil(box.Bottom - box.Top);
  // An origin beyond 32 bits could never overlap image 1 either.
  if (!(std::max(width, height) <= kMaxWarpSize) || !(std::fabs(box.Left) < 1e9) || !(std::fabs(box.Top) < 1e9))
    throw Exception("Invalid transformation");

  // Step 2: the inverse maps destination pixels back into the source.
  PointTransform inverse = transform;
  InvertTransform(inverse);
  origin = {RoundInt(box.Left), RoundInt(box.Top)};
  if (width < 1 || height < 1) {
    destination.Dispose();
    return;
  }

  // Step 3: resample, one bilinear sample per destination pixel.
  destination.New(static_cast<int>(width), static_cast<int>(height), src->PixelFormat);
  if (channels == 1) std::memcpy(destination.Palette, src->Palette, 768);
  destination.ClearColor(PlatformColor(fillColor));
  const PointTransform& m = inverse;
  // Rows depend on nothing but their own coordinates: they are shared out among
  // the cores.
  ForEachRow(destination.Height, int64_t(destination.Width) * 40, true, [&](int y, int) {
    uint8_t* out = destination.ScanLine(y);
    const double ty = y + box.Top;
    for (int x = 0; x < destination.Width; ++x, out += channels) {
      const double tx = x + box.Left;
      const double wh = tx * m[6] + ty * m[7] + m[8];
      // A point on the inverse's line at infinity lies outside every source.
      if (wh == 0.0) continue;
      const double r = 1.0 / wh;
      const double sx = (tx * m[0] + ty * m[1] + m[2]) * r, sy = (tx * m[3] + ty * m[4] + m[5]) * r;
      if (!(sx >= 0.0 && sy >= 0.0 && sx < w && sy < h)) continue;
      const int ix = static_cast<int>(sx), iy = static_cast<int>(sy);
      const double fx = sx - ix, fy = sy - iy;
      const uint8_t* p = src->PixelAddress(ix, iy);
      if (ix < w - 1 && iy < h - 1) {
        const uint8_t* below = p + src->BytesPerLine;
        for (int c = 0; c < channels; ++c) {
          const double v = p[c] * (1 - fx) * (1 - fy) + p[c + channels] * fx * (1 - fy) + below[c] * fy * (1 - fx) +
                           below[c + channels] * fx * fy;
          out[c] = RoundToByte(v);
        }
      } else {
        // The last source row or column has no neighbour to blend with.
        std::memcpy(out, p, static_cast<size_t>(channels));
      }
    }
  });
}

TCommonArea CropToCommonArea(const TLinearBitmap& image1, TLinearBitmap& warped, TIntPoint origin, uint32_t fillColor,
                             TLinearBitmap& result1, TLinearBitmap& result2) {
  const int64_t left = std::max<int64_t>(0, origin.X), top = std::max<int64_t>(0, origin.Y);
  const int64_t right = std::min<int64_t>(image1.Width, int64_t(origin.X) + warped.Width);
  const int64_t bottom = std::min<int64_t>(image1.Height, int64_t(origin.Y) + warped.Height);
  if (!image1.Present || !warped.Present || right <= left || bottom <= top)
    throw Exception("Image 2 does not overlap image 1 after the warp; check the point pairs");
  const TCommonArea area{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                         static_cast<int>(bottom - top)};
  const uint32_t fill = PlatformColor(fillColor);
  result1.Assign(image1);
  result1.ResizeCanvas(area.Width, area.Height, fill, -area.Top, -area.Left);
  result2.TakeOver(warped);
  result2.ResizeCanvas(area.Width, area.Height, fill, origin.Y - area.Top, origin.X - area.Left);
  return area;
}

}  // namespace sq
