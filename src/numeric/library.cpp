#include "numeric/library.h"

#include <climits>
#include <cmath>
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/format.h"
#include "base/random.h"
#include "numeric/expression.h"
#include "numeric/optimization.h"

namespace sq {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Logarithms and the cotangent have a pole at 0: a division by zero, as the
// floating-point unit would report it.
long double PoleAtZero(long double x) {
  if (x == 0) throw EZeroDivide();
  return x;
}

long double ToInt32(long double x) {
  if (!(x >= INT32_MIN && x <= INT32_MAX)) throw EInvalidOp();
  return x;
}

long double Factorial(long double x) {
  const long double n = std::nearbyint(x);
  if (!(x >= 0) || !(std::fabs(x - n) <= 1e-6L)) throw Exception("Undefined");
  long double product = 1;
  // Stops at the first overflow (n = 1755), however large n is.
  for (long double i = 2; i <= n; ++i) {
    product *= i;
    if (std::isinf(product)) throw EOverflow();
  }
  return product;
}

long double Binary(long double x) {
  if (!std::isfinite(x) || x != std::trunc(x)) throw Exception("Invalid binary number");
  if (std::fabs(x) >= 1e17L) throw Exception("Max 16 bits in binary number");
  const std::string digits = Format("%.0Lf", x);
  if (digits.size() > 16) throw Exception("Max 16 bits in binary number");
  long double value = 0;
  for (char c : digits) {
    if (c != '0' && c != '1') throw Exception("Invalid binary number");
    value = value * 2 + (c - '0');
  }
  return value;
}

struct TLibraryFunction {
  const char* name;
  TStandardRoutine routine;
  const char* description;
};

const TLibraryFunction kFunctions[] = {
    {"sin", [](long double x) { return std::sin(x); }, ""},
    {"cos", [](long double x) { return std::cos(x); }, ""},
    {"tan", [](long double x) { return std::tan(x); }, ""},
    {"cot", [](long double x) { return std::cos(x) / PoleAtZero(std::sin(x)); }, ""},
    {"arctan", [](long double x) { return std::atan(x); }, ""},
    {"arccos", [](long double x) { return std::acos(x); }, ""},
    {"arcsin", [](long double x) { return std::asin(x); }, ""},
    {"sinh", [](long double x) { return std::sinh(x); }, ""},
    {"cosh", [](long double x) { return std::cosh(x); }, ""},
    {"tanh", [](long double x) { return std::tanh(x); }, ""},
    {"arccosh", [](long double x) { return std::acosh(x); }, ""},
    {"arcsinh", [](long double x) { return std::asinh(x); }, ""},
    {"arctanh",
     [](long double x) {
       if (std::fabs(x) == 1) throw EZeroDivide();
       return std::atanh(x);
     },
     ""},
    {"log10", [](long double x) { return std::log10(PoleAtZero(x)); }, "Base 10 logarithm"},
    {"log2", [](long double x) { return std::log2(PoleAtZero(x)); }, "Base 2 logarithm"},
    {"ln", [](long double x) { return std::log(PoleAtZero(x)); }, "Base e logarithm"},
    {"sqrt", [](long double x) { return std::sqrt(x); }, "Square root"},
    {"exp", [](long double x) { return std::exp(x); }, "e^x"},
    {"fac", Factorial, "x!"},
    {"abs", [](long double x) { return std::fabs(x); }, "|x|"},
    {"ceil", [](long double x) { return ToInt32(std::ceil(x)); }, "Rounds up toward positive infinity"},
    {"floor", [](long double x) { return ToInt32(std::floor(x)); }, "Rounds toward negative infinity"},
    {"round", [](long double x) { return std::nearbyint(x); }, "Round to nearest integer"},
    {"frac", [](long double x) { return x - std::trunc(x); }, "Fractional part of real number"},
    {"rand", [](long double x) { return static_cast<long double>(RandomUniform()) * x; }, "Random number in [0;x["},
    {"randn", [](long double x) { return static_cast<long double>(RandomGaussian(0, static_cast<double>(x))); },
     "Gaussian random number, StdDev=x"},
    {"bin", Binary, "Convert binary number"},
};

}  // namespace

void AddLibrarySymbols(TSymbolTable& table) {
  table.Add("pi", std::make_shared<TSymbolValue>(kPi));
  table.Add("e", std::make_shared<TSymbolValue>(std::exp(1.0L)));
  table.Add("inf", std::make_shared<TSymbolValue>(INFINITY));
  table.Add("kb", std::make_shared<TSymbolValue>(1024));
  table.Add("Mb", std::make_shared<TSymbolValue>(1048576));
  for (const TLibraryFunction& function : kFunctions)
    table.Add(function.name, std::make_shared<TStandardFunction>(function.routine, function.description));
  table.Add("num.argmin", std::make_shared<TOptimizationFunction>(omArgMin));
  table.Add("num.min", std::make_shared<TOptimizationFunction>(omMin));
  table.Add("num.root", std::make_shared<TOptimizationFunction>(omRoot));
  table.Add("num.solve", std::make_shared<TOptimizationFunction>(omSolve));
  table.Add("num.Guess", std::make_shared<TParameterValue>(0.500000001L));
}

TSymbolTable& StandardSymbols() {
  static TSymbolTable table;
  static const bool filled = (AddLibrarySymbols(table), true);
  (void)filled;
  return table;
}

}  // namespace sq
