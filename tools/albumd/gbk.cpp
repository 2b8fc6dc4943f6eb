#include "tools/albumd/gbk.h"

#include <iconv.h>

#include <cstdio>
#include <stdexcept>

namespace albumd {
namespace {

// Length of the UTF-8 sequence starting at text[i] and its code point, or 0 when it is not valid.
size_t DecodeUtf8(const std::string& text, size_t i, char32_t& code) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  size_t length = lead < 0x80           ? 1
                  : (lead >> 5) == 0x6  ? 2
                  : (lead >> 4) == 0xE  ? 3
                  : (lead >> 3) == 0x1E ? 4
                                        : 0;
  if (length == 0 || i + length > text.size()) return 0;
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

class GbkConverter {
 public:
  GbkConverter() : cd_(iconv_open("GBK", "UTF-8")) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert UTF-8 to GBK");
  }
  ~GbkConverter() { iconv_close(cd_); }
  GbkConverter(const GbkConverter&) = delete;
  GbkConverter& operator=(const GbkConverter&) = delete;

  // Converts one character; false when GBK has no code for it.
  bool Convert(const char* in, size_t length, std::string& out) {
    char buffer[8];
    char* src = const_cast<char*>(in);
    size_t srcLeft = length;
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0) return false;
    out.append(buffer, dst);
    return true;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string Utf8ToGbk(const std::string& utf8) {
  GbkConverter converter;
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t code = 0;
    size_t length = DecodeUtf8(utf8, i, code);
    if (length == 0) {
      out += '?';
      ++i;
      continue;
    }
    if (length == 1) {
      out += utf8[i];
    } else if (!converter.Convert(utf8.data() + i, length, out)) {
      char reference[16];
      std::snprintf(reference, sizeof reference, "&#x%X;", static_cast<unsigned>(code));
      out += reference;
    }
    i += length;
  }
  return out;
}

bool FitsGbk(const std::string& utf8) {
  GbkConverter converter;
  std::string scratch;
  for (size_t i = 0; i < utf8.size();) {
    char32_t code = 0;
    size_t length = DecodeUtf8(utf8, i, code);
    if (length == 0 || (length > 1 && !converter.Convert(utf8.data() + i, length, scratch))) return false;
    i += length;
  }
  return true;
}

std::string EscapeMarkup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

namespace {

// Bytes of the control character that starts at text[i] (1 for C0 and DEL, 2 for C1 in UTF-8), else 0.
size_t ControlAt(const std::string& text, size_t i, unsigned& code) {
  auto byte = static_cast<unsigned char>(text[i]);
  if (byte < 0x20 || byte == 0x7F) {
    code = byte;
    return 1;
  }
  if (byte == 0xC2 && i + 1 < text.size()) {
    auto next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) {
      code = next;
      return 2;
    }
  }
  return 0;
}

}  // namespace

std::string EscapeXmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  size_t plain = 0;  // start of the run not yet copied
  for (size_t i = 0; i < text.size();) {
    unsigned code = 0;
    size_t length = ControlAt(text, i, code);
    if (length == 0) {
      ++i;
      continue;
    }
    out += EscapeMarkup(text.substr(plain, i - plain));
    char reference[16];
    std::snprintf(reference, sizeof reference, code < 0x20 ? "&#%u;" : "&#x%X;", code);
    out += reference;
    i += length;
    plain = i;
  }
  out += EscapeMarkup(text.substr(plain));
  return out;
}

bool HasControlCharacters(const std::string& utf8) {
  unsigned code = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (ControlAt(utf8, i, code) != 0) return true;
  }
  return false;
}

}  // namespace albumd
