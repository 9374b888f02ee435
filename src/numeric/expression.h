// The arithmetic language of every numeric field and prompt: numbers, the operators
// | & = # > < + - * / % ^ (all binary and left-associative), parentheses, named values,
// functions, and user definitions (":r=5", ":area()=w*h", ":f(x)=x*x") that stay in the
// symbol table for later expressions.
//
// Numbers are long double throughout.  Errors in the text raise EExpressionError with
// the 1-based position where they were found; arithmetic faults raise EZeroDivide,
// EOverflow or EInvalidOp (IEEE arithmetic does not trap, so every result is checked).
//
// To evaluate one formula over many values, bind the variables with TScopedSymbolValue
// (numeric/symbol_table.h) and call EvaluateExpression for each value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "base/exception.h"
#include "numeric/symbol_table.h"

namespace sq {

// Evaluates text against a table (nullptr: StandardSymbols()).  An expression without
// any value ("()", " ") raises "Value expected" when valueRequired is true and gives a
// NaN otherwise.  Empty text raises "Expression is empty".  A top-level ")" or ";" ends
// the expression; what follows it is ignored.  Definitions made before an error stay in
// the table.
long double EvaluateExpression(std::string_view text, TSymbolTable* table = nullptr, bool valueRequired = true);

// Converts a plain decimal number: optional sign, digits with at most one ".", an
// optional exponent ("1.5", "-.5", "2e-3").  The point is "." whatever the locale.
// Returns false for anything else and for numbers beyond the range of long double.
bool ParseDecimalNumber(std::string_view text, long double& value);

// An expression error whose position already points into the text that the faulty part
// was typed in (a definition's body); evaluations further out pass it on unchanged.
class ELocatedExpressionError : public EExpressionError {
 public:
  using EExpressionError::EExpressionError;
};

// Re-raises an error found in a piece of text that was cut out of a larger one, at its
// position in the larger one: mapPosition turns the piece's 1-based position into the
// larger text's.  Errors already located are passed on unchanged.
template <class MapPosition>
[[noreturn]] void RelocateExpressionError(const EExpressionError& error, MapPosition mapPosition) {
  if (dynamic_cast<const ELocatedExpressionError*>(&error)) throw ELocatedExpressionError(error.what(), error.Position);
  throw ELocatedExpressionError(error.what(), mapPosition(error.Position));
}

// Functions of one argument, written name(argument).
class TSymbolFunction : public TSymbol {
 public:
  TSymbolFunction() : TSymbol(skFunction) {}
  std::string ClassName() const override { return "TSymbolFunction"; }
  virtual long double Evaluate(TSymbolTable& table, long double argument) = 0;
  // The argument list shown in hints.
  virtual std::string ParameterHint() const { return "x"; }
  virtual std::string Description() const { return {}; }
};

using TStandardRoutine = long double (*)(long double);

// A built-in function.  A NaN result from a number raises EInvalidOp and an infinite
// result from a finite number raises EOverflow; routines raise EZeroDivide at poles.
class TStandardFunction : public TSymbolFunction {
 public:
  explicit TStandardFunction(TStandardRoutine routine, std::string description = {})
      : routine_(routine), description_(std::move(description)) {}
  std::string ClassName() const override { return "TStandardFunction"; }
  long double Evaluate(TSymbolTable& table, long double argument) override;
  std::string Description() const override { return description_; }

 private:
  TStandardRoutine routine_;
  std::string description_;
};

// A user function name(parameter)=body.  Calling it binds the parameter in the table
// for the duration of the body; calling it again from its own body raises
// "Recursive reference".
class TExpressionFunction : public TSymbolFunction {
 public:
  // position: 1-based position of the body in the text that defined it.
  TExpressionFunction(std::string body, std::string parameter, int position)
      : body_(std::move(body)), parameter_(std::move(parameter)), position_(position) {}
  std::string ClassName() const override { return "TExpressionFunction"; }
  long double Evaluate(TSymbolTable& table, long double argument) override;
  std::string ParameterHint() const override { return parameter_; }

  const std::string& Body() const { return body_; }
  const std::string& Parameter() const { return parameter_; }
  int Position() const { return position_; }
  bool Busy() const { return busy_; }

 private:
  std::string body_;
  std::string parameter_;
  int position_;
  bool busy_ = false;
};

// A parameterless user expression name()=body, evaluated at each use.
class TSymbolExpression : public TSymbol {
 public:
  TSymbolExpression(std::string body, int position)
      : TSymbol(skExpression), body_(std::move(body)), position_(position) {}
  std::string ClassName() const override { return "TSymbolExpression"; }
  virtual long double Evaluate(TSymbolTable& table);

  const std::string& Body() const { return body_; }
  int Position() const { return position_; }
  bool Busy() const { return busy_; }

 private:
  std::string body_;
  int position_;
  bool busy_ = false;
};

// A function that reads its argument list itself, as raw text.
class TSymbolicFunction : public TSymbol {
 public:
  TSymbolicFunction() : TSymbol(skSymbolic) {}
  std::string ClassName() const override { return "TSymbolicFunction"; }
  // text is the whole expression; offset (0-based) points just after the "(" and any
  // white space, and is left after the last character of the arguments, before the ")".
  // Errors carry positions in text.
  virtual long double Evaluate(TSymbolTable& table, std::string_view text, size_t& offset) = 0;
  virtual std::string ParameterHint() const { return {}; }
  virtual std::string Description() const { return {}; }
};

}  // namespace sq
