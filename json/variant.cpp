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

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string WideToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  auto cont = [&](size_t k) { return k < n && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80; };
  while (i < n) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t code = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      code = b;
    } else if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      code = ((b & 0x1Fu) << 6) | (text[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      char32_t c = ((b & 0x0Fu) << 12) | ((text[i + 1] & 0x3Fu) << 6) | (text[i + 2] & 0x3F);
      if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
        code = c;
        len = 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      char32_t c = ((b & 0x07u) << 18) | ((text[i + 1] & 0x3Fu) << 12) | ((text[i + 2] & 0x3Fu) << 6) |
                   (text[i + 3] & 0x3F);
      if (c >= 0x10000 && c <= 0x10FFFF) {
        code = c;
        len = 4;
      }
    }
    if (code >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += len;
  }
  return out;
}

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
