#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <locale>
#include <string>

#include "json/qzjson.h"
#include "tests/json/dump.h"

namespace {

struct ParseCase {
  std::string text;
  std::string tree;  // Dump of the result; "nil" for no result
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << '\'' << c.text << '\'';
}

class Parse : public testing::TestWithParam<ParseCase> {};

TEST_P(Parse, GivesExpectedTree) {
  const ParseCase& c = GetParam();
  EXPECT_EQ(Dump(TqzJSON::ParseValue(c.text).get()), c.tree);
}

// Start of the text: byte-order mark, whitespace, literals, trailing bytes.
INSTANTIATE_TEST_SUITE_P(
    Entry, Parse,
    testing::Values(ParseCase{"", "nil"}, ParseCase{"\xEF\xBB\xBF", "nil"}, ParseCase{"\xEF\xBB\xBF{}", "{}"},
                    ParseCase{"\xEF\xBB\xBF 1", "1"}, ParseCase{"\xEF\xBB", "nil"},
                    ParseCase{"\xEF\xBB\xBF\xEF\xBB\xBF"
                              "1",
                              "nil"},
                    ParseCase{" \t\r\n\x01\x1f\x7f", "nil"}, ParseCase{" \t\r\n\x01\x1f 1", "1"},
                    ParseCase{"   ", "nil"}, ParseCase{"True", "nil"}, ParseCase{"NULL", "nil"},
                    ParseCase{"true", "true"}, ParseCase{"false", "false"}, ParseCase{"null", "null"},
                    ParseCase{"trueish", "true"}, ParseCase{"tru", "nil"}, ParseCase{"nul", "nil"},
                    ParseCase{"fals", "nil"}, ParseCase{"{} and more words", "{}"},
                    ParseCase{"[1] ]]]", "[1]"}, ParseCase{"1 2", "1"}, ParseCase{"1-2", "1"},
                    ParseCase{"x", "nil"}));

// Commas, brackets, field pairs.
INSTANTIATE_TEST_SUITE_P(
    Containers, Parse,
    testing::Values(ParseCase{"[1 2,3,]", "[1,2,3]"}, ParseCase{"[]", "[]"}, ParseCase{"{}", "{}"},
                    ParseCase{"[ ]", "[]"}, ParseCase{"[,1]", "nil"}, ParseCase{"[1,,2]", "nil"},
                    ParseCase{"[1,]", "[1]"}, ParseCase{"[,]", "nil"}, ParseCase{"[1", "nil"},
                    ParseCase{"[", "nil"}, ParseCase{"]", "nil"}, ParseCase{"[1,[2,3]", "nil"},
                    ParseCase{"[[[]]]", "[[[]]]"}, ParseCase{"[true false null]", "[true,false,null]"},
                    ParseCase{"{\"a\":1,\"a\":2}", "{\"a\":1,\"a\":2}"},
                    ParseCase{"{\"a\":1 \"b\":2}", "{\"a\":1,\"b\":2}"}, ParseCase{"{\"a\":1,}", "{\"a\":1}"},
                    ParseCase{"{'a':1}", "nil"}, ParseCase{"{a:1}", "nil"}, ParseCase{"{\"a\" 1}", "nil"},
                    ParseCase{"{\"a\":1,\"b\"}", "nil"}, ParseCase{"{\"a\":}", "nil"},
                    ParseCase{"{,}", "nil"}, ParseCase{"{\"a\":1", "nil"}, ParseCase{"{\"a\"", "nil"},
                    ParseCase{"{\"a\":1,,}", "nil"},
                    ParseCase{" { \"a\" : [ 1 , { \"b\" : null } ] } ", "{\"a\":[1,{\"b\":null}]}"},
                    ParseCase{"{\"\":0}", "{\"\":0}"}, ParseCase{"{\"\\u0061\":1}", "{\"a\":1}"},
                    ParseCase{"{\"\xD6\xD0\":1}", "{\"\":1}"}, ParseCase{"{\"a\":1}}", "{\"a\":1}"}));

// Number syntax, range and the locale.
INSTANTIATE_TEST_SUITE_P(
    Numbers, Parse,
    testing::Values(ParseCase{"-0.5e+2", "-50"}, ParseCase{"+7", "7"}, ParseCase{"007", "7"},
                    ParseCase{"1.", "nil"}, ParseCase{".5", "nil"}, ParseCase{"1e", "nil"},
                    ParseCase{"-", "nil"}, ParseCase{"+", "nil"}, ParseCase{"1e+", "nil"},
                    ParseCase{"1.e1", "nil"}, ParseCase{"--1", "nil"}, ParseCase{"+-1", "nil"},
                    ParseCase{"- 1", "nil"}, ParseCase{"1.5", "1.5"}, ParseCase{"[1,5]", "[1,5]"},
                    ParseCase{"1E2", "100"}, ParseCase{"2e-1", "0.2"}, ParseCase{"0.1", "0.1"},
                    ParseCase{"123.456e-2", "1.23456"}, ParseCase{"-0", "0"},
                    ParseCase{"12345678901234567890123", "1.2345678901234568e+22"},
                    ParseCase{"0.000000000000000000000000000001", "1e-30"},
                    ParseCase{"3.14159265358979323846264338", "3.141592653589793"},
                    ParseCase{"1e5000", "nil"}, ParseCase{"1e4999", "nil"}, ParseCase{"-1e4999", "nil"},
                    ParseCase{"1e-5000", "nil"}, ParseCase{"1e-4999", "0"},
                    ParseCase{"[1,{\"a\":1e5000}]", "nil"}, ParseCase{"[1e]", "nil"},
                    ParseCase{"1.5.5", "1.5"}, ParseCase{"1e5e5", "100000"}, ParseCase{"0x10", "0"}));

// Escapes, \u groups and UTF-8.
INSTANTIATE_TEST_SUITE_P(
    Strings, Parse,
    testing::Values(
        ParseCase{"\"\"", "\"\""}, ParseCase{"\"abc\"", "\"abc\""}, ParseCase{"\"\\u4e2d\"", "\"\\u4e2d\""},
        ParseCase{"\"\\ud83d\\ude00\"", "\"\\ud83d\\ude00\""}, ParseCase{"\"\\uD83D\"", "\"\\ud83d\""},
        ParseCase{"\"a\\qb\"", "\"ab\""}, ParseCase{"\"\\'\"", "\"'\""}, ParseCase{"\"\\u12G4\"", "nil"},
        ParseCase{"[[{\"k\":[1,\"\\u12G4\"]}]]", "nil"}, ParseCase{"\"\\u\"", "nil"},
        ParseCase{"\"\\u41\"", "\"A\""}, ParseCase{"\"\\u0041BC\"", "\"ABC\""},
        ParseCase{"\"\\u00e9\"", "\"\\u00e9\""}, ParseCase{"\"\\u0000\"", "\"\\u0000\""},
        ParseCase{"\"\\u-123\"", "nil"}, ParseCase{"\"\\u 123\"", "nil"},
        ParseCase{"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\\"\\\\/\\u0008\\u000c\\u000a\\u000d\\u0009\""},
        ParseCase{"[\"\xD6\xD0\",1]", "[\"\",1]"}, ParseCase{"\"\xE4\xB8\xAD\"", "\"\\u4e2d\""},
        ParseCase{"\"\xC3\xA9!\"", "\"\\u00e9!\""}, ParseCase{"\"\xF0\x9F\x98\x80\"", "\"\""},
        ParseCase{"\"\xC3\\u0041\"", "\"\""}, ParseCase{"\"\xE4\xB8\\u00AD\"", "\"\""},
        ParseCase{"\"\xC3\"", "\"\""}, ParseCase{"\"\xC0\x80\"", "\"\\u0000\""},
        ParseCase{"\"\x80\x80\"", "\"\\u0000\""}, ParseCase{"\"\x01\x7f\"", "\"\\u0001\\u007f\""},
        ParseCase{"'a'", "nil"}, ParseCase{"\"abc", "nil"}, ParseCase{"\"abc\\\"", "nil"},
        ParseCase{"\"\\", "nil"}, ParseCase{"\"a\\\\\"", "\"a\\\\\""},
        ParseCase{"[\"\xD6\xD0\\u12G4\"]", "nil"}, ParseCase{"\"\\u12\\\"\"", "nil"},
        ParseCase{"[\"a\"\"b\"]", "[\"a\",\"b\"]"}));

TEST(ParseValue, DuplicateNamesKeepBothFieldsAndFindTheFirst) {
  auto root = TqzJSON::ParseValue(R"({"a":1,"b":true,"a":2})");
  auto* object = dynamic_cast<TqzJSONobject*>(root.get());
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->UsesIndex());
  EXPECT_EQ(object->ItemCount(), 3);
  EXPECT_EQ(Dump(object->FieldByName(u"a")), "1");
  EXPECT_EQ(object->FieldIndex(u"a"), 0);
  EXPECT_EQ(object->FieldIndex(u"b"), 1);
  EXPECT_EQ(Dump(object->ValueAt(2)), "1");
  EXPECT_EQ(object->FieldByName(u"A"), nullptr);
}

