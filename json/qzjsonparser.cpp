// TqzJSON::ParseValue: a recursive-descent reader over the bytes of the text. Every reader either takes
// a whole value and hands back its node with the position moved past it, or hands back nothing and leaves
// the position where it was; containers free whatever they had gathered when they fail.
#include <locale.h>

#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "json/qzjson.h"

namespace {

// Powers of ten that a long double holds exactly (5^27 < 2^64), so one multiplication or division by them
// rounds correctly.
constexpr long double kExactPowers[] = {1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
                                        1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
                                        1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L};
constexpr int kMaxExactPower = 27;
// Mantissas of up to 19 digits fit a 64-bit integer.
constexpr int kMaxFastDigits = 19;
// An exponent that has reached this value takes no further digit.
constexpr int kExponentDigitLimit = 500;

locale_t NumberLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return loc;
}

// Bytes that end the quick scan inside a string: the quote, the backslash and anything of 0x80 and above.
struct StringByteTable {
  bool plain[256];
  constexpr StringByteTable() : plain() {
    for (int c = 0; c < 256; ++c) plain[c] = c < 0x80 && c != '"' && c != '\\';
  }
};
constexpr StringByteTable kStringBytes;

int HexDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}

class Parser {
 public:
  Parser(std::string_view text, size_t start)
      : s_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()), pos_(start) {}

  // The top value, or nullptr. Bytes after it are not looked at.
  std::unique_ptr<TqzJSONbase> Run() {
    std::unique_ptr<TqzJSONbase> root = Value();
    if (fatal_) return nullptr;
    return root;
  }

 private:
  // Every byte up to 0x20 (space and all control bytes) is whitespace.
  void SkipWhitespace() {
    while (pos_ < n_ && s_[pos_] <= 0x20) ++pos_;
  }

  bool At(unsigned char c) const { return pos_ < n_ && s_[pos_] == c; }

  bool Literal(std::string_view word) const {
    return n_ - pos_ >= word.size() &&
           std::string_view(reinterpret_cast<const char*>(s_ + pos_), word.size()) == word;
  }

  // The readers do not overlap in the bytes they start with, so the first byte picks the one reader that
  // can succeed. The byte after a literal is not examined: "trueish" reads true.
  std::unique_ptr<TqzJSONbase> Value() {
    SkipWhitespace();
    if (pos_ >= n_) return nullptr;
    switch (s_[pos_]) {
      case 't':
        if (!Literal("true")) return nullptr;
        pos_ += 4;
        return std::make_unique<TqzJSONboolean>(true);
      case 'f':
        if (!Literal("false")) return nullptr;
        pos_ += 5;
        return std::make_unique<TqzJSONboolean>(false);
      case 'n':
        if (!Literal("null")) return nullptr;
        pos_ += 4;
        return std::make_unique<TqzJSONnull>();
      case '"': {
        std::u16string text;
        if (!String(text)) return nullptr;
        return std::make_unique<TqzJSONstring>(std::move(text));
      }
      case '[':
        return List();
      case '{':
        return Object();
      default:
        return Number();
    }
  }

  // [+|-] digits [. digits] [(e|E) [+|-] digits]. No backtracking to a shorter number: "1." and "1e" fail.
  std::unique_ptr<TqzJSONbase> Number() {
    size_t p = pos_;
    bool negative = false;
    if (s_[p] == '+' || s_[p] == '-') {
      negative = s_[p] == '-';
      if (++p >= n_) return nullptr;
    }
    std::uint64_t mantissa = 0;
    int digits = 0;             // significant digits gathered in mantissa
    bool slow = false;          // more digits than the mantissa holds
    std::int64_t exponent = 0;  // power of ten that scales mantissa
    if (p >= n_ || !IsDigit(s_[p])) return nullptr;
    for (; p < n_ && IsDigit(s_[p]); ++p) {
      const int d = s_[p] - '0';
      if (digits == 0 && d == 0) continue;
      if (digits < kMaxFastDigits) {
        mantissa = mantissa * 10 + d;
        ++digits;
      } else {
        slow = true;
      }
    }
    if (p < n_ && s_[p] == '.') {
      ++p;
      if (p >= n_ || !IsDigit(s_[p])) return nullptr;
      for (; p < n_ && IsDigit(s_[p]); ++p) {
        const int d = s_[p] - '0';
        if (digits == 0 && d == 0) {
          --exponent;
        } else if (digits < kMaxFastDigits) {
          mantissa = mantissa * 10 + d;
          ++digits;
          --exponent;
        } else {
          slow = true;
        }
      }
    }
    if (p < n_ && (s_[p] == 'e' || s_[p] == 'E')) {
      ++p;
      bool negativeExponent = false;
      if (p < n_ && (s_[p] == '+' || s_[p] == '-')) negativeExponent = s_[p++] == '-';
      if (p >= n_ || !IsDigit(s_[p])) return nullptr;
      int written = 0;
      for (; p < n_ && IsDigit(s_[p]); ++p) {
        if (written >= kExponentDigitLimit) return Fatal();  // 500 is read, 5000 is rejected
        written = written * 10 + (s_[p] - '0');
      }
      exponent += negativeExponent ? -written : written;
    }

    long double value;
    if (mantissa == 0 && !slow) {
      value = 0;
    } else if (!slow && exponent >= -kMaxExactPower && exponent <= kMaxExactPower) {
      value = static_cast<long double>(mantissa);
      value = exponent < 0 ? value / kExactPowers[-exponent] : value * kExactPowers[exponent];
    } else {
      number_.assign(reinterpret_cast<const char*>(s_ + pos_), p - pos_);
      value = strtold_l(number_.c_str(), nullptr, NumberLocale());
      // Beyond the extended range the text is rejected; a value too small for it becomes zero or a
      // denormal.
      if (std::isinf(value)) return Fatal();
      negative = false;  // the text carried the sign
    }
    pos_ = p;
    return std::make_unique<TqzJSONnumber>(negative ? -value : value);
  }

  // A string at the position (a value or a field name) into out. Only the double quote and the backslash
  // are special; raw control bytes are taken as they are.
  bool String(std::u16string& out) {
    SkipWhitespace();
    if (!At('"')) return false;
    const size_t first = pos_ + 1;
    // The content ends at the first double quote that no backslash escapes; the byte after a backslash
    // is skipped whatever it is.
    size_t i = first;
    bool plain = true;
    for (;;) {
      while (i < n_ && kStringBytes.plain[s_[i]]) ++i;
      if (i >= n_) return false;
      if (s_[i] == '"') break;
      plain = false;
      i += s_[i] == '\\' ? 2 : 1;
    }
    const size_t end = i;
    if (plain) {
      out.resize(end - first);
      for (size_t k = first; k < end; ++k) out[k - first] = s_[k];
    } else if (!Decode(first, end, out)) {
      return false;
    }
    pos_ = end + 1;
    return true;
  }

  // Unescapes the content bytes [first, end) and reads the result as UTF-8, in one pass. Sequences are
  // one to three bytes long, one UTF-16 unit each; any broken sequence makes the whole value empty (no
  // failure). An escape yields bytes that no sequence can continue, so one inside a sequence breaks it.
  // A bad \u group fails the whole parse.
  bool Decode(size_t first, size_t end, std::u16string& out) {
    out.resize(end - first);  // no byte yields more than one unit
    char16_t* w = out.data();
    bool valid = true;
    int pending = 0;  // continuation bytes still due
    std::uint32_t unit = 0;
    auto emitEscaped = [&](char16_t code) {
      if (pending != 0) {
        valid = false;
        pending = 0;
      }
      *w++ = code;
    };
    size_t k = first;
    while (k < end) {
      const unsigned char c = s_[k];
      if (c != '\\') {
        ++k;
        if (pending == 0) {
          if (c < 0x80) {
            *w++ = c;
          } else if (c & 0x20) {
            pending = 2;
            unit = c & 0x0F;
          } else {
            pending = 1;
            unit = c & 0x3F;
          }
        } else if ((c & 0xC0) != 0x80) {
          valid = false;
          pending = 0;
        } else {
          unit = unit * 64 + (c & 0x3F);
          if (--pending == 0) *w++ = static_cast<char16_t>(unit);
        }
        continue;
      }
      // The end finder never lets a content end on a lone backslash, so k + 1 < end.
      const unsigned char e = s_[k + 1];
      k += 2;
      switch (e) {
        case '"':
        case '\\':
        case '/':
        case '\'':
          emitEscaped(e);
          break;
        case 'b':
          emitEscaped(0x08);
          break;
        case 'f':
          emitEscaped(0x0C);
          break;
        case 'n':
          emitEscaped(0x0A);
          break;
        case 'r':
          emitEscaped(0x0D);
          break;
        case 't':
          emitEscaped(0x09);
          break;
        case 'u': {
          // One to four hexadecimal digits, fewer only where the content ends.
          const size_t groupEnd = std::min(k + 4, end);
          if (k == groupEnd) return Fatal(), false;
          std::uint32_t code = 0;
          for (; k < groupEnd; ++k) {
            const int d = HexDigit(s_[k]);
            if (d < 0) return Fatal(), false;
            code = code * 16 + d;
          }
          emitEscaped(static_cast<char16_t>(code));
          break;
        }
        default:
          break;  // unknown escape: the backslash and its byte are both dropped
      }
    }
    if (pending != 0 || !valid) {
      out.clear();
    } else {
      out.resize(w - out.data());
    }
    return true;
  }

  // Elements may be separated by commas or not, and one comma may follow the last; a comma where a value
  // should start ends the elements (so "[,1]" fails at the closing bracket).
  std::unique_ptr<TqzJSONbase> List() {
    const size_t start = pos_;
    if (++depth_ > TqzJSON::kMaxDepth) return Fatal();
    ++pos_;
    auto list = std::make_unique<TqzJSONlist>();
    while (!fatal_) {
      std::unique_ptr<TqzJSONbase> item = Value();
      if (!item) break;
      list->AddItem(std::move(item));
      SkipWhitespace();
      if (At(',')) ++pos_;
    }
    --depth_;
    SkipWhitespace();
    if (fatal_ || !At(']')) {
      pos_ = start;
      return nullptr;
    }
    ++pos_;
    return list;
  }

  // As a list, with field pairs for elements. The object looks names up through its index, where a name
  // seen before keeps its first position.
  std::unique_ptr<TqzJSONbase> Object() {
    const size_t start = pos_;
    if (++depth_ > TqzJSON::kMaxDepth) return Fatal();
    ++pos_;
    auto object = std::make_unique<TqzJSONobject>(true);
    while (!fatal_ && Field(*object)) {
      SkipWhitespace();
      if (At(',')) ++pos_;
    }
    --depth_;
    SkipWhitespace();
    if (fatal_ || !At('}')) {
      pos_ = start;
      return nullptr;
    }
    ++pos_;
    return object;
  }

  // "name" : value, appended to object as a field pair.
  bool Field(TqzJSONobject& object) {
    const size_t start = pos_;
    std::u16string name;
    if (!String(name)) return false;
    SkipWhitespace();
    if (!At(':')) {
      pos_ = start;
      return false;
    }
    ++pos_;
    std::unique_ptr<TqzJSONbase> value = Value();
    if (!value) {
      pos_ = start;
      return false;
    }
    object.AddItem(std::make_unique<TqzJSONobjectmethod>(std::move(name), std::move(value)));
    return true;
  }

  // A rejected number, a bad \u group or too deep a nesting: the whole parse gives nil.
  std::nullptr_t Fatal() {
    fatal_ = true;
    return nullptr;
  }

  const unsigned char* s_;
  size_t n_;
  size_t pos_;
  int depth_ = 0;
  bool fatal_ = false;
  std::string number_;  // text of a number for the full conversion
};

}  // namespace

std::unique_ptr<TqzJSONbase> TqzJSON::ParseValue(std::string_view text) {
  if (text.empty()) return nullptr;
  size_t start = 0;
  if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    start = 3;
    if (text.size() == 3) return nullptr;
  }
  try {
    return Parser(text, start).Run();
  } catch (const std::bad_alloc&) {
    return nullptr;  // a document too big for memory reads as no document
  }
}
