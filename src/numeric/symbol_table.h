// Symbols of the expression language and the table that holds them.
//
// A table is a sorted list of (name, symbol) pairs that owns its symbols.  Names are
// compared byte by byte, case-sensitively, and found by binary search.  Symbols are
// held by shared pointers so that an expression which redefines a name while that
// name's body is being evaluated (":f(x)=:f(y)=y; x") frees nothing that is in use:
// the evaluator keeps its own reference for as long as it runs the old body.
//
// Typical use by a dialog that lets the user type a formula over its own variables:
//
//   TSymbolTable& table = StandardSymbols();
//   TScopedSymbolValue x(table, "x"), count(table, "count");
//   for (int i = 0; i < 256; ++i) {
//     x.SetValue(i);
//     count.SetValue(histogram[i]);
//     result[i] = EvaluateExpression(formula, &table, true);
//   }
//   // x and count are removed (or their earlier meanings restored) here.
//
// Parsing is fast enough that the formula is simply evaluated again for each value:
// the language has definitions and functions that read their arguments as text, so
// there is no separate compiled form.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sq {

class TSymbolTable;

// Values of TSymbol::SymbolKind(): the evaluator treats a symbol by its kind.
enum : uint8_t {
  skFunction = 0,    // name(argument)
  skValue = 1,       // a named constant or variable
  skExpression = 2,  // name() = body, evaluated at each use
  skSymbolic = 3,    // a function that reads its argument list as text
};

class TSymbol {
 public:
  explicit TSymbol(uint8_t kind) : kind_(kind) {}
  virtual ~TSymbol() = default;
  TSymbol(const TSymbol&) = delete;
  TSymbol& operator=(const TSymbol&) = delete;

  uint8_t SymbolKind() const { return kind_; }
  // The class name, used in "Unknown symbol type: " messages.
  virtual std::string ClassName() const { return "TSymbol"; }

 private:
  uint8_t kind_;
};

class TSymbolValue : public TSymbol {
 public:
  explicit TSymbolValue(long double value = 0) : TSymbol(skValue), Value(value) {}
  std::string ClassName() const override { return "TSymbolValue"; }
  long double Value;
};

// A value that tunes a library function (the solver's starting guess).
class TParameterValue : public TSymbolValue {
 public:
  using TSymbolValue::TSymbolValue;
  std::string ClassName() const override { return "TParameterValue"; }
};

class TSymbolTable {
 public:
  TSymbolTable() = default;
  TSymbolTable(const TSymbolTable&) = delete;
  TSymbolTable& operator=(const TSymbolTable&) = delete;

  // When false an undefined name reads as 0; when true it raises
  // "Undefined symbol: " + name.
  bool RaiseOnUndefined = false;

  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Name(int index) const { return entries_.at(static_cast<size_t>(index)).first; }
  TSymbol* Symbol(int index) const { return entries_.at(static_cast<size_t>(index)).second.get(); }

  // Index of the name, or -1.
  int IndexOf(std::string_view name) const;
  // Stores the symbol under the name and returns its index; an existing entry of the
  // same name is replaced (its old symbol freed), so no name is ever listed twice.
  int Add(std::string_view name, std::shared_ptr<TSymbol> symbol);
  // Replaces the symbol at an index, freeing the old one.
  void Replace(int index, std::shared_ptr<TSymbol> symbol);
  // Removes the name and frees its symbol; raises "Symbol not found" when absent.
  void Remove(std::string_view name);
  void Clear() { entries_.clear(); }
  // The symbol of the name, or nullptr.
  TSymbol* Lookup(std::string_view name) const;
  // As Lookup, but shares ownership so the symbol outlives a redefinition.
  std::shared_ptr<TSymbol> LookupShared(std::string_view name) const;

  // Convenience: stores a value symbol under the name and returns it.
  TSymbolValue* SetValue(std::string_view name, long double value);

 private:
  // Position where the name is or would be inserted.
  size_t LowerBound(std::string_view name) const;
  std::vector<std::pair<std::string, std::shared_ptr<TSymbol>>> entries_;
};

// Binds a name to a value symbol for the lifetime of the object.  An existing entry
// of that name is put aside and restored afterwards; a new one is removed afterwards.
// Function parameters, the solver's variable and dialogs' temporary variables all use
// this.
class TScopedSymbolValue {
 public:
  TScopedSymbolValue(TSymbolTable& table, std::string name, long double value = 0);
  ~TScopedSymbolValue();
  TScopedSymbolValue(const TScopedSymbolValue&) = delete;
  TScopedSymbolValue& operator=(const TScopedSymbolValue&) = delete;

  // Sets the bound value.  Should an expression have redefined the name meanwhile,
  // the binding is put back in place first.
  void SetValue(long double value);
  long double Value() const { return symbol_->Value; }

 private:
  TSymbolTable& table_;
  std::string name_;
  std::shared_ptr<TSymbolValue> symbol_;
  std::shared_ptr<TSymbol> previous_;
};

}  // namespace sq