TEST(ParseValue, ExtendedRangeNumbersKeepTheirValue) {
  // 1e500 lies beyond double but within the 80-bit range; its exponent of 500 is still read.
  for (const char* text : {"1e500", "1e0500"}) {
    auto root = TqzJSON::ParseValue(text);
    auto* number = dynamic_cast<TqzJSONnumber*>(root.get());
    ASSERT_NE(number, nullptr) << text;
    EXPECT_NEAR(static_cast<double>(number->Value() / 1e499L), 10.0, 1e-9);
  }
  // Negative zero and the exact fast path against the full conversion.
  auto zero = TqzJSON::ParseValue("-0.0");
  ASSERT_NE(zero, nullptr);
  EXPECT_TRUE(std::signbit(static_cast<TqzJSONnumber*>(zero.get())->Value()));
  auto big = TqzJSON::ParseValue("[9007199254740993, 123456789012345678901234567890, 1e-4940]");
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(static_cast<TqzJSONnumber*>(big->ItemAt(0))->Value(), 9007199254740993.0L);
  EXPECT_EQ(static_cast<TqzJSONnumber*>(big->ItemAt(1))->Value(), 123456789012345678901234567890.0L);
  EXPECT_GT(static_cast<TqzJSONnumber*>(big->ItemAt(2))->Value(), 0.0L);  // denormal, not zero
  // Thousands of mantissa digits overflow the range; thousands of fraction digits do not.
  EXPECT_EQ(TqzJSON::ParseValue(std::string(5000, '9')), nullptr);
  auto longFraction = TqzJSON::ParseValue("1." + std::string(5000, '0'));
  ASSERT_NE(longFraction, nullptr);
  EXPECT_EQ(Dump(longFraction.get()), "1");
}

