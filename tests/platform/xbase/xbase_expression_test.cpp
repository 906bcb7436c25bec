#include "platform/xbase/xbase_expression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/core/exceptions.h"

namespace tv::xbase {
namespace {

// One record of SUBJECT C 10, DATESENT D 8, TIMESENT C 5, ARCHIVED L 1,
// PAGES N 4.
struct Row {
  std::vector<FieldLayout> fields{{"SUBJECT", 'C', 1, 10, 0},
                                  {"DATESENT", 'D', 11, 8, 0},
                                  {"TIMESENT", 'C', 19, 5, 0},
                                  {"ARCHIVED", 'L', 24, 1, 0},
                                  {"PAGES", 'N', 25, 4, 0}};
  std::string bytes;
  Row(const char* subject, const char* date, const char* time, char archived, const char* pages,
      bool deleted = false) {
    auto pad = [](std::string s, size_t n) { s.resize(n, ' '); return s; };
    bytes = std::string(deleted ? "*" : " ") + pad(subject, 10) + pad(date, 8) + pad(time, 5) +
            archived + pad(std::string(4 - std::strlen(pages), ' ') + pages, 4);
  }
  const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(bytes.data()); }
};

std::string Show(const Value& v) {
  switch (v.type) {
    case ValueType::vtChar: return "C:" + v.text;
    case ValueType::vtLogical: return v.logical ? "L:T" : "L:F";
    case ValueType::vtNumeric: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "N:%g", v.number);
      return buf;
    }
    case ValueType::vtDate: {
      int y, m, d;
      if (v.number == 0) return "D:";
      CivilFromJulianDay(static_cast<int64_t>(v.number), y, m, d);
      char buf[64];
      std::snprintf(buf, sizeof buf, "D:%04d%02d%02d", y, m, d);
      return buf;
    }
  }
  return "?";
}

TEST(XbaseExpression, EvaluatesTheLanguage) {
  Row row("Acme memo", "20240315", "09:30", 'F', "12");
  Row deleted("zeta", "", "", 'T', "", true);
  struct Case {
    const char* text;
    const Row* row;
    const char* expected;
  };
  const Case cases[] = {
      {"DTOS(DATESENT)+TIMESENT", &row, "C:2024031509:30"},
      {"dtos(datesent) + timesent", &row, "C:2024031509:30"},
      {"DTOS(DATESENT)+TIMESENT", &deleted, "C:             "},
      {"UPPER(SUBJECT)", &row, "C:ACME MEMO "},
      {"Upper(subject)", &deleted, "C:ZETA      "},
      {"LOWER(SUBJECT)", &row, "C:acme memo "},
      {"ARCHIVED", &row, "L:F"},
      {".not. archived", &row, "L:T"},
      {".NOT. ARCHIVED", &deleted, "L:F"},
      {"!ARCHIVED", &row, "L:T"},
      {".not. deleted()", &row, "L:T"},
      {".not. deleted()", &deleted, "L:F"},
      {"DELETED()", &deleted, "L:T"},
      {"DELETED() .OR. ARCHIVED", &row, "L:F"},
      {"DELETED() .or. ARCHIVED", &deleted, "L:T"},
      {".NOT. DELETED() .AND. PAGES > 10", &row, "L:T"},
      {"(PAGES + 3) * 2", &row, "N:30"},
      {"PAGES / 4 - 1", &row, "N:2"},
      {"-PAGES", &row, "N:-12"},
      {"PAGES", &deleted, "N:0"},
      {"PAGES >= 12 .AND. PAGES <= 12", &row, "L:T"},
      {"PAGES <> 12", &row, "L:F"},
      {"PAGES # 11", &row, "L:T"},
      {"SUBJECT = 'Acme'", &row, "L:T"},
      {"SUBJECT == 'Acme'", &row, "L:F"},
      {"SUBJECT == \"Acme memo\"", &row, "L:T"},
      {"'memo' $ SUBJECT", &row, "L:T"},
      {"[x] $ SUBJECT", &row, "L:F"},
      {"SUBJECT < 'B'", &row, "L:T"},
      {"DATESENT = {^2024-03-15}", &row, "L:T"},
      {"DATESENT > {03/14/2024}", &row, "L:T"},
      {"DATESENT + 20", &row, "D:20240404"},
      {"DATESENT - {^2024-01-01}", &row, "N:74"},
      {"DATESENT = {}", &deleted, "L:T"},
      {"EMPTY(DATESENT)", &deleted, "L:T"},
      {"EMPTY(SUBJECT)", &row, "L:F"},
      {"YEAR(DATESENT) * 100 + MONTH(DATESENT)", &row, "N:202403"},
      {"DAY(DATESENT)", &row, "N:15"},
      {"STR(PAGES, 5)", &row, "C:   12"},
      {"STR(PAGES)", &row, "C:        12"},
      {"STR(PAGES, 6, 1)", &row, "C:  12.0"},
      {"SUBSTR(SUBJECT, 6, 4)", &row, "C:memo"},
      {"LEFT(SUBJECT, 4) + RIGHT(TIMESENT, 2)", &row, "C:Acme30"},
      {"TRIM(SUBJECT) + '!'", &row, "C:Acme memo!"},
      {"ALLTRIM('  a  ') + LTRIM(' b')", &row, "C:ab"},
      {"SUBJECT - TIMESENT", &deleted, "C:zeta           "},
      {"IIF(ARCHIVED, 'yes', 'no')", &row, "C:no "},
      {"VAL('12.5') + 1", &row, "N:13.5"},
      {"RECNO()", &row, "N:7"},
      {".T. .AND. .Y.", &row, "L:T"},
      {".F. .OR. .N.", &row, "L:F"},
      {"1.5 + .5", &row, "N:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Expression e = Expression::Parse(c.text, c.row->fields);
    EXPECT_EQ(Show(e.Evaluate(c.row->data(), 7)), c.expected);
  }
}

TEST(XbaseExpression, BadExpressionsAreClearErrors) {
  Row row("a", "", "", 'F', "1");
  struct Case {
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"DTOS(DATESENT", "\")\" expected"},
      {"UPPER(NOSUCH)", "no field named NOSUCH"},
      {"FROB(SUBJECT)", "unknown function FROB()"},
      {"DTOS(SUBJECT)", "needs a date"},
      {"SUBJECT + PAGES", "cannot combine character and numeric"},
      {".NOT. SUBJECT", "needs a logical"},
      {"SUBJECT = 1", "cannot compare"},
      {"'open", "closing quote"},
      {"PAGES PAGES", "unexpected"},
      {"ARCHIVED .AND.", "ends too early"},
      {"UPPER(SUBJECT, 1)", "takes 1 argument"},
      {"{^2024-02-30}", "bad date"},
      {"1..2", "bad number"},
      {"@", "unexpected"},
      {"DELETED(", "ends too early"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      Expression::Parse(c.text, row.fields);
      ADD_FAILURE() << "parsed";
    } catch (const EBadArgument& e) {
      std::string what = e.what();
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
      EXPECT_NE(what.find(c.text), std::string::npos) << what;
    }
  }
  // Deep nesting is refused, not a stack overflow.
  std::string deep(100000, '(');
  EXPECT_THROW(Expression::Parse(deep, row.fields), EBadArgument);
  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += ".NOT. ";
  EXPECT_THROW(Expression::Parse(nots + "ARCHIVED", row.fields), EBadArgument);
}

