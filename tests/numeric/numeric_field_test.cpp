#include <gtest/gtest.h>

#include "numeric/library.h"
#include "numeric/numeric_field.h"

using namespace sq;

namespace {

// A field wired to its own table and an OnChange counter.
template <class TField>
struct TWatched {
  TWatched() {
    AddLibrarySymbols(table);
    field.Symbols = &table;
    field.OnChange = [this] { ++changes; };
  }
  TSymbolTable table;
  TField field;
  int changes = 0;
};

TEST(IntegerField, ValidatesClampsAndKeepsTheLastValidValue) {
  TWatched<TIntegerField> w;
  TIntegerField& f = w.field;
  EXPECT_EQ(f.Text(), "0");
  EXPECT_EQ(f.Max(), 100);

  f.SetText("2*20");
  EXPECT_TRUE(f.Valid());
  EXPECT_EQ(f.Value(), 40);
  EXPECT_EQ(w.changes, 1);

  f.SetText("101");  // above Max: invalid, Value stays
  EXPECT_FALSE(f.Valid());
  EXPECT_EQ(f.Value(), 40);
  EXPECT_EQ(w.changes, 2);
  f.SetText("5.5");  // still invalid: no further OnChange
  EXPECT_FALSE(f.Valid());
  EXPECT_EQ(w.changes, 2);
  f.SetText("2+");
  EXPECT_EQ(w.changes, 2);

  f.SetText("99.99999");  // within 0.0001 of 100
  EXPECT_TRUE(f.Valid());
  EXPECT_EQ(f.Value(), 100);
  EXPECT_EQ(w.changes, 3);
  f.SetText("100");  // a valid text fires even when Value does not change
  EXPECT_EQ(w.changes, 4);

  f.SetText("1/0");  // arithmetic faults are invalid text as well
  EXPECT_FALSE(f.Valid());
  f.SetText("");
  EXPECT_FALSE(f.Valid());

  // Setting Value clamps, rewrites the text, marks the field valid and fires nothing.
  const int before = w.changes;
  f.SetValue(250);
  EXPECT_EQ(f.Value(), 100);
  EXPECT_EQ(f.Text(), "100");
  EXPECT_TRUE(f.Valid());
  f.SetMax(50);
  EXPECT_EQ(f.Value(), 50);
  EXPECT_EQ(f.Text(), "50");
  f.SetMin(-10);
  EXPECT_EQ(f.Value(), 50);
  f.SetMin(60);
  EXPECT_EQ(f.Value(), 50);  // Min above Value moves Value up, then Max 50 caps it
  f.SetMax(80);
  f.SetMin(70);
  EXPECT_EQ(f.Value(), 70);
  EXPECT_EQ(f.Text(), "70");
  EXPECT_EQ(w.changes, before);
}

TEST(IntegerField, SimpleValueAcceptsPlainNumbersOnly) {
  TWatched<TIntegerField> w;
  TIntegerField& f = w.field;
  f.SimpleValue = true;
  f.SetText(" 42 ");
  EXPECT_TRUE(f.Valid());
  EXPECT_EQ(f.Value(), 42);
  for (const char* text : {"6*7", "4,0", "$10", "", "-5"}) {
    f.SetText(text);
    EXPECT_FALSE(f.Valid()) << text;
    EXPECT_EQ(f.Value(), 42);
  }
}

TEST(FloatField, ValidatesFormatsAndUsesTheTable) {
  TWatched<TFloatField> w;
  TFloatField& f = w.field;
  f.SetText("pi");
  EXPECT_TRUE(f.Valid());
  EXPECT_DOUBLE_EQ(static_cast<double>(f.Value()), 3.14159265358979323846);
  f.SetText(":r=5; r*2");
  EXPECT_EQ(f.Value(), 10);
  EXPECT_NE(w.table.Lookup("r"), nullptr);  // definitions stay for later fields
  f.SetText("100.5");
  EXPECT_FALSE(f.Valid());
  EXPECT_EQ(f.Value(), 10);

  f.SetValue(2.0L / 3);
  EXPECT_EQ(f.Text(), "0.67");
  f.FormatString = "0.0###";
  f.SetValue(12);
  EXPECT_EQ(f.Text(), "12.0");
  f.SetValue(-1);
  EXPECT_EQ(f.Value(), 0);

  f.SimpleValue = true;
  f.SetText("1,5");
  EXPECT_TRUE(f.Valid());
  EXPECT_EQ(f.Value(), 1.5);
  f.SetText("2*3");
  EXPECT_FALSE(f.Valid());
  EXPECT_EQ(f.Value(), 1.5);
}

}  // namespace
