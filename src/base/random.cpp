#include "base/random.h"

#include <cmath>

namespace sq {

namespace {
uint32_t gSeed = 0;

uint32_t Next() {
  gSeed = gSeed * 134775813u + 1u;
  return gSeed;
}
}  // namespace

void RandomSeed(uint32_t seed) { gSeed = seed; }

uint32_t RandomSeedValue() { return gSeed; }

double RandomUniform() { return Next() / 4294967296.0; }

uint32_t RandomInt(uint32_t range) { return static_cast<uint32_t>((static_cast<uint64_t>(Next()) * range) >> 32); }

double RandomGaussian(double mean, double spread) {
  double u1, u2, s;
  do {
    u1 = 2.0 * RandomUniform() - 1.0;
    u2 = 2.0 * RandomUniform() - 1.0;
    s = u1 * u1 + u2 * u2;
  } while (s >= 1.0 || s == 0.0);
  return mean + spread * u1 * std::sqrt(-2.0 * std::log(s) / s);
}

}  // namespace sq