TEST(XbaseExpression, KeysFollowTheIndexEncoding) {
  struct Case {
    double value;
    const char* hex;
  };
  const Case cases[] = {
      {-10000000000.0, "3DFD5FA0DFFFFFFF"}, {-1, "400FFFFFFFFFFFFF"}, {-0.5, "401FFFFFFFFFFFFF"},
      {0, "8000000000000000"},              {-0.0, "8000000000000000"}, {0.5, "BFE0000000000000"},
      {1, "BFF0000000000000"},              {100, "C059000000000000"},  {2451545, "C142B42C80000000"},
  };
  for (const Case& c : cases) {
    std::string key = EncodeNumberKey(c.value);
    std::string hex;
    for (unsigned char b : key) {
      char buf[3];
      std::snprintf(buf, sizeof buf, "%02X", b);
      hex += buf;
    }
    EXPECT_EQ(hex, c.hex) << c.value;
    EXPECT_EQ(DecodeNumberKey(key), c.value);
  }
  EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(JulianDay(1, 1, 1), 1721426);
  EXPECT_EQ(JulianDay(9999, 12, 31), 5373484);

  Row row("Acme", "20000101", "", 'F', "-1");
  Row blank("", "", "", ' ', "");
  Expression date = Expression::Parse("DATESENT", row.fields);
  EXPECT_EQ(date.KeyLength(), 8);
  EXPECT_EQ(date.PadByte(), '\0');
  EXPECT_EQ(date.Key(row.data(), 1, 8), EncodeNumberKey(2451545));
  EXPECT_EQ(date.Key(blank.data(), 1, 8), EncodeNumberKey(0));
  Expression logical = Expression::Parse("ARCHIVED", row.fields);
  EXPECT_EQ(logical.KeyLength(), 1);
  EXPECT_EQ(logical.Key(blank.data(), 1, 1), "F");
  Expression chars = Expression::Parse("DTOS(DATESENT)+TIMESENT", row.fields);
  EXPECT_EQ(chars.KeyLength(), 13);
  EXPECT_EQ(chars.PadByte(), ' ');
  EXPECT_EQ(chars.Key(blank.data(), 1, 13), std::string(13, ' '));
  EXPECT_EQ(Expression::Parse("PAGES", row.fields).Key(row.data(), 1, 8), EncodeNumberKey(-1));
}

}  // namespace
}  // namespace tv::xbase
