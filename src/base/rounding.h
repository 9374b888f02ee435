// Rounding helpers.  "Round" in this program always means halves to even, which is
// what nearbyint gives under the default rounding mode (std::round would round
// halves away from zero).
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

template <class T>
inline T Clamp(T value, T low, T high) {
  return value < low ? low : (value > high ? high : value);
}

}  // namespace sq
