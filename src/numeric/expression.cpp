#include "numeric/expression.h"

#include <locale.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "numeric/library.h"

namespace sq {

namespace {

// Nesting of parentheses, arguments and user bodies is limited explicitly, so that a
// text of thousands of "(" ends with an error instead of overflowing the stack.
constexpr int kMaxNesting = 200;

// Work allowed for one top-level evaluation, in operands read plus characters of the
// bodies and solver arguments re-read.  Definitions that call each other twice per
// level, or solvers nested in solvers, would otherwise run for hours.
constexpr int64_t kMaxWork = 10'000'000;

thread_local int gNesting = 0;
thread_local int64_t gWork = 0;

// Counts the nesting of one evaluation step and undoes it on the way out.
class TNestingGuard {
 public:
  explicit TNestingGuard(size_t offset) {
    if (gNesting >= kMaxNesting) throw EExpressionError("Expression nested too deeply", static_cast<int>(offset) + 1);
    ++gNesting;
  }
  ~TNestingGuard() { --gNesting; }
  TNestingGuard(const TNestingGuard&) = delete;
  TNestingGuard& operator=(const TNestingGuard&) = delete;
};

void AddWork(int64_t amount, size_t offset) {
  gWork += amount;
  if (gWork > kMaxWork) throw EExpressionError("Expression too complex", static_cast<int>(offset) + 1);
}

int Precedence(char c) {
  switch (c) {
    case '|':
    case '&':
      return 1;
    case '=':
    case '#':
    case '>':
    case '<':
      return 2;
    case '+':
    case '-':
      return 3;
    case '/':
    case '*':
    case '%':
      return 4;
    case '^':
      return 5;
    default:
      return 0;
  }
}

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsLetter(c) || IsDigit(c) || c == '.'; }
int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A decimal number: optional sign, digits with at most one ".", at least one digit,
// and an optional exponent "e" or "E", optional sign, digits.  (The expression scanner
// never takes a "+" into a number, so "1E+3" stays an error there.)
bool IsDecimalNumber(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    size_t exponentDigits = 0;
    while (i < s.size() && IsDigit(s[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == s.size();
}

// The decimal point is always ".", whatever locale the desktop program set.
locale_t CLocale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

void CheckArithmetic(long double result, long double a, long double b) {
  if (std::isnan(result) && !std::isnan(a) && !std::isnan(b)) throw EInvalidOp();
  if (std::isinf(result) && std::isfinite(a) && std::isfinite(b)) throw EOverflow();
}

bool EqualWithinTolerance(long double a, long double b) {
  if (a == b) return true;  // also infinities of one sign, whose difference is a NaN
  const long double epsilon = std::max(std::min(std::fabs(a), std::fabs(b)) * 1e-16L, 1e-16L);
  return std::fabs(a - b) <= epsilon;
}

long double Power(long double a, long double b) {
  if (a == 0 && b < 0) throw EZeroDivide();
  const long double result = std::pow(a, b);
  CheckArithmetic(result, a, b);
  return result;
}

long double Apply(char op, long double a, long double b) {
  long double result = 0;
  switch (op) {
    case '+':
      result = a + b;
      break;
    case '-':
      result = a - b;
      break;
    case '*':
      result = a * b;
      break;
    case '/':
      if (b == 0) throw EZeroDivide();
      result = a / b;
      break;
    case '%': {
      // The remainder keeps the sign of a: frac(a / b) * b.
      if (b == 0) throw EZeroDivide();
      const long double quotient = a / b;
      CheckArithmetic(quotient, a, b);
      result = (quotient - std::trunc(quotient)) * b;
      break;
    }
    case '^':
      return Power(a, b);
    case '=':
      return EqualWithinTolerance(a, b) ? 1 : 0;
    case '#':
      return EqualWithinTolerance(a, b) ? 0 : 1;
    case '>':
      return a > b && !EqualWithinTolerance(a, b) ? 1 : 0;
    case '<':
      return a < b && !EqualWithinTolerance(a, b) ? 1 : 0;
    case '&':
      return a == 0 ? 0 : (b == 0 ? 0 : 1);
    case '|':
      return a != 0 ? 1 : (b == 0 ? 0 : 1);
    default:
      return b;
  }
  CheckArithmetic(result, a, b);
  return result;
}

// Turns white space into spaces, so a stored body reads as one line.
std::string StoredBody(std::string_view text) {
  std::string body(text);
  for (char& c : body)
    if (IsWhite(c)) c = ' ';
  if (!body.empty() && body.back() == ';') body.pop_back();
  return body;
}

struct TEntry {
  char op;
  long double value;
};

class TWorkStack {
 public:
  size_t size() const { return size_; }
  TEntry& back() { return entries_[size_ - 1]; }
  TEntry& operator[](size_t i) { return entries_[i]; }
  void pop_back() { --size_; }
  void push_back(const TEntry& entry) { entries_[size_++] = entry; }

 private:
  TEntry entries_[8] = {{'\0', 0}};
  size_t size_ = 1;
};

class TParser {
 public:
  TParser(std::string_view text, TSymbolTable& table, bool valueRequired)
      : text_(text), table_(table), valueRequired_(valueRequired) {}

  long double Expression();
  // After a whole text: a ")" that closes nothing, or text after a ";", would be
  // silently dropped, so a typo would give a plausible wrong number.
  void ExpectEnd() {
    if (stop_ < text_.size() && text_[stop_] == ')') Error("Operator expected", stop_);
    SkipWhite();
    if (!AtEnd()) Error("Operator expected");
  }

 private:
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Current() const { return AtEnd() ? '\0' : text_[pos_]; }
  int Position() const { return static_cast<int>(pos_) + 1; }
  [[noreturn]] void Error(const std::string& message, size_t offset) const {
    throw EExpressionError(message, static_cast<int>(offset) + 1);
  }
  [[noreturn]] void Error(const std::string& message) const { Error(message, pos_); }
  [[noreturn]] void UnexpectedCharacter() const { Error(std::string("Unexpected character: ") + Current()); }

  void SkipWhite() {
    while (!AtEnd() && IsWhite(text_[pos_])) ++pos_;
  }
  void Expect(char c) {
    if (AtEnd() || Current() != c) Error(std::string(1, c) + " expected");
    ++pos_;
  }
  std::string_view ReadName() {
    const size_t start = pos_;
    while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  long double Operand();
  long double Number();
  long double SymbolReference();
  void Definition();
  std::string Body(int& bodyPosition);

  std::string_view text_;
  TSymbolTable& table_;
  bool valueRequired_;
  size_t pos_ = 0;
  size_t stop_ = 0;  // where the last expression to finish stopped
};

long double TParser::Expression() {
  TNestingGuard nesting(pos_);
  // Reducing before each push keeps the precedences above entry 0 strictly rising, so
  // the stack never holds more than one entry per precedence level.
  TWorkStack stack;
  char pending = '+';
  SkipWhite();
  for (;;) {
    if (Current() == ':' && !AtEnd()) {
      ++pos_;
      Definition();
      SkipWhite();
    } else {
      const bool hasOperand = stack.size() > 1;
      const char c = Current();
      if (!AtEnd() && Precedence(c) > 0) {
        if (!hasOperand && c != '+' && c != '-') UnexpectedCharacter();
        pending = c;
        ++pos_;
        SkipWhite();
      } else if (hasOperand) {
        Error("Operator expected");
      }
      const long double operand = Operand();
      while (Precedence(stack.back().op) >= Precedence(pending)) {
        const TEntry top = stack.back();
        stack.pop_back();
        stack.back().value = Apply(top.op, stack.back().value, top.value);
      }
      stack.push_back({pending, operand});
      SkipWhite();
    }
    if (AtEnd() || Current() == ')' || Current() == ';') break;
  }

  long double result;
  if (stack.size() == 1) {
    if (valueRequired_) Error("Value expected");
    result = std::nanl("");
  } else {
    while (stack.size() > 1) {
      const TEntry top = stack.back();
      stack.pop_back();
      stack.back().value = Apply(top.op, stack.back().value, top.value);
    }
    result = stack[0].value;
  }
  stop_ = pos_;
  if (!AtEnd()) ++pos_;
  return result;
}

long double TParser::Operand() {
  AddWork(1, pos_);
  if (AtEnd()) Error("Value expected");
  const char c = Current();
  if (IsLetter(c)) return SymbolReference();
  if (c == '$' || c == ',' || c == '-' || c == '.' || IsDigit(c)) return Number();
  if (c == '(') {
    ++pos_;
    return Expression();
  }
  UnexpectedCharacter();
}

long double TParser::Number() {
  const size_t start = pos_;
  if (Current() == '$') {
    // A signed 32-bit hexadecimal integer: $FFFFFFFF is -1.
    ++pos_;
    uint64_t value = 0;
    bool any = false, tooLong = false;
    for (int digit; !AtEnd() && (digit = HexDigit(text_[pos_])) >= 0; ++pos_) {
      any = true;
      value = value * 16 + static_cast<uint64_t>(digit);
      if (value > 0xFFFFFFFFu) tooLong = true, value = 0;
    }
    if (!any || tooLong) Error("Invalid number format", start);
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  }
  ++pos_;  // the first character always belongs to the number
  while (!AtEnd()) {
    const char c = text_[pos_];
    const char previous = text_[pos_ - 1];
    if (c == ',' || c == '.' || IsDigit(c) || c == 'E' || c == 'e' ||
        (c == '-' && (previous == 'E' || previous == 'e')))
      ++pos_;
    else
      break;
  }
  std::string number(text_.substr(start, pos_ - start));
  const size_t comma = number.find(',');
  if (comma != std::string::npos) number[comma] = '.';
  long double value;
  if (!ParseDecimalNumber(number, value)) Error("Invalid number format", start);
  return value;
}

long double TParser::SymbolReference() {
  const size_t start = pos_;
  const std::string_view name = ReadName();
  const std::shared_ptr<TSymbol> symbol = table_.LookupShared(name);
  if (!symbol) {
    if (table_.RaiseOnUndefined) Error("Undefined symbol: " + std::string(name), start);
    return 0;
  }
  try {
    switch (symbol->SymbolKind()) {
      case skValue:
        if (auto* value = dynamic_cast<TSymbolValue*>(symbol.get())) return value->Value;
        break;
      case skFunction:
        if (auto* function = dynamic_cast<TSymbolFunction*>(symbol.get())) {
          SkipWhite();
          Expect('(');
          const long double argument = Expression();
          return function->Evaluate(table_, argument);
        }
        break;
      case skExpression:
        if (auto* expression = dynamic_cast<TSymbolExpression*>(symbol.get())) {
          // Written "name" or, like its definition, "name()".
          const size_t afterName = pos_;
          SkipWhite();
          if (Current() == '(' && !AtEnd()) {
            ++pos_;
            SkipWhite();
            if (Current() == ')' && !AtEnd())
              ++pos_;
            else
              pos_ = afterName;
          } else {
            pos_ = afterName;
          }
          return expression->Evaluate(table_);
        }
        break;
      case skSymbolic:
        if (auto* symbolic = dynamic_cast<TSymbolicFunction*>(symbol.get())) {
          SkipWhite();
          Expect('(');
          SkipWhite();
          TNestingGuard nesting(pos_);
          const long double result = symbolic->Evaluate(table_, text_, pos_);
          SkipWhite();
          Expect(')');
          return result;
        }
        break;
      default:
        break;
    }
  } catch (const EExpressionError&) {
    throw;
  } catch (const EMathError&) {
    throw;
  } catch (const Exception& e) {
    // Library errors ("Undefined" from fac, "Recursive reference") are located at the
    // name that raised them.
    Error(e.what(), start);
  }
  Error("Unknown symbol type: " + symbol->ClassName(), start);
}

std::string TParser::Body(int& bodyPosition) {
  const size_t start = pos_;
  const size_t end = std::min(text_.find(';', pos_), text_.size());
  pos_ = end < text_.size() ? end + 1 : end;
  std::string body = StoredBody(text_.substr(start, end - start));
  if (body.find_first_not_of(' ') == std::string::npos) Error("Expression is empty", start);
  bodyPosition = static_cast<int>(start) + 1;
  return body;
}

void TParser::Definition() {
  SkipWhite();
  if (!IsLetter(Current())) Error("Name expected");
  const std::string name(ReadName());
  SkipWhite();
  if (Current() == '=' && !AtEnd()) {
    ++pos_;
    const long double value = Expression();
    table_.Add(name, std::make_shared<TSymbolValue>(value));
  } else if (Current() == '(' && !AtEnd()) {
    ++pos_;
    SkipWhite();
    int bodyPosition = 0;
    if (Current() == ')' && !AtEnd()) {
      ++pos_;
      SkipWhite();
      Expect('=');
      std::string body = Body(bodyPosition);
      table_.Add(name, std::make_shared<TSymbolExpression>(std::move(body), bodyPosition));
    } else {
      if (!IsLetter(Current())) Error("Name expected");
      std::string parameter(ReadName());
      SkipWhite();
      Expect(')');
      SkipWhite();
      Expect('=');
      std::string body = Body(bodyPosition);
      table_.Add(name, std::make_shared<TExpressionFunction>(std::move(body), std::move(parameter), bodyPosition));
    }
  } else {
    Error("= or ( expected");
  }
}

// Marks a user body as being evaluated for the lifetime of the guard.
class TBusyGuard {
 public:
  explicit TBusyGuard(bool& busy) : busy_(busy) {
    if (busy_) throw Exception("Recursive reference");
    busy_ = true;
  }
  ~TBusyGuard() { busy_ = false; }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

 private:
  bool& busy_;
};

long double EvaluateBody(const std::string& body, int bodyPosition, TSymbolTable& table) {
  try {
    return EvaluateExpression(body, &table, true);
  } catch (const EExpressionError& e) {
    RelocateExpressionError(e, [bodyPosition](int position) { return bodyPosition + position - 1; });
  }
}

}  // namespace

bool ParseDecimalNumber(std::string_view text, long double& value) {
  if (!IsDecimalNumber(text)) return false;
  const std::string number(text);
  value = strtold_l(number.c_str(), nullptr, CLocale());
  // Too large for the number type; too small merely underflows towards 0.
  return !std::isinf(value);
}

long double EvaluateExpression(std::string_view text, TSymbolTable* table, bool valueRequired) {
  if (text.empty()) throw EExpressionError("Expression is empty", 1);
  // Texts evaluated inside another evaluation (bodies, solver arguments) are re-read
  // each time: their length counts as work.
  if (gNesting == 0)
    gWork = 0;
  else
    AddWork(static_cast<int64_t>(text.size()), 0);
  TParser parser(text, table ? *table : StandardSymbols(), valueRequired);
  const long double result = parser.Expression();
  parser.ExpectEnd();
  return result;
}

long double TStandardFunction::Evaluate(TSymbolTable&, long double argument) {
  const long double result = routine_(argument);
  if (std::isnan(result) && !std::isnan(argument)) throw EInvalidOp();
  if (std::isinf(result) && std::isfinite(argument)) throw EOverflow();
  return result;
}

long double TExpressionFunction::Evaluate(TSymbolTable& table, long double argument) {
  TBusyGuard busy(busy_);
  TScopedSymbolValue parameter(table, parameter_, argument);
  return EvaluateBody(body_, position_, table);
}

long double TSymbolExpression::Evaluate(TSymbolTable& table) {
  TBusyGuard busy(busy_);
  return EvaluateBody(body_, position_, table);
}

}  // namespace sq
