#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "json/qzjson.h"
#include "tests/json/dump.h"

namespace {

std::unique_ptr<TqzJSONbase> Num(long double v) {
  return std::make_unique<TqzJSONnumber>(v);
}
std::unique_ptr<TqzJSONbase> Str(std::u16string v) {
  return std::make_unique<TqzJSONstring>(std::move(v));
}
std::unique_ptr<TqzJSONbase> Field(std::u16string name, std::unique_ptr<TqzJSONbase> value) {
  return std::make_unique<TqzJSONobjectmethod>(std::move(name), std::move(value));
}

std::unique_ptr<TqzJSONobject> Parsed(const char* text) {
  std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(text);
  auto* object = dynamic_cast<TqzJSONobject*>(root.get());
  if (!object) return nullptr;
  root.release();
  return std::unique_ptr<TqzJSONobject>(object);
}

TEST(Tree, KindsAndKindNames) {
  struct {
    std::unique_ptr<TqzJSONbase> node;
    TqzJSONkind kind;
    const char* name;
  } cases[] = {
      {std::make_unique<TqzJSONbase>(), jsBase, "jsBase"},
      {Num(1), jsNumber, "jsNumber"},
      {Str(u"x"), jsString, "jsString"},
      {std::make_unique<TqzJSONboolean>(), jsBoolean, "jsBoolean"},
      {std::make_unique<TqzJSONnull>(), jsNull, "jsNull"},
      {std::make_unique<TqzJSONlist>(), jsList, "jsList"},
      {std::make_unique<TqzJSONobject>(), jsObject, "jsObject"},
      {Field(u"a", Num(1)), jsBase, "jsBase"},
  };
  for (auto& c : cases) {
    EXPECT_EQ(c.node->Kind(), c.kind) << c.name;
    EXPECT_EQ(c.node->KindName(), c.name);
    EXPECT_STREQ(KindName(c.kind), c.name);
  }
  EXPECT_EQ(TqzJSONobject::ClassKind(), jsObject);
  EXPECT_EQ(TqzJSONnumber::ClassKind(), jsNumber);
  EXPECT_STREQ(KindName(static_cast<TqzJSONkind>(9)), "");
}

TEST(Tree, ScalarsAndPairsAnswerChildQuestionsWithNothingAndMemberWithThemselves) {
  std::unique_ptr<TqzJSONbase> nodes[] = {Num(2),
                                          Str(u"s"),
                                          std::make_unique<TqzJSONboolean>(true),
                                          std::make_unique<TqzJSONnull>(),
                                          Field(u"a", Num(1)),
                                          std::make_unique<TqzJSONbase>()};
  const Variant keys[] = {Variant(),     Variant(0),    Variant(1.5),  Variant("a"),
                          Variant(u"a"), Variant(true), Variant(1e300)};
  for (auto& node : nodes) {
    SCOPED_TRACE(node->KindName());
    EXPECT_EQ(node->ItemCount(), 0);
    EXPECT_EQ(node->ItemAt(0), nullptr);
    EXPECT_EQ(node->ItemAt(-1), nullptr);
    node->SetItemAt(0, Num(5));  // ignored, and the new node is freed
    EXPECT_EQ(node->ItemCount(), 0);
    for (const Variant& key : keys) EXPECT_EQ(node->Member(key), node.get());
  }
  // A pair's own value is Null, whatever it holds.
  EXPECT_TRUE(nodes[4]->AsVariant().IsNull());
}

TEST(Tree, ScalarValuesAndConversions) {
  TqzJSONnumber number(7);
  EXPECT_EQ(number.AsVariant().Type(), VariantType::Double);
  EXPECT_EQ(number.AsVariant(), Variant(7.0));
  number.SetAsVariant(Variant("12.5"));
  EXPECT_EQ(number.Value(), 12.5L);
  number.SetAsVariant(Variant(true));
  EXPECT_EQ(number.Value(), -1.0L);  // true has all bits set
  EXPECT_THROW(number.SetAsVariant(Variant("twelve")), EVariantError);
  EXPECT_THROW(number.SetAsVariant(Variant()), EVariantError);
  EXPECT_EQ(number.Value(), -1.0L);  // unchanged by a failed conversion

  TqzJSONstring text;
  EXPECT_EQ(text.AsVariant(), Variant(u""));
  text.SetAsVariant(Variant(3));
  EXPECT_EQ(text.Value(), u"3");
  text.SetAsVariant(Variant("\xE4\xB8\xAD"));
  EXPECT_EQ(text.Value(), u"\u4e2d");
  EXPECT_THROW(text.SetAsVariant(Variant()), EVariantError);
  EXPECT_EQ(text.Value(), u"\u4e2d");

  TqzJSONboolean flag;
  EXPECT_EQ(flag.AsVariant(), Variant(false));
  flag.SetAsVariant(Variant("TRUE"));
  EXPECT_TRUE(flag.Value());
  flag.SetAsVariant(Variant(0.0));
  EXPECT_FALSE(flag.Value());
  EXPECT_THROW(flag.SetAsVariant(Variant(u"maybe")), EVariantError);
  EXPECT_FALSE(flag.Value());

  TqzJSONnull null;
  null.SetAsVariant(Variant(1));
  EXPECT_TRUE(null.AsVariant().IsNull());
  TqzJSONlist list;
  list.SetAsVariant(Variant(1));
  EXPECT_TRUE(list.AsVariant().IsNull());
}

TEST(Tree, ListMemberRoundsNumericKeysToEven) {
  TqzJSONlist list;
  list.AddItem(Num(10));
  list.AddItem(Num(11));
  list.AddItem(Num(12));
  struct {
    Variant key;
    TqzJSONbase* expected;
  } cases[] = {
      {Variant(1), list.ItemAt(1)},   {Variant(1.5), list.ItemAt(2)},  {Variant(2.5), list.ItemAt(2)},
      {Variant(0.5), list.ItemAt(0)}, {Variant(-0.4), list.ItemAt(0)}, {Variant(5), nullptr},
      {Variant(-1), nullptr},         {Variant(true), nullptr},        {Variant(false), list.ItemAt(0)},
      {Variant("a"), &list},          {Variant(u"1"), &list},          {Variant(), &list},
  };
  for (auto& c : cases) EXPECT_EQ(list.Member(c.key), c.expected) << VariantText(c.key);
  EXPECT_THROW(list.Member(Variant(3e9)), ERangeError);
}

TEST(Tree, ObjectMemberLooksUpTextAndIndexesNumbers) {
  auto object = Parsed(R"({"a":1,"b":"x"})");
  ASSERT_NE(object, nullptr);
  TqzJSONbase* first = object->Member(Variant(0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Kind(), jsBase);  // the field pair, not its value
  EXPECT_TRUE(first->AsVariant().IsNull());
  EXPECT_EQ(Dump(object->Member(Variant("b"))), "\"x\"");
  EXPECT_EQ(Dump(object->Member(Variant(u"a"))), "1");
  EXPECT_EQ(object->Member(Variant("c")), nullptr);
  EXPECT_EQ(object->Member(Variant(7)), nullptr);
  EXPECT_EQ(object->Member(Variant()), object.get());
  // The route reply is read this way: a field, then a member of it, then its value.
  auto route = Parsed(R"({"data":{"host":"a.example"}})");
  ASSERT_NE(route, nullptr);
  TqzJSONbase* data = route->FieldByName(u"data");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(VariantText(data->Member(Variant("host"))->AsVariant()), "a.example");
}

TEST(Tree, DuplicateAndEmptyNamesWithAndWithoutIndex) {
  for (bool useIndex : {true, false}) {
    SCOPED_TRACE(useIndex);
    TqzJSONobject object(useIndex);
    object.AddItem(Field(u"a", Num(1)));
    object.AddItem(Field(u"b", Num(2)));
    object.AddItem(Field(u"a", Num(3)));
    object.AddItem(Field(u"", Num(4)));
    EXPECT_EQ(object.ItemCount(), 4);
    EXPECT_EQ(Dump(object.FieldByName(u"a")), "1");
    EXPECT_EQ(Dump(object.ValueAt(2)), "1");        // a repeated name reads as the first field
    EXPECT_EQ(object.ValueAt(3), nullptr);          // an empty name reads as absent through ValueAt...
    EXPECT_EQ(Dump(object.FieldByName(u"")), "4");  // ...but can still be looked up
    EXPECT_EQ(object.NameAt(2), u"a");
    EXPECT_EQ(object.NameAt(4), u"");
    EXPECT_EQ(object.NameAt(-1), u"");
    EXPECT_EQ(object.FieldIndex(u"B"), -1);
  }
}

TEST(Tree, TypedReadsOfLists) {
  TqzJSONlist list;
  for (long double v : {2.9L, -2.9L, 4294967297.0L, 2147483648.0L, 1e30L}) list.AddItem(Num(v));
  list.AddItem(Str(u"\u4e2d"));
  list.AddItem(std::make_unique<TqzJSONboolean>(true));
  EXPECT_EQ(list.ItemAsInteger(0), 2);
  EXPECT_EQ(list.ItemAsInteger(1), -2);
  EXPECT_EQ(list.ItemAsInteger(2), 1);        // low 32 bits of the whole number
  EXPECT_EQ(list.ItemAsInteger(3), INT_MIN);  // 2^31 wraps
  EXPECT_THROW(list.ItemAsInteger(4), ERangeError);
  EXPECT_EQ(list.ItemAsInteger(99), 0);
  EXPECT_EQ(list.ItemAsInteger(-1), 0);
  EXPECT_THROW(list.ItemAsInteger(5), EInvalidCast);
  EXPECT_EQ(list.ItemAsDouble(0), static_cast<long double>(2.9));  // rounded to double
  EXPECT_EQ(list.ItemAsDouble(99), 0.0L);
  EXPECT_THROW(list.ItemAsDouble(6), EInvalidCast);
  EXPECT_EQ(list.ItemAsString(5), "\xE4\xB8\xAD");
  EXPECT_EQ(list.ItemAsWideString(5), u"\u4e2d");
  EXPECT_EQ(list.ItemAsString(99), "");
  EXPECT_THROW(list.ItemAsString(0), EInvalidCast);
  EXPECT_THROW(list.ItemAsWideString(6), EInvalidCast);
  EXPECT_TRUE(list.ItemAsBoolean(6));
  EXPECT_FALSE(list.ItemAsBoolean(99));
  EXPECT_THROW(list.ItemAsBoolean(5), EInvalidCast);
  try {
    list.ItemAsBoolean(0);
    ADD_FAILURE() << "no cast error";
  } catch (const EInvalidCast& e) {
    EXPECT_STREQ(e.what(), "Invalid class typecast");
  }
  list.SetItemAt(0, nullptr);
  EXPECT_EQ(list.ItemCount(), 7);
  EXPECT_EQ(list.ItemAsInteger(0), 0);  // an emptied slot reads as the default
}

TEST(Tree, TypedReadsOfObjectsGoThroughNames) {
  auto object = Parsed(R"({"n":2.5,"s":"x","b":true,"n":9,"":3})");
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->ItemAsInteger(0), 2);
  EXPECT_EQ(object->ItemAsInteger(3), 2);  // the repeated name finds the first field
  EXPECT_EQ(object->ItemAsInteger(4), 0);  // an empty name is absent
  EXPECT_EQ(object->ItemAsString(1), "x");
  EXPECT_TRUE(object->ItemAsBoolean(2));
  EXPECT_THROW(object->ItemAsInteger(1), EInvalidCast);
  EXPECT_EQ(object->ItemAsString(9), "");
  std::string name;
  EXPECT_EQ(Dump(object->EntryAt(1, name)), "\"x\"");
  EXPECT_EQ(name, "s");
  TqzJSONlist list;
  list.AddItem(Num(1));
  EXPECT_EQ(Dump(list.EntryAt(0, name)), "1");
  EXPECT_EQ(name, "0");
  EXPECT_EQ(list.EntryAt(5, name), nullptr);
  EXPECT_EQ(name, "5");
  // An item that is no field pair cannot be read by name.
  TqzJSONobject odd;
  odd.AddItem(Num(1));
  EXPECT_THROW(odd.NameAt(0), EInvalidCast);
  EXPECT_THROW(odd.ItemAsInteger(0), EInvalidCast);
  EXPECT_EQ(odd.FieldByName(u""), nullptr);
}

TEST(Tree, AddDeleteAndIndexOfItems) {
  TqzJSONlist list;
  EXPECT_EQ(list.AddItem(nullptr), -1);
  EXPECT_EQ(list.ItemCount(), 0);
  EXPECT_EQ(list.AddItem(Str(u"x")), 0);
  EXPECT_EQ(list.AddItem(Str(u"y")), 1);
  EXPECT_EQ(list.AddItem(Str(u"z")), 2);
  TqzJSONstring stranger(u"y");
  EXPECT_EQ(list.IndexOfItem(list.ItemAt(1)), 1);
  EXPECT_EQ(list.IndexOfItem(&stranger), -1);  // identity, not equal value
  EXPECT_EQ(list.IndexOfItem(nullptr), -1);
  list.DeleteItem(0);  // the last item fills the hole
  EXPECT_EQ(Dump(&list), "[\"z\",\"y\"]");
  list.DeleteItem(5);
  list.DeleteItem(-1);
  EXPECT_EQ(Dump(&list), "[\"z\",\"y\"]");
  list.AddItem(Str(u"w"));
  list.DeleteItem(2);
  EXPECT_EQ(Dump(&list), "[\"z\",\"y\"]");
  list.SetItemAt(1, Num(4));
  list.SetItemAt(2, Num(5));
  EXPECT_EQ(Dump(&list), "[\"z\",4]");
}

TEST(Tree, ObjectEditsKeepTheNameIndexRight) {
  auto object = Parsed(R"({"a":1,"b":2,"c":3,"a":4})");
  ASSERT_NE(object, nullptr);
  object->DeleteItem(0);  // [a:4, b, c]: the later a is now the first
  EXPECT_EQ(Dump(object.get()), "{\"a\":4,\"b\":2,\"c\":3}");
  EXPECT_EQ(Dump(object->FieldByName(u"a")), "4");
  EXPECT_EQ(object->FieldIndex(u"c"), 2);
  object->DeleteItem(2);
  EXPECT_EQ(object->FieldByName(u"c"), nullptr);
  object->SetItemAt(1, Field(u"d", Num(5)));
  EXPECT_EQ(object->FieldByName(u"b"), nullptr);
  EXPECT_EQ(Dump(object->FieldByName(u"d")), "5");
  object->SetItemAt(0, nullptr);
  EXPECT_EQ(object->FieldByName(u"a"), nullptr);
  EXPECT_EQ(object->NameAt(0), u"");
  EXPECT_EQ(object->ValueAt(0), nullptr);
  EXPECT_EQ(object->AddItem(Field(u"e", Num(6))), 2);  // added fields are found at once
  EXPECT_EQ(Dump(object->FieldByName(u"e")), "6");
  EXPECT_EQ(Dump(object->FieldByName(u"d")), "5");
  object->SetItemAt(7, Field(u"x", Num(0)));  // out of range: nothing
  EXPECT_EQ(object->FieldByName(u"x"), nullptr);
}

}  // namespace
