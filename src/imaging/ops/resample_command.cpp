#include "imaging/ops/resample_command.h"

#include "base/exception.h"
#include "imaging/ops/resample.h"
#include "imaging/ops/resample_kernel.h"

namespace sq {

const char* ResizeMethodName(int method) {
  static const char* const names[] = {"Bilinear interpolation", "Low pass filter", "Pixel resize", "Spline", "sinc"};
  if (method < rmBilinear || method > rmSinc) throw Exception("Resampling method not implemented");
  return names[method];
}

std::vector<int> ResizeMethods(const TLinearBitmap& bitmap) {
  if (bitmap.Present && bitmap.PixelFormat == pf8bit && !bitmap.IsGrayScale()) return {rmPixel};
  return {rmBilinear, rmLowPass, rmPixel, rmSpline, rmSinc};
}

void ApplyResizeMethod(TLinearBitmap& bitmap, int width, int height, int method) {
  if (method < rmBilinear || method > rmSinc) throw Exception("Resampling method not implemented");
  if (bitmap.Present && width == bitmap.Width && height == bitmap.Height) return;
  if (bitmap.Present && bitmap.Width == 1 && bitmap.Height == 1) method = rmPixel;
  switch (method) {
    case rmBilinear:
      Resize(bitmap, width, height);
      break;
    case rmLowPass:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::LowPass);
      break;
    case rmPixel:
      PixelResize(bitmap, width, height, bitmap);
      break;
    case rmSpline:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::Spline);
      break;
    case rmSinc:
      KernelResize(bitmap, width, height, bitmap, TLineFilterKind::Sinc);
      break;
  }
}

}  // namespace sq
