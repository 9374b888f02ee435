#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/random.h"
#include "numeric/expression.h"
#include "numeric/library.h"
#include "numeric/optimization.h"

using namespace sq;

namespace {

struct TValueCase {
  const char* text;
  long double expected;
};

struct TErrorCase {
  const char* text;
  const char* message;
  int position;
};

class ExpressionTest : public ::testing::Test {
 protected:
  ExpressionTest() { AddLibrarySymbols(table); }
  long double Eval(const std::string& text, bool valueRequired = true) {
    return EvaluateExpression(text, &table, valueRequired);
  }
  void ExpectValues(const std::vector<TValueCase>& cases, long double tolerance = 0) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.text);
      EXPECT_NEAR(static_cast<double>(Eval(c.text)), static_cast<double>(c.expected), static_cast<double>(tolerance));
    }
  }
  void ExpectErrors(const std::vector<TErrorCase>& cases) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.text);
      try {
        Eval(c.text);
        ADD_FAILURE() << "no error";
      } catch (const EExpressionError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
        EXPECT_EQ(e.Position, c.position);
      }
    }
  }
  TSymbolTable table;
};

TEST_F(ExpressionTest, OperatorsPrecedenceAndLeftAssociativity) {
  ExpectValues({
      {"2+3*4", 14},
      {"2^3^2", 64} /* (2^3)^2 */,
      {"-2^2", -4},
      {"10-4-3", 3},
      {"64/4/2", 8},
      {"7.5%2", 1.5},
      {"-7.5%2", -1.5},
      {"2*-3", -6},
      {"2--3", 5},
      {"1+2>2+0", 1},
      {"1<2&0", 0},
      {"0|2", 1},
      {"0|0", 0},
      {"3&0.5", 1},
      {"1/3*3=1", 1} /* equal within tolerance */,
      {"0.1+0.2#0.3", 0},
      {"1=1.0000001", 0},
      {"1>0.99999999999999999999", 0},
      {"inf=inf", 1},
      {" \t(2+3)*2\r\n", 10},
      {"(2+3", 5} /* a missing ")" at the end is accepted */,
      {"4; ", 4},
  });
}

TEST_F(ExpressionTest, NumberForms) {
  ExpectValues({{"$FF", 255},
                {"$ff+1", 256},
                {"$FFFFFFFF", -1} /* a signed 32-bit integer */,
                {"1,5*2", 3},
                {",5", 0.5},
                {"1E-3", 0.001},
                {"2.5e2", 250},
                {"5.", 5},
                {"1e-5000", 0} /* underflow is no error */});
  ExpectErrors({
      {"1.2.3", "Invalid number format", 1},
      {"1,5,3", "Invalid number format", 1},
      {"2+1E+3", "Invalid number format", 3},  // "+" is not part of an exponent
      {"1e5000", "Invalid number format", 1},
      {"$", "Invalid number format", 1},
      {"$123456789", "Invalid number format", 1},
      {"2*-(1)", "Invalid number format", 3},
  });
}

TEST_F(ExpressionTest, SyntaxErrorsCarryTheirPositions) {
  ExpectErrors({
      {"2 3", "Operator expected", 3},
      {"*2", "Unexpected character: *", 1},
      {"2+", "Value expected", 3},
      {"2+*3", "Unexpected character: *", 3},
      {"2+@", "Unexpected character: @", 3},
      {" ", "Value expected", 2},
      {"()", "Unexpected character: )", 2},
      {":r=5", "Value expected", 5},  // a definition alone has no value
      {"", "Expression is empty", 1},
      {"sin 2", "( expected", 5},
      {": =1", "Name expected", 3},
      {":r 1", "= or ( expected", 4},
      {":f(x 1", ") expected", 6},
      {":f(x) 1", "= expected", 7},
      {":f() 1", "= expected", 6},
      {":f(1)=2", "Name expected", 4},
      {":f(x)=  ;", "Expression is empty", 7},
      {"num.root(x", ", expected", 11},
      {"num.root(x)", ", expected", 11},
      // Text after a complete expression would be dropped unseen.
      {"1+2*(3+4))+5", "Operator expected", 10},
      {"2)junk", "Operator expected", 2},
      {"4;5", "Operator expected", 3},
  });
  // Without a required value a definition alone gives a NaN.
  EXPECT_TRUE(std::isnan(Eval(":r=5", false)));
  EXPECT_TRUE(std::isnan(Eval(":f(x)=x; ", false)));
}

