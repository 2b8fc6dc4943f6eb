#include "json/variant.h"

#include <gtest/gtest.h>

namespace {

TEST(Variant, TextOfEachKind) {
  struct {
    Variant value;
    const char* text;
  } cases[] = {
      {Variant(), ""},
      {Variant(true), "True"},
      {Variant(false), "False"},
      {Variant(1), "1"},
      {Variant(-20.0), "-20"},
      {Variant(-0.0), "0"},
      {Variant(0.5), "0.5"},
      {Variant(0.1), "0.1"},
      {Variant(123456789012345.0), "123456789012345"},
      {Variant(1e300), "1e+300"},
      {Variant(u"\u4e2d\u6587"), "\xE4\xB8\xAD\xE6\x96\x87"},
      {Variant(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80"},
      {Variant(u"\xD83D"), "\xEF\xBF\xBD"},  // a lone surrogate has no UTF-8 form
      {Variant("bytes"), "bytes"},
  };
  for (auto& c : cases) EXPECT_EQ(VariantText(c.value), c.text);
}

TEST(Variant, Conversions) {
  EXPECT_EQ(VariantToDouble(Variant(" 2.5 ")), 2.5);
  EXPECT_EQ(VariantToDouble(Variant(u"-1e3")), -1000.0);
  EXPECT_EQ(VariantToDouble(Variant(true)), -1.0);
  for (const Variant& bad : {Variant(), Variant(""), Variant("inf"), Variant("nan"), Variant("0x10"),
                             Variant("1,5"), Variant("1e999")}) {
    EXPECT_THROW(VariantToDouble(bad), EVariantError) << VariantText(bad);
  }
  EXPECT_TRUE(VariantToBoolean(Variant("True")));
  EXPECT_FALSE(VariantToBoolean(Variant("0")));
  EXPECT_TRUE(VariantToBoolean(Variant(-3)));
  EXPECT_THROW(VariantToBoolean(Variant()), EVariantError);
  EXPECT_EQ(VariantToWideString(Variant("\xC3\xA9")), u"\u00e9");
  EXPECT_EQ(VariantToWideString(Variant("\xFF")), u"\ufffd");
  EXPECT_EQ(VariantToByteString(Variant(false)), "False");
  EXPECT_THROW(VariantToByteString(Variant()), EVariantError);
}

TEST(Variant, Int32RoundsHalvesToEven) {
  const struct {
    double in;
    int out;
  } cases[] = {{0.5, 0},
               {1.5, 2},
               {2.5, 2},
               {-0.5, 0},
               {-1.5, -2},
               {-2.5, -2},
               {2.4, 2},
               {2.6, 3},
               {2147483647.4, INT32_MAX},
               {-2147483648.0, INT32_MIN}};
  for (auto& c : cases) EXPECT_EQ(VariantToInt32(Variant(c.in)), c.out) << c.in;
  EXPECT_EQ(VariantToInt32(Variant(true)), -1);
  EXPECT_EQ(VariantToInt32(Variant("7")), 7);
  EXPECT_THROW(VariantToInt32(Variant(2147483647.5)), ERangeError);
  EXPECT_THROW(VariantToInt32(Variant(-2147483649.0)), ERangeError);
  EXPECT_THROW(VariantToInt32(Variant(1e300 * 1e300)), ERangeError);
}

}  // namespace
