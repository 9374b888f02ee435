// Random text must give a value, an expression error or a floating-point error, and
// nothing else: any other exception escapes so that the fuzzer reports it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/exception.h"
#include "numeric/expression.h"
#include "numeric/library.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh table each time, so that one input's definitions cannot mask another's
  // faults; the first byte chooses the evaluation flags.
  sq::TSymbolTable table;
  sq::AddLibrarySymbols(table);
  bool valueRequired = true;
  if (size > 0) {
    table.RaiseOnUndefined = (data[0] & 1) != 0;
    valueRequired = (data[0] & 2) != 0;
    ++data;
    --size;
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    sq::EvaluateExpression(text, &table, valueRequired);
  } catch (const sq::EExpressionError&) {
  } catch (const sq::EMathError&) {
  }
  return 0;
}