TEST(ParseValue, DecimalPointIgnoresTheLocale) {
  // The C++ global locale (and, where the system has one, a C locale) with a comma separator.
  struct Comma : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new Comma));
  const char* cLocale = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name)) {
      cLocale = name;
      break;
    }
  }
  EXPECT_EQ(Dump(TqzJSON::ParseValue("1.5").get()), "1.5");
  EXPECT_EQ(Dump(TqzJSON::ParseValue("[1,5]").get()), "[1,5]");
  EXPECT_EQ(Dump(TqzJSON::ParseValue("1.5e-300").get()), "1.5e-300");  // the full conversion path
  std::setlocale(LC_NUMERIC, "C");
  std::locale::global(saved);
  if (!cLocale) std::cout << "note: no comma-decimal C locale installed; checked the C++ locale only\n";
}

TEST(ParseValue, NestingBeyondTheLimitGivesNil) {
  const int limit = TqzJSON::kMaxDepth;
  EXPECT_NE(TqzJSON::ParseValue(std::string(limit, '[') + std::string(limit, ']')), nullptr);
  EXPECT_EQ(TqzJSON::ParseValue(std::string(limit + 1, '[') + std::string(limit + 1, ']')), nullptr);
  std::string objects;
  for (int i = 0; i < limit + 1; ++i) objects += "{\"a\":";
  objects += "1" + std::string(limit + 1, '}');
  EXPECT_EQ(TqzJSON::ParseValue(objects), nullptr);
  // Must come back (no stack overflow) and free the partial lists.
  EXPECT_EQ(TqzJSON::ParseValue(std::string(1000000, '[')), nullptr);
  EXPECT_EQ(TqzJSON::ParseValue(std::string(1000000, '{')), nullptr);
}

TEST(ParseValue, LongStringWithManyEscapes) {
  // 1 MiB with 100,000 escapes: read in one pass, every escape decoded in place.
  std::string text = "\"";
  std::u16string expected;
  for (int i = 0; i < 100000; ++i) {
    text += (i % 2) ? "\\n" : "\\u4e2d";
    expected += (i % 2) ? u'\n' : u'\u4e2d';
    text += "abc";
    expected += u"abc";
  }
  const size_t pad = (1 << 20) - text.size() - 1;
  text += std::string(pad, 'x') + "\"";
  expected += std::u16string(pad, u'x');
  ASSERT_EQ(text.size(), 1u << 20);
  auto root = TqzJSON::ParseValue(text);
  auto* string = dynamic_cast<TqzJSONstring*>(root.get());
  ASSERT_NE(string, nullptr);
  EXPECT_EQ(string->Value(), expected);
}

}  // namespace
