// Parses arbitrary bytes and walks whatever tree comes out through every read operation, checking the
// properties that must hold for any tree the parser builds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json/qzjson.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Walk(TqzJSONbase* node, int depth) {
  Check(depth <= TqzJSON::kMaxDepth + 1);
  Check(node->KindName() == KindName(node->Kind()));
  (void)VariantText(node->AsVariant());
  const int count = node->ItemCount();
  Check(count >= 0);
  Check(node->ItemAt(count) == nullptr && node->ItemAt(-1) == nullptr);
  Check(node->Member(Variant()) == node);
  auto* list = dynamic_cast<TqzJSONcustomlist*>(node);
  if (!list) {
    Check(count == 0);
    Check(node->Member(Variant(0)) == node);
    if (node->Kind() == jsNumber) {
      // Numbers beyond the extended range never get through.
      Check(std::isfinite(static_cast<TqzJSONnumber*>(node)->Value()));
    }
    return;
  }
  auto* object = dynamic_cast<TqzJSONobject*>(node);
  for (int i = 0; i < count; ++i) {
    TqzJSONbase* item = list->ItemAt(i);
    Check(item != nullptr);
    Check(list->IndexOfItem(item) == i);
    Check(node->Member(Variant(i)) == item);
    std::string name;
    TqzJSONbase* entry = list->EntryAt(i, name);
    try {
      (void)list->ItemAsInteger(i);
    } catch (const EInvalidCast&) {
    } catch (const ERangeError&) {
    }
    try {
      (void)list->ItemAsString(i);
      (void)list->ItemAsBoolean(i);
    } catch (const EInvalidCast&) {
    }
    if (object) {
      auto* pair = dynamic_cast<TqzJSONobjectmethod*>(item);
      Check(pair != nullptr && pair->Value() != nullptr);
      Check(pair->Kind() == jsBase && pair->AsVariant().IsNull());
      // Every name finds its first field, through the index as through a scan.
      const int first = object->FieldIndex(pair->Name());
      Check(first >= 0 && first <= i);
      Check(object->NameAt(first) == pair->Name());
      Check(object->Member(Variant(pair->Name())) == object->ValueAt(first) || pair->Name().empty());
      Check(entry == (pair->Name().empty() ? nullptr : object->FieldByName(pair->Name())));
      Walk(pair->Value(), depth + 1);
    } else {
      Check(entry == item && name == std::to_string(i));
      Walk(item, depth + 1);
    }
  }
  if (object && count > 0) {
    // Deleting a field must leave every lookup pointing at a live field of that name.
    object->DeleteItem(0);
    for (int i = 0; i < object->ItemCount(); ++i) {
      const std::u16string name = object->NameAt(i);
      const int first = object->FieldIndex(name);
      Check(first >= 0 && first <= i && object->NameAt(first) == name);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<TqzJSONbase> root = TqzJSON::ParseValue(text);
  if (!root) return 0;
  Walk(root.get(), 0);
  // Whatever follows the value is ignored, so a space and more bytes change nothing about success.
  Check(TqzJSON::ParseValue(std::string(text) + " ]}x") != nullptr);
  return 0;
}
