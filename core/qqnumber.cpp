#include "core/qqnumber.h"

namespace {

// Blanks and control characters, as the QQ box may hold them after a paste.
bool IsBlankOrControl(unsigned char c) {
  return c <= ' ' || c == 0x7F;
}

}  // namespace

bool IsValidQQNumber(std::string& text) {
  std::string::size_type begin = 0;
  std::string::size_type end = text.size();
  while (begin < end && IsBlankOrControl(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && IsBlankOrControl(static_cast<unsigned char>(text[end - 1]))) --end;
  text = text.substr(begin, end - begin);

  if (text.size() < 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}
