// A small tagged value: the form in which JSON nodes hand out and take their values.
#ifndef LORVANTA_JSON_VARIANT_H
#define LORVANTA_JSON_VARIANT_H

#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include "text/utf8.h"

// The five kinds of value that cross the node interface.
enum class VariantType {
  Null,        ///< no value
  Boolean,     ///< true or false
  Double,      ///< 64-bit IEEE floating point
  WideString,  ///< UTF-16 text
  ByteString,  ///< 8-bit text; UTF-8 is the program's code page
};

// Raised when a value cannot be converted to the kind asked for (text that is no number, a Null where a
// value is needed).
class EVariantError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raised when a number does not fit the integer it is converted to.
class ERangeError : public std::range_error {
 public:
  using std::range_error::range_error;
};

class Variant {
 public:
  Variant() = default;  // Null
  Variant(bool value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(int value) : value_(static_cast<double>(value)) {}  // integers travel as Double
  Variant(std::u16string value) : value_(std::move(value)) {}
  Variant(const char16_t* value) : value_(std::u16string(value)) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}

  VariantType Type() const { return static_cast<VariantType>(value_.index()); }
  bool IsNull() const { return Type() == VariantType::Null; }
  bool IsText() const { return Type() == VariantType::WideString || Type() == VariantType::ByteString; }
  // Booleans count as numbers, as they do for the conversions.
  bool IsNumeric() const { return Type() == VariantType::Double || Type() == VariantType::Boolean; }

  // Direct reads; each throws std::bad_variant_access when the value is of another kind.
  bool Boolean() const { return std::get<bool>(value_); }
  double Double() const { return std::get<double>(value_); }
  const std::u16string& WideString() const { return std::get<std::u16string>(value_); }
  const std::string& ByteString() const { return std::get<std::string>(value_); }

  bool operator==(const Variant&) const = default;

 private:
  std::variant<std::monostate, bool, double, std::u16string, std::string> value_;
};

// Conversions between the kinds. Each throws EVariantError when the value cannot be converted; a Null
// converts to nothing. A Boolean true reads as the number -1 (all bits set) and as the text "True";
// text reads as a number in the "." notation whatever the locale, and as a Boolean when it is "true" or
// "false" (any case) or a number (non-zero is true).
double VariantToDouble(const Variant& value);
bool VariantToBoolean(const Variant& value);
std::u16string VariantToWideString(const Variant& value);
std::string VariantToByteString(const Variant& value);

// Rounds to the nearest 32-bit integer, ties to even (2.5 -> 2, 3.5 -> 4). Throws ERangeError when the
// value lies outside the 32-bit range, EVariantError when it is no number.
int VariantToInt32(const Variant& value);

// UTF-8 text of a value, for display and for building addresses: Null gives "", a Boolean "True" or
// "False", a whole Double its decimal digits (1 -> "1", -20 -> "-20"), any other Double the shortest text
// that reads back to the same value (0.5 -> "0.5", 1e+300 -> "1e+300"), a wide string its UTF-8 form, a
// byte string itself. Never throws a conversion error.
std::string VariantText(const Variant& value);

// UTF-16 <-> UTF-8 (WideToUtf8, Utf8ToWide) come from the text unit.

#endif  // LORVANTA_JSON_VARIANT_H
