// The two square-window filters that clean a dispersion map before depth
// conversion: a median that removes isolated wrong matches and a mean that turns
// the integral steps into slopes.  Windows are clipped at the map's border; every
// output is computed from the unfiltered values.
#pragma once

#include "imaging/float_map.h"

namespace sq {

// The K-th smallest of the count values (K counts from 1; 0 counts as 1) by Hoare's
// partition-based selection.  Reorders the values.
double SelectRank(double* values, int count, int rank);

// Window offsets lo = -(size / 2) ... lo + size - 1: symmetric for odd sizes, one
// further towards smaller coordinates for even ones.  Sizes below 1 raise.
// The median outputs the value of rank k / 2 of the k values of the clipped window
// (one below the middle for odd k).
void MedianFilterMap(TFloatMap& map, int size);
// The plain mean of the clipped window, summed row by row, left to right.
void SmoothFilterMap(TFloatMap& map, int size);
// The same filters with the result in target, which may be the map itself; the map
// is left as it is otherwise.
void MedianFilterMap(const TFloatMap& map, TFloatMap& target, int size);
void SmoothFilterMap(const TFloatMap& map, TFloatMap& target, int size);

}  // namespace sq
