// stereoquill-cli eval EXPR...: evaluates expressions the way the program's numeric
// fields do, one after the other against one table, so definitions carry over.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "cli/command.h"
#include "numeric/expression.h"
#include "numeric/library.h"

namespace sq::cli {

namespace {

// Up to 15 significant digits, which long double holds exactly for decimal input.
std::string FormatResult(long double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";  // no "-0"
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15Lg", value);
  return buffer;
}

void RunEval(const std::vector<std::string>& expressions) {
  TSymbolTable& table = StandardSymbols();
  for (const std::string& expression : expressions) {
    try {
      // A definition alone (":r=5") is a complete argument here: it prints NAN.
      const long double value = EvaluateExpression(expression, &table, false);
      std::printf("%s\n", FormatResult(value).c_str());
      std::fflush(stdout);
    } catch (const EExpressionError& e) {
      throw Exception(std::string(e.what()) + " at " + std::to_string(e.Position));
    }
  }
}

const bool registered = RegisterCommand([](CLI::App& app) {
  auto expressions = std::make_shared<std::vector<std::string>>();
  auto* command = app.add_subcommand(
      "eval",
      "Evaluate expressions as the numeric fields do (definitions carry over; write \"eval --\" when an "
      "expression starts with \"-\")");
  command->add_option("expression", *expressions, "Expressions, e.g. \":f(x)=x*x; f(3)+1\"")->required();
  command->callback([expressions] { RunEval(*expressions); });
});

}  // namespace

}  // namespace sq::cli
