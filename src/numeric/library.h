// The function library of the expression language and the process-wide table.
#pragma once

#include "numeric/symbol_table.h"

namespace sq {

// Adds the library to a table: the values pi, e, inf, kb, Mb; the functions sin, cos,
// tan, cot, arctan, arccos, arcsin, sinh, cosh, tanh, arccosh, arcsinh, arctanh, log10,
// log2, ln, sqrt, exp, fac, abs, ceil, floor, round, frac, rand, randn, bin; the solvers
// num.argmin, num.min, num.root, num.solve; and the solver's start value num.Guess.
// Existing entries of those names are replaced.
void AddLibrarySymbols(TSymbolTable& table);

// The one process-wide table every field and prompt evaluates against, filled with the
// library on first use.  Definitions made in any expression stay in it for the rest of
// the run.  Used from the user-interface thread only.
TSymbolTable& StandardSymbols();

}  // namespace sq
