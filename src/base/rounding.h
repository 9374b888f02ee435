// The rounding helpers.  "Round" in this program always means halves to even, which
// is what nearbyint gives under the default rounding mode (std::round would round
// halves away from zero); the RoundEven family gives the same results faster for hot
// loops.
#pragma once

#include <cmath>
#include <cstdint>

namespace sq {

inline double RoundHalfEven(double value) { return std::nearbyint(value); }

inline int64_t Round(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

inline int RoundInt(double value) { return static_cast<int>(std::nearbyint(value)); }

inline int64_t Trunc(double value) { return static_cast<int64_t>(value); }

inline double Frac(double value) { return value - std::trunc(value); }

// Clamps to 0..255 after rounding halves to even.
inline uint8_t RoundToByte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<uint8_t>(std::nearbyint(value));
}

// Halves to even, like nearbyint, for |value| < 2^51: adding 1.5 * 2^52 pushes the
// fraction out of the mantissa under the default rounding mode.
inline double RoundEven(double value) {
  constexpr double kMagic = 6755399441055744.0;
  return (value + kMagic) - kMagic;
}
inline int RoundEvenInt(double value) { return static_cast<int>(RoundEven(value)); }

// Keeps an integer within 0..255.
inline uint8_t ClampToByte(int value) { return static_cast<uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value)); }

// Round to nearest (halves to even) and clamp to 0..255; NaN gives 0.
inline uint8_t RoundClampByte(double value) {
  if (!(value > 0.0)) return 0;
  if (value >= 255.0) return 255;
  return static_cast<uint8_t>(RoundEvenInt(value));
}

// a / b for b > 0, rounded halves to even, exactly.
inline int64_t DivRoundEven(int64_t a, int64_t b) {
  int64_t q = a / b, r = a % b;
  if (r < 0) {
    r += b;
    --q;
  }
  if (2 * r > b || (2 * r == b && (q & 1))) ++q;
  return q;
}

template <class T>
inline T Clamp(T value, T low, T high) {
  return value < low ? low : (value > high ? high : value);
}

}  // namespace sq
