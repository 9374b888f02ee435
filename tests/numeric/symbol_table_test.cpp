#include <gtest/gtest.h>

#include "numeric/expression.h"
#include "numeric/library.h"

using namespace sq;

namespace {

TEST(SymbolTable, SortedCaseSensitiveAndOwning) {
  TSymbolTable table;
  table.SetValue("b", 2);
  table.SetValue("B", 3);
  table.SetValue("a.b", 1);
  table.SetValue("_", 4);
  ASSERT_EQ(table.Count(), 4);
  // Byte order: "B" (0x42) < "_" (0x5F) < "a.b" < "b".
  EXPECT_EQ(table.Name(0), "B");
  EXPECT_EQ(table.Name(1), "_");
  EXPECT_EQ(table.Name(2), "a.b");
  EXPECT_EQ(table.Name(3), "b");
  EXPECT_EQ(table.IndexOf("b"), 3);
  EXPECT_EQ(table.IndexOf("c"), -1);

  // Adding an existing name replaces it instead of listing it twice.
  std::weak_ptr<TSymbol> old = table.LookupShared("b");
  table.SetValue("b", 20);
  EXPECT_EQ(table.Count(), 4);
  EXPECT_TRUE(old.expired());
  EXPECT_EQ(dynamic_cast<TSymbolValue*>(table.Lookup("b"))->Value, 20);

  table.Remove("B");
  EXPECT_EQ(table.Lookup("B"), nullptr);
  try {
    table.Remove("B");
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Symbol not found");
  }
}

TEST(SymbolTable, ScopedValuesRestoreWhatWasThere) {
  TSymbolTable table;
  AddLibrarySymbols(table);
  const int count = table.Count();
  {
    TScopedSymbolValue pi(table, "pi", 3);
    TScopedSymbolValue x(table, "x");
    long double sum = 0;
    for (int i = 0; i < 4; ++i) {
      x.SetValue(i);
      sum += EvaluateExpression("x*pi", &table);
    }
    EXPECT_EQ(sum, 18);
    // An expression that redefines the name does not cut the binding loose.
    EvaluateExpression(":x=100; 0", &table);
    x.SetValue(1);
    EXPECT_EQ(EvaluateExpression("x", &table), 1);
  }
  EXPECT_EQ(table.Count(), count);
  EXPECT_EQ(table.Lookup("x"), nullptr);
  EXPECT_NEAR(static_cast<double>(EvaluateExpression("pi", &table)), 3.14159265358979, 1e-14);
}

TEST(SymbolTable, KindsAndLibraryEntries) {
  TSymbolTable& table = StandardSymbols();
  EXPECT_EQ(table.Lookup("pi")->SymbolKind(), skValue);
  EXPECT_EQ(table.Lookup("sin")->SymbolKind(), skFunction);
  EXPECT_EQ(table.Lookup("num.root")->SymbolKind(), skSymbolic);
  EXPECT_EQ(table.Lookup("num.Guess")->ClassName(), "TParameterValue");
  EXPECT_EQ(static_cast<double>(dynamic_cast<TSymbolValue*>(table.Lookup("num.Guess"))->Value), 0.500000001);
  auto* solve = dynamic_cast<TSymbolicFunction*>(table.Lookup("num.solve"));
  ASSERT_NE(solve, nullptr);
  EXPECT_EQ(solve->ParameterHint(), "equation,x");
  EXPECT_EQ(solve->Description(), "Solve equation in x");
  EXPECT_EQ(dynamic_cast<TSymbolicFunction*>(table.Lookup("num.argmin"))->Description(),
            "Find x that minimizes expression");

  // A symbol of a kind the evaluator does not know is reported by its class name.
  struct TOddSymbol : TSymbol {
    TOddSymbol() : TSymbol(9) {}
    std::string ClassName() const override { return "TOddSymbol"; }
  };
  TSymbolTable odd;
  odd.Add("odd", std::make_shared<TOddSymbol>());
  try {
    EvaluateExpression("1+odd", &odd);
    ADD_FAILURE() << "no error";
  } catch (const EExpressionError& e) {
    EXPECT_STREQ(e.what(), "Unknown symbol type: TOddSymbol");
    EXPECT_EQ(e.Position, 3);
  }
  // A missing table means the standard one.
  EXPECT_EQ(EvaluateExpression("kb/4"), 256);
}

}  // namespace
