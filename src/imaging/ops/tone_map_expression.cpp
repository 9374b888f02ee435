#include "imaging/ops/tone_map_expression.h"

#include <cmath>

#include "numeric/expression.h"
#include "numeric/library.h"
#include "numeric/symbol_table.h"

namespace sq {

ToneMap MakeExpressionMap(std::string_view text, const LevelHistogram& histogram, bool unitRange, TSymbolTable* table) {
  TSymbolTable& symbols = table ? *table : StandardSymbols();
  uint64_t total = 0;
  for (const uint32_t count : histogram.Counts) total += count;
  TScopedSymbolValue x(symbols, "x"), hx(symbols, "hx"), count(symbols, "count", static_cast<long double>(total));
  ToneMap map;
  for (int i = 0; i < 256; ++i) {
    x.SetValue(unitRange ? i / 255.0L : i);
    hx.SetValue(histogram.Counts[i]);
    long double value = EvaluateExpression(text, &symbols, true);
    if (unitRange) value *= 255;
    map[i] = value >= 255 ? 255 : (value > 0 ? static_cast<uint8_t>(std::nearbyint(value)) : 0);
  }
  return map;
}

}  // namespace sq