TEST_F(ExpressionTest, DefinitionsStayInTheTable) {
  EXPECT_EQ(Eval(":r=5; r^2"), 25);
  EXPECT_EQ(Eval("r"), 5);
  EXPECT_EQ(Eval(":f(x)=x*x; f(3)+1"), 10);
  EXPECT_EQ(Eval("f(f(2))"), 16);
  EXPECT_EQ(Eval(":a()=r+1; a()*2"), 12);
  EXPECT_EQ(Eval("a*2"), 12);
  EXPECT_EQ(Eval(":r=10; a()"), 11);  // re-evaluated at each use
  // The parameter shadows an existing name only while the body runs.
  EXPECT_EQ(Eval(":x=7; :g(x)=x+1; g(1)+x"), 9);
  EXPECT_EQ(Eval(":h(y)=y; h(1)+y"), 1);
  EXPECT_EQ(table.Lookup("y"), nullptr);
  // A stored body is one line without its ";".
  auto* stored = dynamic_cast<TExpressionFunction*>(table.Lookup("f"));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->Body(), "x*x");
  EXPECT_EQ(Eval(":k(t)=t\n*\t2;0"), 0);
  EXPECT_EQ(dynamic_cast<TExpressionFunction*>(table.Lookup("k"))->Body(), "t * 2");
  // A definition before an error stays.
  EXPECT_THROW(Eval(":q=3; q+"), EExpressionError);
  EXPECT_EQ(Eval("q"), 3);
}

TEST_F(ExpressionTest, RecursionAndUndefinedNames) {
  ExpectErrors({
      {":g()=g()+1; g()", "Recursive reference", 6},
      {":f1(x)=f2(x); :f2(x)=f1(x)+1; f1(1)", "Recursive reference", 22},
  });
  EXPECT_EQ(Eval("nothing+1"), 1);
  table.RaiseOnUndefined = true;
  ExpectErrors({{"1+nothing", "Undefined symbol: nothing", 3}, {"Pi", "Undefined symbol: Pi", 1}});
  // An error inside a body points into the text that defined it.
  table.RaiseOnUndefined = false;
  Eval(":bad(x)=x+", false);
  ExpectErrors({{"1+bad(2)", "Value expected", 11}});
  // Library errors are located at the function's name.
  ExpectErrors({{"1+fac(-1)", "Undefined", 3}, {"bin(12)", "Invalid binary number", 1}});
}

TEST_F(ExpressionTest, RedefiningARunningBodyIsSafe) {
  // Each body replaces its own definition while it runs (and then lacks a value).
  Eval(":f(x)=:f(y)=y*10", false);
  EXPECT_THROW(Eval("f(1)"), EExpressionError);
  EXPECT_EQ(Eval("f(1)"), 10);
  Eval(":e1()=:e1()=5", false);
  EXPECT_THROW(Eval("e1()"), EExpressionError);
  EXPECT_EQ(Eval("e1()"), 5);
  // A value definition inside a body ends at ")".
  EXPECT_EQ(Eval(":g(x)=:z=x*2) z+1; g(4)+z"), 17);
}

TEST_F(ExpressionTest, DeepNestingAndRunawayWorkEndWithErrors) {
  const std::string deep(5000, '(');
  EXPECT_THROW(Eval(deep + "1"), EExpressionError);
  EXPECT_EQ(Eval(std::string(50, '(') + "1" + std::string(50, ')')), 1);
  // A chain of distinct functions as deep as the stack would allow otherwise.
  std::string chain = ":c0(x)=x;";
  for (int i = 1; i <= 400; ++i) chain += ":c" + std::to_string(i) + "(x)=c" + std::to_string(i - 1) + "(x)+1;";
  Eval(chain + "0");
  EXPECT_EQ(Eval("c20(0)"), 20);
  try {
    Eval("c400(0)");
    ADD_FAILURE() << "no error";
  } catch (const EExpressionError& e) {
    EXPECT_STREQ(e.what(), "Expression nested too deeply");
  }
  // Each level calls the one below twice: 2^40 calls.
  std::string doubling = ":d0()=1;";
  for (int i = 1; i <= 40; ++i)
    doubling += ":d" + std::to_string(i) + "()=d" + std::to_string(i - 1) + "()+d" + std::to_string(i - 1) + "();";
  Eval(doubling + "0");
  EXPECT_EQ(Eval("d10()"), 1024);
  try {
    Eval("d40()");
    ADD_FAILURE() << "no error";
  } catch (const EExpressionError& e) {
    EXPECT_STREQ(e.what(), "Expression too complex");
  }
}

TEST_F(ExpressionTest, FloatingPointFaultsRaiseTheirClasses) {
  EXPECT_THROW(Eval("1/0"), EZeroDivide);
  EXPECT_THROW(Eval("5%0"), EZeroDivide);
  EXPECT_THROW(Eval("0^-1"), EZeroDivide);
  EXPECT_THROW(Eval("ln(0)"), EZeroDivide);
  EXPECT_THROW(Eval("cot(0)"), EZeroDivide);
  EXPECT_THROW(Eval("arctanh(1)"), EZeroDivide);
  EXPECT_THROW(Eval("1e4000*1e4000"), EOverflow);
  EXPECT_THROW(Eval("exp(100000)"), EOverflow);
  EXPECT_THROW(Eval("fac(5000)"), EOverflow);
  EXPECT_THROW(Eval("sqrt(-1)"), EInvalidOp);
  EXPECT_THROW(Eval("inf-inf"), EInvalidOp);
  EXPECT_THROW(Eval("(-8)^(1/3)"), EInvalidOp);
  EXPECT_THROW(Eval("arcsin(2)"), EInvalidOp);
  EXPECT_THROW(Eval("ceil(1e10)"), EInvalidOp);
  EXPECT_EQ(Eval("1/inf"), 0);
  EXPECT_TRUE(std::isinf(Eval("inf+1")));
}

