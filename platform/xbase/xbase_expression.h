// xBase expressions as tables keep them for index keys, FOR conditions and
// filters: field names, string, date, logical and numeric literals, the
// operators + - * / = == <> != # < > <= >= $ .NOT. .AND. .OR. and
// parentheses, and the functions DTOS, UPPER, LOWER, DELETED, RECNO, STR,
// SUBSTR, LEFT, RIGHT, TRIM, RTRIM, LTRIM, ALLTRIM, EMPTY, IIF, VAL, YEAR,
// MONTH, DAY (names in any case). Parsing checks names and types, so an
// expression that parses always evaluates.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tv::xbase {

// Where a field sits in a record (offset counts the deletion flag as 0).
struct FieldLayout {
  std::string name;  // upper case
  char type = 'C';
  int offset = 1;
  int width = 1;
  int decimals = 0;
};

enum class ValueType { vtChar, vtNumeric, vtDate, vtLogical };

struct Value {
  ValueType type = ValueType::vtLogical;
  std::string text;    // vtChar
  double number = 0;   // vtNumeric; vtDate: Julian day number, 0 = empty
  bool logical = false;
};

// The Julian day number of a date (proleptic Gregorian), and back.
int64_t JulianDay(int year, int month, int day);
void CivilFromJulianDay(int64_t jdn, int& year, int& month, int& day);
// "YYYYMMDD" of a date field's text to a Julian day number: 0 when blank or
// not a valid date.
int64_t JulianDayOfText(const char* text, int width);

// The 8 index bytes of a number (or a Julian day): the big-endian double
// with the sign bit set for values >= 0, all bits inverted for negatives.
std::string EncodeNumberKey(double value);
double DecodeNumberKey(const std::string& key);

class Expression {
 public:
  Expression();
  ~Expression();
  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;

  // Parses an expression over the fields. Throws EBadArgument with a message
  // that quotes the expression and says what is wrong (the caller adds the
  // file name).
  static Expression Parse(const std::string& text, const std::vector<FieldLayout>& fields);

  bool IsEmpty() const { return root_ == nullptr; }
  const std::string& Text() const { return text_; }
  ValueType Type() const;
  // Length of a character result (the width a key of this expression has).
  int Width() const;

  // Evaluates over one record (deletion flag at record[0]).
  Value Evaluate(const uint8_t* record, uint32_t recordNumber) const;
  // For logical expressions; an empty expression is true.
  bool IsTrue(const uint8_t* record, uint32_t recordNumber) const;
  // The index key of this expression: character values blank-padded or cut
  // to keyLength, logical 'T'/'F', numbers and dates in 8 bytes.
  std::string Key(const uint8_t* record, uint32_t recordNumber, int keyLength) const;
  // The key length an index of this expression has (1..240).
  int KeyLength() const;
  // The byte that trailing compression removes: blank, or 0 for numbers/dates.
  char PadByte() const;

  struct Node;

 private:
  std::string text_;
  std::unique_ptr<Node> root_;
};

}  // namespace tv::xbase
