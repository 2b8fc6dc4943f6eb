#include "core/qqnumber.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(QQNumber, ValidatesAndTrimsInPlace) {
  const struct {
    std::string input;
    bool valid;
    std::string trimmed;
  } cases[] = {
      {"  12345 ", true, "12345"},
      {"\t12345\r\n", true, "12345"},
      {"1234", false, "1234"},
      {" 1234 ", false, "1234"},
      {"12a45", false, "12a45"},
      {"12 345", false, "12 345"},
      {"", false, ""},
      {"   ", false, ""},
      {"12345678901234567890", true, "12345678901234567890"},
      {"\x7f"
       "99999",
       true, "99999"},
      {"１２３４５", false, "１２３４５"},  // full-width digits are not ASCII digits
      {"-12345", false, "-12345"},
  };
  for (const auto& c : cases) {
    std::string text = c.input;
    EXPECT_EQ(IsValidQQNumber(text), c.valid) << '"' << c.input << '"';
    EXPECT_EQ(text, c.trimmed) << '"' << c.input << '"';
  }
}

}  // namespace
