// The process-wide pseudo-random generator: a 32-bit linear congruential generator
// (seed := seed * 134775813 + 1 modulo 2^32).  It is deliberately simple and
// reseedable, so that the warp fit gives the same result for the same points.
#pragma once

#include <cstdint>

namespace sq {

void RandomSeed(uint32_t seed);
uint32_t RandomSeedValue();

// Advances the generator and returns seed / 2^32, in [0, 1).
double RandomUniform();

// Advances the generator and returns a whole number in [0, range).
uint32_t RandomInt(uint32_t range);

// Gaussian deviate by the polar method: u1 = 2r - 1, u2 = 2r - 1 until
// s = u1^2 + u2^2 < 1 (and s > 0); the result is mean + spread * u1 * sqrt(-2 ln s / s).
double RandomGaussian(double mean, double spread);

}  // namespace sq
