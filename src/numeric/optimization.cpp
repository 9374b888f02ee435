#include "numeric/optimization.h"

#include <cmath>
#include <string>

namespace sq {

namespace {

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
}
bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

[[noreturn]] void Raise(const char* message, size_t offset) {
  throw EExpressionError(message, static_cast<int>(offset) + 1);
}

// Results this close to 0 or this far out are noise of the search, not answers.
long double ClampResult(long double r) {
  if (std::fabs(r) < 1e-100L) return 0;
  if (r > 1e100L) return INFINITY;
  if (r < -1e100L) return -INFINITY;
  return r;
}

}  // namespace

TSearchResult PatternSearch1D(const std::function<long double(long double)>& f, long double x0) {
  long double x = x0;
  long double best = f(x);
  long double step = 1;
  auto trial = [&f](long double t) -> long double {
    try {
      return f(t);
    } catch (const EMathError&) {
      return NAN;  // compares as no improvement
    }
  };
  for (int iteration = 0; iteration < 5000; ++iteration) {
    long double t = x + step;
    if (t == x) break;
    long double value = trial(t);
    if (value < best) {
      x = t;
      best = value;
      step *= 1.1L;
      continue;
    }
    t = x - step;
    value = trial(t);
    if (value < best) {
      x = t;
      best = value;
      step *= -1.1L;  // keep going in the direction that helped
    } else {
      step /= 2;
    }
  }
  return {x, best};
}

long double TOptimizationFunction::Evaluate(TSymbolTable& table, std::string_view text, size_t& offset) {
  const size_t argumentStart = offset;
  // The expression runs to the first "," outside parentheses.
  size_t i = offset;
  for (int depth = 0;; ++i) {
    if (i >= text.size()) Raise(", expected", i);
    const char c = text[i];
    if (c == '(') {
      ++depth;
    } else if (c == ')') {
      if (--depth < 0) Raise(", expected", i);
    } else if (c == ',' && depth == 0) {
      break;
    }
  }
  const std::string_view argument = text.substr(argumentStart, i - argumentStart);
  offset = i + 1;
  while (offset < text.size() && IsWhite(text[offset])) ++offset;
  const size_t nameStart = offset;
  while (offset < text.size() && IsNameChar(text[offset])) ++offset;
  if (offset == nameStart) Raise("Name expected", nameStart);
  const std::string variableName(text.substr(nameStart, offset - nameStart));

  auto* guess = dynamic_cast<TSymbolValue*>(table.Lookup("num.Guess"));
  if (!guess) Raise("Guess undefined", argumentStart);
  const long double x0 = guess->Value;

  // What is evaluated, and how its positions map back into text (1-based in, 0-based
  // index into argument out).
  std::string expression(argument);
  size_t equals = std::string::npos;
  if (mode_ == omSolve) {
    equals = argument.find('=');
    if (equals == std::string::npos) Raise("= not found", argumentStart);
    const size_t extra = argument.find('=', equals + 1);
    if (extra != std::string::npos) Raise("Extra = found", argumentStart + extra);
    expression = "(" + std::string(argument.substr(0, equals)) + ")-(" + std::string(argument.substr(equals + 1)) + ")";
  }
  auto mapPosition = [&](int position) {
    size_t index = position > 0 ? static_cast<size_t>(position - 1) : 0;
    if (equals != std::string::npos) {
      // "(" left ")-(" right ")"
      if (index <= equals)
        index = index == 0 ? 0 : index - 1;
      else if (index <= equals + 3)
        index = equals;
      else
        index = equals + 1 + (index - equals - 4);
    }
    if (index > argument.size()) index = argument.size();
    return static_cast<int>(argumentStart + index) + 1;
  };

  TScopedSymbolValue variable(table, variableName, x0);
  const bool absolute = mode_ == omRoot || mode_ == omSolve;
  auto f = [&](long double x) -> long double {
    variable.SetValue(x);
    long double value;
    try {
      value = EvaluateExpression(expression, &table, true);
    } catch (const EExpressionError& e) {
      RelocateExpressionError(e, mapPosition);
    }
    return absolute ? std::fabs(value) : value;
  };
  const TSearchResult found = PatternSearch1D(f, x0);
  // A NaN best value is no solution either.
  if (absolute && !(found.Value <= 1e-5L)) Raise("No solution found, try changing starting guess", argumentStart);
  return ClampResult(mode_ == omMin ? found.Value : found.X);
}

std::string TOptimizationFunction::ParameterHint() const { return mode_ == omSolve ? "equation,x" : "expression,x"; }

std::string TOptimizationFunction::Description() const {
  switch (mode_) {
    case omArgMin:
      return "Find x that minimizes expression";
    case omMin:
      return "Minimum value for expression in x";
    case omRoot:
      return "Root of expression in x";
    case omSolve:
      return "Solve equation in x";
  }
  return {};
}

}  // namespace sq
