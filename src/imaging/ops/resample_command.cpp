#include "imaging/ops/resample_command.h"

#include "base/exception.h"
#include "imaging/ops/resample.h"
#include "imaging/ops/resample_kernel.h"

namespace sq {

namespace {

bool Known(TResizeMethod method) { return method >= TResizeMethod::Bilinear && method <= TResizeMethod::Sinc; }

}  // namespace

const char* ResizeMethodName(TResizeMethod method) {
  static const char* const names[] = {"Bilinear interpolation", "Low pass filter", "Pixel resize", "Spline", "sinc"};
  if (!Known(method)) throw Exception("Resampling method not implemented");
  return names[static_cast<int>(method)];
}

std::vector<TResizeMethod> ResizeMethods(const TLinearBitmap& bitmap) {
  using enum TResizeMethod;
  if (bitmap.Present && bitmap.PixelFormat == pf8bit && !bitmap.IsGrayScale()) return {Pixel};
  return {Bilinear, LowPass, Pixel, Spline, Sinc};
}

void ApplyResizeMethod(TLinearBitmap& bitmap, int width, int height, TResizeMethod method) {
  using enum TResizeMethod;
  if (!Known(method)) throw Exception("Resampling method not implemented");
  if (bitmap.Present && width == bitmap.Width && height == bitmap.Height) return;
  if (bitmap.Present && bitmap.Width == 1 && bitmap.Height == 1) method = Pixel;
  switch (method) {
    case Bilinear:
      Resize(bitmap, width, height);
      break;
    case LowPass:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::LowPass);
      break;
    case Pixel:
      PixelResize(bitmap, width, height, bitmap);
      break;
    case Spline:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::Spline);
      break;
    case Sinc:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::Sinc);
      break;
  }
}

}  // namespace sq
