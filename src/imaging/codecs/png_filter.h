// The five PNG row filters (None, Sub, Up, Average, Paeth) and the writer's choice
// among them.  bpp is the distance in bytes to the corresponding byte of the pixel
// to the left (at least 1); prior is the unfiltered row above, zeros for the first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sq {

// The filter type byte of each row in the file.
enum TPNGFilter { pngFilterNone = 0, pngFilterSub = 1, pngFilterUp = 2, pngFilterAverage = 3, pngFilterPaeth = 4 };

// Undoes filter on row in place; raises "Invalid PNG data" for an unknown filter.
void UnfilterPNGRow(int filter, uint8_t* row, const uint8_t* prior, size_t size, int bpp);

// Writes row filtered with filter (0..4) to out.
void FilterPNGRow(int filter, const uint8_t* row, const uint8_t* prior, size_t size, int bpp, uint8_t* out);

// Filters the row by the setting and returns the filter used: 0..4 that filter;
// -2 the filter whose output has most bytes equal to the four before them; any
// other value (-1) the one with the least sum of the bytes read as signed
// numbers.  The first of equally good filters wins.  scratch holds 5 * size bytes.
int ChoosePNGFilter(int setting, const uint8_t* row, const uint8_t* prior, size_t size, int bpp, uint8_t* out,
                    uint8_t* scratch);

}  // namespace sq
