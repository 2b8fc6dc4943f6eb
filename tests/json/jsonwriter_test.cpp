// Writing JSON: every text comes back exactly through the parser, and the layout is what people read.
#include "json/jsonwriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "json/qzjson.h"

namespace {

TEST(JsonQuote, AstralCharactersAsSurrogatePairsOthersAsTheyAre) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t\x01\x1f", "\"\\n\\r\\t\\u0001\\u001f\""},
      {"春游", "\"春游\""},                           // BMP: UTF-8 as it is
      {"\xf0\x9f\x98\x80", "\"\\ud83d\\ude00\""},     // U+1F600
      {"\xf0\x90\x80\x80", "\"\\ud800\\udc00\""},     // U+10000, the first
      {"\xf4\x8f\xbf\xbf", "\"\\udbff\\udfff\""},     // U+10FFFF, the last
      {"a\xffz", "\"a\\ufffdz\""},                    // not UTF-8: marked
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // an encoded surrogate is not UTF-8
      {"\xf0\x9f\x98", "\"\\ufffd\\ufffd\\ufffd\""},  // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(JsonQuote(c.in), c.out) << c.in;
}

TEST(JsonWriter, CommasNestingAndBreaks) {
  JsonWriter w;
  w.Object().Key("a").Number(1).Key("b").Array().String("x").Boolean(true).Object().End().End();
  w.Break().Key("c").Array().Break().Number(-2).Break().Number(3).Break().End().End();
  EXPECT_EQ(w.Text(), "{\"a\":1,\"b\":[\"x\",true,{}],\n\"c\":[\n-2,\n3\n]}");
  JsonWriter empty;
  EXPECT_EQ(empty.Array().End().Text(), "[]");
}

TEST(JsonWriter, WhatItWritesTheParserReadsBack) {
  const std::string names[] = {"",
                               "plain",
                               "quote \" back \\ slash",
                               "line\nfeed\x01",
                               "\xf0\x9f\x98\x80 smile",
                               "\xf0\xa0\x80\x80",
                               "\xe2\x80\xa8 separator"};
  for (const std::string& name : names) {
    JsonWriter w;
    w.Object().Key(name).String(name).End();
    const std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(w.Text());
    ASSERT_NE(root, nullptr) << w.Text();
    const auto* object = dynamic_cast<const TqzJSONobject*>(root.get());
    ASSERT_NE(object, nullptr);
    const TqzJSONbase* value = object->FieldByName(Utf8ToWide(name));
    ASSERT_NE(value, nullptr) << name;
    EXPECT_EQ(VariantText(value->AsVariant()), name);
  }
}

}  // namespace
