// What the processor offers beyond the baseline the program is built for, asked once.
// Kernels with AVX2 versions keep a plain path that gives the same result, and take
// the vector one only where this says it runs.
#pragma once

namespace sq {

inline bool HaveAvx2() {
#if defined(__x86_64__) || defined(__i386__)
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
#else
  return false;
#endif
}

}  // namespace sq