TEST_F(ExpressionTest, Library) {
  ExpectValues({{"pi", 3.14159265358979},
                {"e", 2.71828182845905},
                {"kb", 1024},
                {"Mb", 1048576},
                {"sin(pi/2)", 1},
                {"cot(pi/4)", 1},
                {"arctan(1)*4", 3.14159265358979},
                {"arccosh(1)", 0},
                {"log10(1000)", 3},
                {"log2(8)", 3},
                {"ln(e)", 1},
                {"sqrt(16)", 4},
                {"exp(0)", 1},
                {"fac(5)", 120},
                {"fac(0)", 1},
                {"fac(3.0000001)", 6},
                {"abs(-2)", 2},
                {"ceil(-1.5)", -1},
                {"floor(-1.5)", -2},
                {"round(2.5)", 2},
                {"round(3.5)", 4},
                {"frac(-2.75)", -0.75},
                {"bin(101)", 5},
                {"bin(1111111111111111)", 65535}},
               1e-12L);
  ExpectErrors({{"fac(2.5)", "Undefined", 1},
                {"bin(11111111111111111)", "Max 16 bits in binary number", 1},
                {"bin(-1)", "Invalid binary number", 1}});
  EXPECT_EQ(dynamic_cast<TSymbolFunction*>(table.Lookup("sqrt"))->Description(), "Square root");
  EXPECT_EQ(dynamic_cast<TSymbolFunction*>(table.Lookup("rand"))->Description(), "Random number in [0;x[");

  // rand and randn draw from the process-wide generator.
  RandomSeed(0);
  const double first = RandomUniform();
  RandomSeed(0);
  EXPECT_DOUBLE_EQ(static_cast<double>(Eval("rand(10)")), first * 10);
  RandomSeed(0);
  const double gaussian = RandomGaussian(0, 3);
  RandomSeed(0);
  EXPECT_DOUBLE_EQ(static_cast<double>(Eval("randn(3)")), gaussian);
}

TEST_F(ExpressionTest, SolverModes) {
  ExpectValues(
      {
          {"num.root(x^2-2, x)", std::sqrt(2.0L)},
          {"num.solve(x^2 = 2, x)", std::sqrt(2.0L)},
          {"num.min((x-3)^2+1, x)", 1},
          {"num.argmin((x-3)^2+1, x)", 3},
          {"num.root(sqrt(x)-2, x)", 4},  // trial points below 0 are skipped, not fatal
          {"num.root(x - 1e-200, x)", 0},
          {":sq(x)=x*x; 1+num.root(sq(x)-1,x)*2", 3},
      },
      1e-4L);
  EXPECT_EQ(table.Lookup("x"), nullptr);  // the variable is gone afterwards
  ExpectErrors({
      {"num.root(x^2+1, x)", "No solution found, try changing starting guess", 10},
      {"num.solve(x^2, x)", "= not found", 11},
      {"num.solve(x=1=2, x)", "Extra = found", 14},
      {"num.root(x, )", "Name expected", 13},
      {"num.root(x, x", ") expected", 14},
      {"num.root(x+, x)", "Value expected", 12},
      // The equation is solved as (left)-(right).
      {"num.solve(x = 1+, x)", "Unexpected character: )", 17},
  });
  // The start is num.Guess; a user value of that name works as well.
  EXPECT_NEAR(static_cast<double>(Eval(":num.Guess=-1; num.root(x^2-2, x)")), -std::sqrt(2.0), 1e-4);
  table.Add("num.Guess", std::make_shared<TExpressionFunction>("1", "x", 1));
  ExpectErrors({{"num.root(x, x)", "Guess undefined", 10}});
}

TEST(PatternSearch1D, FollowsTheStepRule) {
  // From 0 a step of 1 improves, the next step of 1.1 overshoots, so it halves.
  int calls = 0;
  const TSearchResult r = PatternSearch1D(
      [&](long double x) {
        ++calls;
        return (x - 1) * (x - 1);
      },
      0);
  EXPECT_EQ(r.X, 1);
  EXPECT_EQ(r.Value, 0);
  EXPECT_LE(calls, 1 + 2 * 5000);
  EXPECT_THROW(PatternSearch1D([](long double) -> long double { throw EInvalidOp(); }, 0), EInvalidOp);
}

}  // namespace
