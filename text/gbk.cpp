#include "text/gbk.h"

#include <iconv.h>

#include <cerrno>

#include "text/utf8.h"

namespace {

// An iconv converter that is closed on every path out.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (Usable()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool Usable() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The character at utf8[i] as a reference; returns how many bytes it took.
size_t AppendReference(std::string& out, std::string_view utf8, size_t i) {
  Utf8Char c = Utf8At(utf8, i);
  if (c.length == 0) c = {0xFFFD, 1};
  out += "&#" + std::to_string(static_cast<unsigned long>(c.code)) + ";";
  return c.length;
}

}  // namespace

std::string EncodeGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  Iconv cd("GBK", "UTF-8");
  size_t i = 0;
  if (!cd.Usable()) {
    while (i < utf8.size()) {
      if (static_cast<unsigned char>(utf8[i]) < 0x80) {
        out += utf8[i++];
      } else {
        i += AppendReference(out, utf8, i);
      }
    }
    return out;
  }
  char buffer[8192];
  while (i < utf8.size()) {
    char* src = const_cast<char*>(utf8.data() + i);
    size_t srcLeft = utf8.size() - i;
    char* dst = buffer;
    size_t dstLeft = sizeof buffer;
    const size_t rc = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
    const int err = errno;
    out.append(buffer, sizeof buffer - dstLeft);
    i = utf8.size() - srcLeft;
    if (rc != static_cast<size_t>(-1) || err == E2BIG) continue;
    // EILSEQ: a character GBK lacks, or bytes that are not UTF-8; EINVAL: a sequence cut at the end.
    i += AppendReference(out, utf8, i);
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}
