#include "json/variant.h"

#include <locale.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>

namespace {

// Number text in the "." notation, whatever the process or thread locale says.
locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

double TextToDouble(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  // Only plain decimal notation: strtod would also take "inf", "nan" and hexadecimal floats.
  bool digit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') {
      digit = false;
      break;
    }
  }
  if (!digit) throw EVariantError("Could not convert text to a number");
  std::string buffer(text);
  char* end = nullptr;
  double value = strtod_l(buffer.c_str(), &end, CLocale());
  if (end != buffer.c_str() + buffer.size()) throw EVariantError("Could not convert text to a number");
  if (std::isinf(value)) throw EVariantError("Number is out of range");
  return value;
}

std::string DoubleText(double value) {
  char buffer[64];
  std::to_chars_result r;
  if (value == 0) return "0";  // also for -0
  if (std::trunc(value) == value && std::fabs(value) < 1e15) {
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, value);
  }
  return std::string(buffer, r.ptr);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool TextToBoolean(std::string_view text) {
  std::string_view t = text;
  while (!t.empty() && IsSpace(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsSpace(t.back())) t.remove_suffix(1);
  if (EqualsIgnoringCase(t, "true")) return true;
  if (EqualsIgnoringCase(t, "false")) return false;
  return TextToDouble(t) != 0;
}

}  // namespace

double VariantToDouble(const Variant& value) {
  switch (value.Type()) {
    case VariantType::Null:
      break;
    case VariantType::Boolean:
      return value.Boolean() ? -1.0 : 0.0;
    case VariantType::Double:
      return value.Double();
    case VariantType::WideString:
      return TextToDouble(WideToUtf8(value.WideString()));
    case VariantType::ByteString:
      return TextToDouble(value.ByteString());
  }
  throw EVariantError("Could not convert variant of type (Null) into type (Double)");
}

bool VariantToBoolean(const Variant& value) {
  switch (value.Type()) {
    case VariantType::Null:
      break;
    case VariantType::Boolean:
      return value.Boolean();
    case VariantType::Double:
      return value.Double() != 0;
    case VariantType::WideString:
      return TextToBoolean(WideToUtf8(value.WideString()));
    case VariantType::ByteString:
      return TextToBoolean(value.ByteString());
  }
  throw EVariantError("Could not convert variant of type (Null) into type (Boolean)");
}

std::string VariantToByteString(const Variant& value) {
  if (value.IsNull()) throw EVariantError("Could not convert variant of type (Null) into type (String)");
  return VariantText(value);
}

std::u16string VariantToWideString(const Variant& value) {
  if (value.Type() == VariantType::WideString) return value.WideString();
  return Utf8ToWide(VariantToByteString(value));
}

int VariantToInt32(const Variant& value) {
  const double d = VariantToDouble(value);
  if (std::isnan(d)) throw ERangeError("Number is not an integer");
  double r = std::round(d);  // halves away from zero; pull them back to the even neighbour
  if (std::fabs(d - std::trunc(d)) == 0.5 && std::fmod(r, 2.0) != 0) r -= std::copysign(1.0, d);
  if (r < -2147483648.0 || r > 2147483647.0) throw ERangeError("Number is out of the 32-bit range");
  return static_cast<int>(r);
}

std::string VariantText(const Variant& value) {
  switch (value.Type()) {
    case VariantType::Null:
      return {};
    case VariantType::Boolean:
      return value.Boolean() ? "True" : "False";
    case VariantType::Double:
      return DoubleText(value.Double());
    case VariantType::WideString:
      return WideToUtf8(value.WideString());
    case VariantType::ByteString:
      return value.ByteString();
  }
  return {};
}
