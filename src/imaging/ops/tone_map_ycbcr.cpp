#include "imaging/ops/tone_map_ycbcr.h"

#include <cstring>

#include "base/exception.h"
#include "imaging/ops/filters_rows.h"

namespace sq {

namespace {

constexpr double kForward[3][4] = {
    {0.299, 0.587, 0.114, 0.0},
    {-0.16875, -0.33126, 0.5, 127.5},
    {0.5, -0.41869, -0.08131, 127.5},
};

struct TInverse {
  double m[3][4];
  TInverse() {
    const auto& a = kForward;
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        // Cofactor of a[c][r] over the determinant.
        const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
        m[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
      }
    for (int r = 0; r < 3; ++r) m[r][3] = -(m[r][0] * a[0][3] + m[r][1] * a[1][3] + m[r][2] * a[2][3]);
  }
};

const TInverse& Inverse() {
  static const TInverse inverse;
  return inverse;
}

// Products coefficient * level for every level, so a pixel costs nine look-ups.
struct TProductTables {
  double t[3][3][256];
  double offset[3];
  explicit TProductTables(const double (&m)[3][4]) {
    for (int r = 0; r < 3; ++r) {
      offset[r] = m[r][3];
      for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) t[r][c][v] = m[r][c] * v;
    }
  }
  uint8_t Row(int r, int a, int b, int c) const {
    return RoundClampByte(t[r][0][a] + t[r][1][b] + t[r][2][c] + offset[r]);
  }
};

void NewPlane(TLinearBitmap& plane, int width, int height) {
  plane.New(width, height, pf8bit);
  std::memcpy(plane.Palette, GrayPalette(), 768);
}

}  // namespace

const double (&YCbCrForward())[3][4] { return kForward; }
const double (&YCbCrInverse())[3][4] { return Inverse().m; }

void SplitYCbCr(const TLinearBitmap& bitmap, TLinearBitmap& y, TLinearBitmap& cb, TLinearBitmap& cr) {
  if (!bitmap.Present || bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  static const TProductTables tables(kForward);
  const int w = bitmap.Width;
  NewPlane(y, w, bitmap.Height);
  NewPlane(cb, w, bitmap.Height);
  NewPlane(cr, w, bitmap.Height);
  ForEachRow(bitmap.Height, w, false, [&](int row, int) {
    const uint8_t* in = bitmap.ScanLine(row);
    uint8_t* py = y.ScanLine(row);
    uint8_t* pb = cb.ScanLine(row);
    uint8_t* pr = cr.ScanLine(row);
    for (int x = 0; x < w; ++x, in += 3) {
      py[x] = tables.Row(0, in[2], in[1], in[0]);
      pb[x] = tables.Row(1, in[2], in[1], in[0]);
      pr[x] = tables.Row(2, in[2], in[1], in[0]);
    }
  });
}

void ExtractLuminance(const TLinearBitmap& bitmap, TLinearBitmap& y) {
  if (!bitmap.Present || bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  static const TProductTables tables(kForward);
  const int w = bitmap.Width;
  NewPlane(y, w, bitmap.Height);
  ForEachRow(bitmap.Height, w, false, [&](int row, int) {
    const uint8_t* in = bitmap.ScanLine(row);
    uint8_t* py = y.ScanLine(row);
    for (int x = 0; x < w; ++x, in += 3) py[x] = tables.Row(0, in[2], in[1], in[0]);
  });
}

void ShiftLuminance(TLinearBitmap& bitmap, const TLinearBitmap& oldY, const TLinearBitmap& newY) {
  if (!bitmap.Present || bitmap.PixelFormat != pf24bit) throw ELinearBitmap("Unsupported pixel format");
  for (const TLinearBitmap* plane : {&oldY, &newY})
    if (!plane->Present || plane->PixelFormat != pf8bit || plane->Width != bitmap.Width ||
        plane->Height != bitmap.Height)
      throw ELinearBitmap("Invalid bitmap size");
  const int w = bitmap.Width;
  ForEachRow(bitmap.Height, w, false, [&](int row, int) {
    const uint8_t* before = oldY.ScanLine(row);
    const uint8_t* after = newY.ScanLine(row);
    uint8_t* p = bitmap.ScanLine(row);
    for (int x = 0; x < w; ++x, p += 3) {
      const int change = after[x] - before[x];
      if (change == 0) continue;
      p[0] = ClampToByte(p[0] + change);
      p[1] = ClampToByte(p[1] + change);
      p[2] = ClampToByte(p[2] + change);
    }
  });
}

void MergeYCbCr(const TLinearBitmap& y, const TLinearBitmap& cb, const TLinearBitmap& cr, TLinearBitmap& target) {
  for (const TLinearBitmap* plane : {&y, &cb, &cr}) {
    if (!plane->Present || plane->PixelFormat != pf8bit) throw ELinearBitmap("Unsupported pixel format");
    if (plane->Width != y.Width || plane->Height != y.Height) throw ELinearBitmap("Invalid bitmap size");
    if (plane == &target) {
      TLinearBitmap result;
      MergeYCbCr(y, cb, cr, result);
      target.TakeOver(result);
      return;
    }
  }
  static const TProductTables tables(Inverse().m);
  const int w = y.Width;
  target.New(w, y.Height, pf24bit);
  ForEachRow(y.Height, w, false, [&](int row, int) {
    const uint8_t* py = y.ScanLine(row);
    const uint8_t* pb = cb.ScanLine(row);
    const uint8_t* pr = cr.ScanLine(row);
    uint8_t* out = target.ScanLine(row);
    for (int x = 0; x < w; ++x, out += 3) {
      out[2] = tables.Row(0, py[x], pb[x], pr[x]);
      out[1] = tables.Row(1, py[x], pb[x], pr[x]);
      out[0] = tables.Row(2, py[x], pb[x], pr[x]);
    }
  });
}

}  // namespace sq
