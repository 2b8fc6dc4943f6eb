// Text for the terminal: what reaches a terminal must never act on it.
#include "app/textutil.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeForTerminal, ControlsAndInvisibleReorderingAreShownNotActedOn) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"春游 photo.JPG", "春游 photo.JPG"},
      {"a\nb\rc\x1b[2J", "a\\x0ab\\x0dc\\x1b[2J"},
      {"\xc2\x9b" "31m", "\\x9b31m"},                                 // C1 control introducer
      {"gpj.exe\xe2\x80\xae" "abc", "gpj.exe\\u202eabc"},             // right-to-left override
      {"\xe2\x81\xa6x\xe2\x81\xa9", "\\u2066x\\u2069"},                // isolates
      {"\xef\xbb\xbfname", "\\ufeffname"},
      {"back\\slash", "back\\\\slash"},                               // so an escape cannot be faked
      {"bad\xff", "bad\\xff"},
      {"\xe2\x80\x94", "\xe2\x80\x94"},                               // an ordinary dash stays
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeForTerminal(c.in), c.out) << c.in;
}

}  // namespace
