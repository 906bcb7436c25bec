#include "platform/xbase/xbase_expression.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/core/error_codes.h"
#include "platform/core/exceptions.h"

namespace tv::xbase {

int64_t JulianDay(int year, int month, int day) {
  int64_t a = (14 - month) / 12;
  int64_t y = year + 4800 - a;
  int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilFromJulianDay(int64_t jdn, int& year, int& month, int& day) {
  int64_t a = jdn + 32044;
  int64_t b = (4 * a + 3) / 146097;
  int64_t c = a - 146097 * b / 4;
  int64_t d = (4 * c + 3) / 1461;
  int64_t e = c - 1461 * d / 4;
  int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

int64_t JulianDayOfText(const char* text, int width) {
  if (width < 8) return 0;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v[i] = text[i] - '0';
  }
  int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  int m = v[4] * 10 + v[5];
  int d = v[6] * 10 + v[7];
  if (y < 1 || m < 1 || m > 12 || d < 1 || d > 31) return 0;
  return JulianDay(y, m, d);
}

std::string EncodeNumberKey(double value) {
  if (value == 0) value = 0;  // -0.0 becomes +0.0
  uint64_t bits;
  std::memcpy(&bits, &value, 8);
  if (bits & (uint64_t{1} << 63)) bits = ~bits;
  else bits |= uint64_t{1} << 63;
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[i] = static_cast<char>((bits >> (56 - 8 * i)) & 0xFF);
  return key;
}

double DecodeNumberKey(const std::string& key) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8 && i < key.size(); ++i)
    bits = (bits << 8) | static_cast<uint8_t>(key[i]);
  if (bits & (uint64_t{1} << 63)) bits &= ~(uint64_t{1} << 63);
  else bits = ~bits;
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

namespace {

std::string DateText(double jdn) {
  if (jdn <= 0) return std::string(8, ' ');
  int y, m, d;
  CivilFromJulianDay(static_cast<int64_t>(jdn), y, m, d);
  if (y < 1 || y > 9999) return std::string(8, ' ');
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

std::string RightTrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string LeftTrim(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

const char* TypeName(ValueType t) {
  switch (t) {
    case ValueType::vtChar: return "character";
    case ValueType::vtNumeric: return "numeric";
    case ValueType::vtDate: return "date";
    case ValueType::vtLogical: return "logical";
  }
  return "?";
}

enum class Op {
  opLiteral, opField, opNot, opNeg, opAnd, opOr, opAdd, opSub, opMul, opDiv,
  opEq, opExactEq, opNe, opLt, opGt, opLe, opGe, opContains,
  fnDtos, fnUpper, fnLower, fnDeleted, fnRecno, fnStr, fnSubstr, fnLeft, fnRight,
  fnTrim, fnLtrim, fnAlltrim, fnEmpty, fnIif, fnVal, fnYear, fnMonth, fnDay,
};

}  // namespace

struct Expression::Node {
  Op op = Op::opLiteral;
  ValueType type = ValueType::vtLogical;
  int width = 0;  // character results
  Value literal;
  FieldLayout field;
  std::vector<std::unique_ptr<Node>> args;
};

namespace {

using Node = Expression::Node;

Value FieldValue(const FieldLayout& f, const uint8_t* rec) {
  const char* p = reinterpret_cast<const char*>(rec + f.offset);
  Value v;
  switch (f.type) {
    case 'N':
    case 'F': {
      v.type = ValueType::vtNumeric;
      std::string s(p, f.width);
      v.number = std::strtod(s.c_str(), nullptr);
      break;
    }
    case 'D':
      v.type = ValueType::vtDate;
      v.number = static_cast<double>(JulianDayOfText(p, f.width));
      break;
    case 'L':
      v.type = ValueType::vtLogical;
      v.logical = (*p == 'T' || *p == 't' || *p == 'Y' || *p == 'y');
      break;
    default:
      v.type = ValueType::vtChar;
      v.text.assign(p, f.width);
      break;
  }
  return v;
}

// String "=" with exact matching off: the left side starts with the right
// side (trailing blanks of the right side ignored when the right is blank).
int CompareStrings(const std::string& a, const std::string& b) {
  size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : ' ';
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : ' ';
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int Compare(const Value& a, const Value& b) {
  switch (a.type) {
    case ValueType::vtChar: return CompareStrings(a.text, b.text);
    case ValueType::vtLogical: return (a.logical == b.logical) ? 0 : (a.logical ? 1 : -1);
    default: return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
  }
}

Value Eval(const Node& n, const uint8_t* rec, uint32_t recno) {
  Value v;
  v.type = n.type;
  auto arg = [&](size_t i) { return Eval(*n.args[i], rec, recno); };
  switch (n.op) {
    case Op::opLiteral: return n.literal;
    case Op::opField: return FieldValue(n.field, rec);
    case Op::opNot: v.logical = !arg(0).logical; return v;
    case Op::opNeg: v.number = -arg(0).number; return v;
    case Op::opAnd: v.logical = arg(0).logical && arg(1).logical; return v;
    case Op::opOr: v.logical = arg(0).logical || arg(1).logical; return v;
    case Op::opAdd: {
      Value a = arg(0), b = arg(1);
      if (a.type == ValueType::vtChar) v.text = a.text + b.text;
      else if (a.type == ValueType::vtDate && a.number == 0) v.number = 0;
      else if (b.type == ValueType::vtDate && b.number == 0) v.number = 0;
      else v.number = a.number + b.number;
      return v;
    }
    case Op::opSub: {
      Value a = arg(0), b = arg(1);
      if (a.type == ValueType::vtChar) {
        // xBase "-": trailing blanks of the left side move to the end.
        std::string l = RightTrim(a.text);
        v.text = l + b.text + std::string(a.text.size() - l.size(), ' ');
      } else {
        v.number = a.number - b.number;
      }
      return v;
    }
    case Op::opMul: v.number = arg(0).number * arg(1).number; return v;
    case Op::opDiv: {
      double d = arg(1).number;
      v.number = d == 0 ? 0 : arg(0).number / d;
      return v;
    }
    case Op::opEq: {
      Value a = arg(0), b = arg(1);
      if (a.type == ValueType::vtChar) {
        std::string r = b.text;
        if (r.size() > a.text.size()) v.logical = CompareStrings(a.text, r) == 0;
        else v.logical = a.text.compare(0, r.size(), r) == 0;
      } else {
        v.logical = Compare(a, b) == 0;
      }
      return v;
    }
    case Op::opExactEq: v.logical = Compare(arg(0), arg(1)) == 0; return v;
    case Op::opNe: {
      Value a = arg(0), b = arg(1);
      if (a.type == ValueType::vtChar) {
        std::string r = b.text;
        bool eq = r.size() > a.text.size() ? CompareStrings(a.text, r) == 0
                                            : a.text.compare(0, r.size(), r) == 0;
        v.logical = !eq;
      } else {
        v.logical = Compare(a, b) != 0;
      }
      return v;
    }
    case Op::opLt: v.logical = Compare(arg(0), arg(1)) < 0; return v;
    case Op::opGt: v.logical = Compare(arg(0), arg(1)) > 0; return v;
    case Op::opLe: v.logical = Compare(arg(0), arg(1)) <= 0; return v;
    case Op::opGe: v.logical = Compare(arg(0), arg(1)) >= 0; return v;
    case Op::opContains: {
      Value a = arg(0), b = arg(1);
      v.logical = b.text.find(a.text) != std::string::npos;
      return v;
    }
    case Op::fnDtos: v.text = DateText(arg(0).number); return v;
    case Op::fnUpper:
      v.text = arg(0).text;
      for (char& c : v.text) if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      return v;
    case Op::fnLower:
      v.text = arg(0).text;
      for (char& c : v.text) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      return v;
    case Op::fnDeleted: v.logical = rec[0] == '*'; return v;
    case Op::fnRecno: v.number = recno; return v;
    case Op::fnStr: {
      double x = arg(0).number;
      int len = n.args.size() > 1 ? static_cast<int>(arg(1).number) : 10;
      int dec = n.args.size() > 2 ? static_cast<int>(arg(2).number) : 0;
      len = std::clamp(len, 1, 240);
      dec = std::clamp(dec, 0, std::max(0, len - 2));
      char buf[400];
      std::snprintf(buf, sizeof buf, "%*.*f", len, dec, x);
      v.text = buf;
      if (static_cast<int>(v.text.size()) > len) v.text = std::string(len, '*');
      return v;
    }
    case Op::fnSubstr: {
      std::string s = arg(0).text;
      int start = static_cast<int>(arg(1).number);
      int len = n.args.size() > 2 ? static_cast<int>(arg(2).number) : static_cast<int>(s.size());
      if (start < 1) start = 1;
      if (start > static_cast<int>(s.size()) || len <= 0) v.text.clear();
      else v.text = s.substr(start - 1, len);
      return v;
    }
    case Op::fnLeft: {
      std::string s = arg(0).text;
      int len = std::max(0, static_cast<int>(arg(1).number));
      v.text = s.substr(0, std::min<size_t>(len, s.size()));
      return v;
    }
    case Op::fnRight: {
      std::string s = arg(0).text;
      size_t len = std::min<size_t>(std::max(0, static_cast<int>(arg(1).number)), s.size());
      v.text = s.substr(s.size() - len);
      return v;
    }
    case Op::fnTrim: v.text = RightTrim(arg(0).text); return v;
    case Op::fnLtrim: v.text = LeftTrim(arg(0).text); return v;
    case Op::fnAlltrim: v.text = LeftTrim(RightTrim(arg(0).text)); return v;
    case Op::fnEmpty: {
      Value a = arg(0);
      switch (a.type) {
        case ValueType::vtChar: v.logical = RightTrim(a.text).empty(); break;
        case ValueType::vtLogical: v.logical = !a.logical; break;
        default: v.logical = a.number == 0; break;
      }
      return v;
    }
    case Op::fnIif: {
      Value r = arg(0).logical ? arg(1) : arg(2);
      if (r.type == ValueType::vtChar && static_cast<int>(r.text.size()) < n.width)
        r.text.resize(n.width, ' ');
      return r;
    }
    case Op::fnVal: v.number = std::strtod(arg(0).text.c_str(), nullptr); return v;
    case Op::fnYear:
    case Op::fnMonth:
    case Op::fnDay: {
      double j = arg(0).number;
      if (j <= 0) { v.number = 0; return v; }
      int y, m, d;
      CivilFromJulianDay(static_cast<int64_t>(j), y, m, d);
      v.number = n.op == Op::fnYear ? y : (n.op == Op::fnMonth ? m : d);
      return v;
    }
  }
  return v;
}

// ---- Parser ----------------------------------------------------------------

class Parser {
 public:
  Parser(const std::string& text, const std::vector<FieldLayout>& fields)
      : s_(text), fields_(fields) {}

  std::unique_ptr<Node> ParseAll() {
    auto n = ParseOr();
    SkipBlanks();
    if (pos_ < s_.size()) Fail("unexpected \"" + s_.substr(pos_, 10) + "\"");
    return n;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EBadArgument(ecBadArgument, "Bad expression \"" + s_ + "\": " + what +
                                          " (at position " + std::to_string(pos_ + 1) + ")");
  }

  void SkipBlanks() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }

  // Matches a word operator such as ".AND." in any case.
  bool MatchDotWord(const char* word) {
    SkipBlanks();
    size_t n = std::strlen(word);
    if (pos_ + n > s_.size()) return false;
    for (size_t i = 0; i < n; ++i)
      if (std::toupper(static_cast<unsigned char>(s_[pos_ + i])) != word[i]) return false;
    pos_ += n;
    return true;
  }

  bool Match(const char* sym) {
    SkipBlanks();
    size_t n = std::strlen(sym);
    if (s_.compare(pos_, n, sym) != 0) return false;
    pos_ += n;
    return true;
  }

  static std::unique_ptr<Node> Make(Op op, ValueType t, int width = 0) {
    auto n = std::make_unique<Node>();
    n->op = op;
    n->type = t;
    n->width = width;
    return n;
  }

  void Expect(const std::unique_ptr<Node>& n, ValueType t, const char* where) {
    if (n->type != t)
      Fail(std::string(where) + " needs a " + TypeName(t) + " value, not " + TypeName(n->type));
  }

  std::unique_ptr<Node> ParseOr() {
    auto left = ParseAnd();
    while (MatchDotWord(".OR.")) {
      auto right = ParseAnd();
      Expect(left, ValueType::vtLogical, ".OR.");
      Expect(right, ValueType::vtLogical, ".OR.");
      auto n = Make(Op::opOr, ValueType::vtLogical);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<Node> ParseAnd() {
    auto left = ParseNot();
    while (MatchDotWord(".AND.")) {
      auto right = ParseNot();
      Expect(left, ValueType::vtLogical, ".AND.");
      Expect(right, ValueType::vtLogical, ".AND.");
      auto n = Make(Op::opAnd, ValueType::vtLogical);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
    return left;
  }

  std::unique_ptr<Node> ParseNot() {
    SkipBlanks();
    if (MatchDotWord(".NOT.") || (pos_ < s_.size() && s_[pos_] == '!' &&
                                  (pos_ + 1 >= s_.size() || s_[pos_ + 1] != '=') && ++pos_)) {
      if (++depth_ > 200) Fail("expression nested too deeply");
      auto a = ParseNot();
      --depth_;
      Expect(a, ValueType::vtLogical, ".NOT.");
      auto n = Make(Op::opNot, ValueType::vtLogical);
      n->args.push_back(std::move(a));
      return n;
    }
    return ParseComparison();
  }

  std::unique_ptr<Node> ParseComparison() {
    auto left = ParseSum();
    Op op;
    if (Match("==")) op = Op::opExactEq;
    else if (Match("<>") || Match("!=") || Match("#")) op = Op::opNe;
    else if (Match("<=")) op = Op::opLe;
    else if (Match(">=")) op = Op::opGe;
    else if (Match("=")) op = Op::opEq;
    else if (Match("<")) op = Op::opLt;
    else if (Match(">")) op = Op::opGt;
    else if (Match("$")) op = Op::opContains;
    else return left;
    auto right = ParseSum();
    if (op == Op::opContains) {
      Expect(left, ValueType::vtChar, "$");
      Expect(right, ValueType::vtChar, "$");
    } else if (left->type != right->type) {
      Fail(std::string("cannot compare ") + TypeName(left->type) + " with " +
           TypeName(right->type));
    }
    auto n = Make(op, ValueType::vtLogical);
    n->args.push_back(std::move(left));
    n->args.push_back(std::move(right));
    return n;
  }

  std::unique_ptr<Node> ParseSum() {
    auto left = ParseProduct();
    for (;;) {
      Op op;
      if (Match("+")) op = Op::opAdd;
      else if (Match("-")) op = Op::opSub;
      else return left;
      auto right = ParseProduct();
      ValueType lt = left->type, rt = right->type, t;
      int width = 0;
      if (lt == ValueType::vtChar && rt == ValueType::vtChar) {
        t = ValueType::vtChar;
        width = left->width + right->width;
      } else if (lt == ValueType::vtNumeric && rt == ValueType::vtNumeric) {
        t = ValueType::vtNumeric;
      } else if (lt == ValueType::vtDate && rt == ValueType::vtNumeric) {
        t = ValueType::vtDate;
      } else if (op == Op::opAdd && lt == ValueType::vtNumeric && rt == ValueType::vtDate) {
        t = ValueType::vtDate;
      } else if (op == Op::opSub && lt == ValueType::vtDate && rt == ValueType::vtDate) {
        t = ValueType::vtNumeric;
      } else {
        Fail(std::string("operator ") + (op == Op::opAdd ? "+" : "-") + " cannot combine " +
             TypeName(lt) + " and " + TypeName(rt));
      }
      auto n = Make(op, t, width);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
  }

  std::unique_ptr<Node> ParseProduct() {
    auto left = ParseUnary();
    for (;;) {
      Op op;
      if (Match("*")) op = Op::opMul;
      else if (Match("/")) op = Op::opDiv;
      else return left;
      auto right = ParseUnary();
      Expect(left, ValueType::vtNumeric, op == Op::opMul ? "*" : "/");
      Expect(right, ValueType::vtNumeric, op == Op::opMul ? "*" : "/");
      auto n = Make(op, ValueType::vtNumeric);
      n->args.push_back(std::move(left));
      n->args.push_back(std::move(right));
      left = std::move(n);
    }
  }

  std::unique_ptr<Node> ParseUnary() {
    if (Match("-")) {
      auto a = ParseUnary();
      Expect(a, ValueType::vtNumeric, "unary -");
      auto n = Make(Op::opNeg, ValueType::vtNumeric);
      n->args.push_back(std::move(a));
      return n;
    }
    if (Match("+")) return ParseUnary();
    return ParsePrimary();
  }

  static int LiteralInt(const std::unique_ptr<Node>& n, int fallback) {
    if (n->op == Op::opLiteral && n->type == ValueType::vtNumeric)
      return static_cast<int>(n->literal.number);
    return fallback;
  }

  std::unique_ptr<Node> ParsePrimary() {
    SkipBlanks();
    if (pos_ >= s_.size()) Fail("the expression ends too early");
    char c = s_[pos_];
    if (c == '(') {
      ++pos_;
      if (++depth_ > 200) Fail("expression nested too deeply");
      auto n = ParseOr();
      --depth_;
      if (!Match(")")) Fail("\")\" expected");
      return n;
    }
    if (c == '\'' || c == '"' || c == '[') {
      char close = c == '[' ? ']' : c;
      size_t end = s_.find(close, pos_ + 1);
      if (end == std::string::npos) Fail("string without its closing quote");
      auto n = Make(Op::opLiteral, ValueType::vtChar);
      n->literal.type = ValueType::vtChar;
      n->literal.text = s_.substr(pos_ + 1, end - pos_ - 1);
      n->width = static_cast<int>(n->literal.text.size());
      pos_ = end + 1;
      return n;
    }
    if (c == '{') return ParseDateLiteral();
    if (c == '.') {
      // .T. .F. .Y. .N. or a number such as .5
      if (pos_ + 2 < s_.size() && s_[pos_ + 2] == '.' &&
          std::strchr("TtFfYyNn", s_[pos_ + 1]) != nullptr && s_[pos_ + 1] != '\0') {
        char v = static_cast<char>(std::toupper(static_cast<unsigned char>(s_[pos_ + 1])));
        pos_ += 3;
        auto n = Make(Op::opLiteral, ValueType::vtLogical);
        n->literal.type = ValueType::vtLogical;
        n->literal.logical = (v == 'T' || v == 'Y');
        return n;
      }
    }
    if (std::isdigit(static_cast<unsigned char>(c)) || c == '.') {
      size_t start = pos_;
      while (pos_ < s_.size() && (std::isdigit(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '.'))
        ++pos_;
      std::string num = s_.substr(start, pos_ - start);
      if (std::count(num.begin(), num.end(), '.') > 1 || num == ".") {
        pos_ = start;
        Fail("bad number \"" + num + "\"");
      }
      auto n = Make(Op::opLiteral, ValueType::vtNumeric);
      n->literal.type = ValueType::vtNumeric;
      n->literal.number = std::strtod(num.c_str(), nullptr);
      return n;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      size_t start = pos_;
      while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
        ++pos_;
      std::string name = s_.substr(start, pos_ - start);
      for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      SkipBlanks();
      if (pos_ < s_.size() && s_[pos_] == '(') {
        ++pos_;
        return ParseCall(name, start);
      }
      // An alias prefix ("ALIAS.FIELD" or "ALIAS->FIELD") is not part of a
      // key; only plain field names are accepted.
      for (const FieldLayout& f : fields_) {
        if (f.name == name) {
          ValueType t = f.type == 'N' || f.type == 'F' ? ValueType::vtNumeric
                        : f.type == 'D'               ? ValueType::vtDate
                        : f.type == 'L'               ? ValueType::vtLogical
                                                      : ValueType::vtChar;
          auto n = Make(Op::opField, t, t == ValueType::vtChar ? f.width : 0);
          n->field = f;
          return n;
        }
      }
      pos_ = start;
      Fail("no field named " + name);
    }
    Fail(std::string("unexpected \"") + c + "\"");
  }

  std::unique_ptr<Node> ParseDateLiteral() {
    size_t end = s_.find('}', pos_);
    if (end == std::string::npos) Fail("date without its closing \"}\"");
    std::string body = s_.substr(pos_ + 1, end - pos_ - 1);
    auto n = Make(Op::opLiteral, ValueType::vtDate);
    n->literal.type = ValueType::vtDate;
    std::string t;
    for (char ch : body) if (ch != ' ') t += ch;
    int y = 0, m = 0, d = 0;
    if (t.empty() || t == "^" || t == "//" || t == "--") {
      n->literal.number = 0;
    } else {
      bool ok;
      if (t[0] == '^') ok = std::sscanf(t.c_str() + 1, "%d%*[-/.]%d%*[-/.]%d", &y, &m, &d) == 3;
      else ok = std::sscanf(t.c_str(), "%d/%d/%d", &m, &d, &y) == 3;
      if (ok && y < 100 && t[0] != '^') y += y < 50 ? 2000 : 1900;
      int yy, mm, dd;
      if (ok && y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= 31) {
        CivilFromJulianDay(JulianDay(y, m, d), yy, mm, dd);
        ok = yy == y && mm == m && dd == d;
      } else {
        ok = false;
      }
      if (!ok) Fail("bad date {" + body + "}");
      n->literal.number = static_cast<double>(JulianDay(y, m, d));
    }
    pos_ = end + 1;
    return n;
  }

  std::unique_ptr<Node> ParseCall(const std::string& name, size_t start) {
    std::vector<std::unique_ptr<Node>> args;
    if (!Match(")")) {
      if (++depth_ > 200) Fail("expression nested too deeply");
      for (;;) {
        args.push_back(ParseOr());
        if (Match(")")) break;
        if (!Match(",")) Fail("\",\" or \")\" expected");
      }
      --depth_;
    }
    struct Sig {
      const char* name;
      Op op;
      size_t minArgs, maxArgs;
    };
    static const Sig sigs[] = {
        {"DTOS", Op::fnDtos, 1, 1},       {"UPPER", Op::fnUpper, 1, 1},
        {"LOWER", Op::fnLower, 1, 1},     {"DELETED", Op::fnDeleted, 0, 0},
        {"RECNO", Op::fnRecno, 0, 0},     {"STR", Op::fnStr, 1, 3},
        {"SUBSTR", Op::fnSubstr, 2, 3},   {"LEFT", Op::fnLeft, 2, 2},
        {"RIGHT", Op::fnRight, 2, 2},     {"TRIM", Op::fnTrim, 1, 1},
        {"RTRIM", Op::fnTrim, 1, 1},      {"LTRIM", Op::fnLtrim, 1, 1},
        {"ALLTRIM", Op::fnAlltrim, 1, 1}, {"EMPTY", Op::fnEmpty, 1, 1},
        {"IIF", Op::fnIif, 3, 3},         {"VAL", Op::fnVal, 1, 1},
        {"YEAR", Op::fnYear, 1, 1},       {"MONTH", Op::fnMonth, 1, 1},
        {"DAY", Op::fnDay, 1, 1},
    };
    const Sig* sig = nullptr;
    for (const Sig& s : sigs)
      if (name == s.name) sig = &s;
    if (!sig) {
      pos_ = start;
      Fail("unknown function " + name + "()");
    }
    if (args.size() < sig->minArgs || args.size() > sig->maxArgs) {
      pos_ = start;
      Fail(name + "() takes " +
           (sig->minArgs == sig->maxArgs ? std::to_string(sig->minArgs)
                                         : std::to_string(sig->minArgs) + " to " +
                                               std::to_string(sig->maxArgs)) +
           " argument(s), not " + std::to_string(args.size()));
    }
    auto need = [&](size_t i, ValueType t) {
      if (args[i]->type != t) {
        pos_ = start;
        Fail(name + "() needs a " + TypeName(t) + " argument " + std::to_string(i + 1) +
             ", not " + TypeName(args[i]->type));
      }
    };
    ValueType t = ValueType::vtChar;
    int width = 0;
    switch (sig->op) {
      case Op::fnDtos: need(0, ValueType::vtDate); width = 8; break;
      case Op::fnUpper:
      case Op::fnLower:
      case Op::fnTrim:
      case Op::fnLtrim:
      case Op::fnAlltrim:
        need(0, ValueType::vtChar);
        width = args[0]->width;
        break;
      case Op::fnDeleted: t = ValueType::vtLogical; break;
      case Op::fnRecno: t = ValueType::vtNumeric; break;
      case Op::fnStr:
        need(0, ValueType::vtNumeric);
        for (size_t i = 1; i < args.size(); ++i) need(i, ValueType::vtNumeric);
        width = std::clamp(args.size() > 1 ? LiteralInt(args[1], 10) : 10, 1, 240);
        break;
      case Op::fnSubstr: {
        need(0, ValueType::vtChar);
        need(1, ValueType::vtNumeric);
        if (args.size() > 2) need(2, ValueType::vtNumeric);
        int from = std::max(1, LiteralInt(args[1], 1));
        int rest = std::max(0, args[0]->width - from + 1);
        width = args.size() > 2 ? std::min(rest, std::max(0, LiteralInt(args[2], rest))) : rest;
        break;
      }
      case Op::fnLeft:
      case Op::fnRight:
        need(0, ValueType::vtChar);
        need(1, ValueType::vtNumeric);
        width = std::min(args[0]->width, std::max(0, LiteralInt(args[1], args[0]->width)));
        break;
      case Op::fnEmpty: t = ValueType::vtLogical; break;
      case Op::fnIif:
        need(0, ValueType::vtLogical);
        if (args[1]->type != args[2]->type) {
          pos_ = start;
          Fail("IIF() needs two results of one type");
        }
        t = args[1]->type;
        width = std::max(args[1]->width, args[2]->width);
        break;
      case Op::fnVal: need(0, ValueType::vtChar); t = ValueType::vtNumeric; break;
      case Op::fnYear:
      case Op::fnMonth:
      case Op::fnDay: need(0, ValueType::vtDate); t = ValueType::vtNumeric; break;
      default: break;
    }
    auto n = Make(sig->op, t, width);
    n->args = std::move(args);
    return n;
  }

  const std::string& s_;
  const std::vector<FieldLayout>& fields_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

Expression Expression::Parse(const std::string& text, const std::vector<FieldLayout>& fields) {
  Expression e;
  e.text_ = text;
  bool blank = std::all_of(text.begin(), text.end(),
                           [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
  if (blank) return e;
  Parser p(text, fields);
  e.root_ = p.ParseAll();
  return e;
}

ValueType Expression::Type() const { return root_ ? root_->type : ValueType::vtLogical; }

int Expression::Width() const { return root_ ? root_->width : 0; }

Value Expression::Evaluate(const uint8_t* record, uint32_t recordNumber) const {
  if (!root_) {
    Value v;
    v.logical = true;
    return v;
  }
  return Eval(*root_, record, recordNumber);
}

bool Expression::IsTrue(const uint8_t* record, uint32_t recordNumber) const {
  if (!root_) return true;
  return Eval(*root_, record, recordNumber).logical;
}

int Expression::KeyLength() const {
  switch (Type()) {
    case ValueType::vtChar: return std::clamp(Width(), 1, 240);
    case ValueType::vtLogical: return 1;
    default: return 8;
  }
}

char Expression::PadByte() const {
  return Type() == ValueType::vtNumeric || Type() == ValueType::vtDate ? '\0' : ' ';
}

std::string Expression::Key(const uint8_t* record, uint32_t recordNumber, int keyLength) const {
  Value v = Evaluate(record, recordNumber);
  switch (v.type) {
    case ValueType::vtChar: {
      std::string k = std::move(v.text);
      k.resize(keyLength, ' ');
      return k;
    }
    case ValueType::vtLogical: {
      std::string k(keyLength, ' ');
      k[0] = v.logical ? 'T' : 'F';
      return k;
    }
    default: {
      std::string k = EncodeNumberKey(v.number);
      k.resize(keyLength, '\0');
      return k;
    }
  }
}

}  // namespace tv::xbase
