// The colour mapper's "Expression" preset: a formula of the expression language over
// the input level x, its histogram count hx and the histogram total count.
#pragma once

#include <string_view>

#include "imaging/histogram.h"

namespace sq {

class TSymbolTable;

// The preset's starting text: a running sum of the counts, i.e. the equalizing map.
inline constexpr const char* kDefaultMapExpression = ":s=s*(x>0)+hx; s/count";

// Evaluates text for levels 0..255 in order, with x, hx and count bound in table
// (nullptr: the standard symbols) for the call.  With unitRange x is level / 255 and
// the result is multiplied by 255.  Entries: 0 when negative (or not a number), 255
// from 255 up, otherwise rounded.  Errors of the expression propagate and no map is
// returned.
ToneMap MakeExpressionMap(std::string_view text, const LevelHistogram& histogram, bool unitRange = true,
                          TSymbolTable* table = nullptr);

}  // namespace sq
