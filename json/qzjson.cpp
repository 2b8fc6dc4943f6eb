#include "json/qzjson.h"

#include <cmath>
#include <cstdint>

const char* KindName(TqzJSONkind kind) {
  switch (kind) {
    case jsBase:
      return "jsBase";
    case jsNumber:
      return "jsNumber";
    case jsString:
      return "jsString";
    case jsBoolean:
      return "jsBoolean";
    case jsNull:
      return "jsNull";
    case jsList:
      return "jsList";
    case jsObject:
      return "jsObject";
  }
  return "";
}

// ---- base and scalars

Variant TqzJSONbase::AsVariant() const {
  return Variant();
}
void TqzJSONbase::SetAsVariant(const Variant&) {}
TqzJSONbase* TqzJSONbase::ItemAt(int) const {
  return nullptr;
}
void TqzJSONbase::SetItemAt(int, std::unique_ptr<TqzJSONbase>) {}
int TqzJSONbase::ItemCount() const {
  return 0;
}
TqzJSONbase* TqzJSONbase::Member(const Variant&) {
  return this;
}

Variant TqzJSONnumber::AsVariant() const {
  return Variant(static_cast<double>(value_));
}
void TqzJSONnumber::SetAsVariant(const Variant& value) {
  value_ = VariantToDouble(value);
}

Variant TqzJSONstring::AsVariant() const {
  return Variant(value_);
}
void TqzJSONstring::SetAsVariant(const Variant& value) {
  value_ = VariantToWideString(value);
}

Variant TqzJSONboolean::AsVariant() const {
  return Variant(value_);
}
void TqzJSONboolean::SetAsVariant(const Variant& value) {
  value_ = VariantToBoolean(value);
}

// ---- shared item array

TqzJSONcustomlist::~TqzJSONcustomlist() {
  // Last to first, so that no item moves while the others go.
  while (!items_.empty()) items_.pop_back();
}

TqzJSONbase* TqzJSONcustomlist::ItemAt(int index) const {
  return InRange(index) ? items_[index].get() : nullptr;
}

void TqzJSONcustomlist::SetItemAt(int index, std::unique_ptr<TqzJSONbase> node) {
  if (InRange(index)) items_[index] = std::move(node);
}

TqzJSONbase* TqzJSONcustomlist::Member(const Variant& key) {
  if (key.IsNumeric()) return ItemAt(VariantToInt32(key));
  return this;
}

int TqzJSONcustomlist::AddItem(std::unique_ptr<TqzJSONbase> node) {
  if (!node || items_.size() >= static_cast<size_t>(INT32_MAX)) return -1;
  items_.push_back(std::move(node));
  return static_cast<int>(items_.size() - 1);
}

void TqzJSONcustomlist::DeleteItem(int index) {
  if (!InRange(index)) return;
  items_[index].reset();
  if (static_cast<size_t>(index) + 1 != items_.size()) items_[index] = std::move(items_.back());
  items_.pop_back();
}

int TqzJSONcustomlist::IndexOfItem(const TqzJSONbase* node) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == node) return static_cast<int>(i);
  }
  return -1;
}

namespace {

// The child of a typed read, or nullptr for the default; a child of another class is a cast error.
template <class T>
const T* TypedChild(const TqzJSONbase* child) {
  if (!child) return nullptr;
  const T* typed = dynamic_cast<const T*>(child);
  if (!typed) throw EInvalidCast();
  return typed;
}

}  // namespace

int TqzJSONcustomlist::ItemAsInteger(int index) const {
  const TqzJSONnumber* number = TypedChild<TqzJSONnumber>(ReadChild(index));
  if (!number) return 0;
  const long double whole = std::trunc(number->Value());
  // Whole numbers in [-2^63, 2^63) are the ones a 64-bit integer holds.
  if (!(whole >= -9223372036854775808.0L && whole < 9223372036854775808.0L)) {
    throw ERangeError("Number is out of the 64-bit range");
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int64_t>(whole)));
}

std::string TqzJSONcustomlist::ItemAsString(int index) const {
  const TqzJSONstring* text = TypedChild<TqzJSONstring>(ReadChild(index));
  return text ? WideToUtf8(text->Value()) : std::string();
}

std::u16string TqzJSONcustomlist::ItemAsWideString(int index) const {
  const TqzJSONstring* text = TypedChild<TqzJSONstring>(ReadChild(index));
  return text ? text->Value() : std::u16string();
}

long double TqzJSONcustomlist::ItemAsDouble(int index) const {
  const TqzJSONnumber* number = TypedChild<TqzJSONnumber>(ReadChild(index));
  return number ? static_cast<double>(number->Value()) : 0.0L;
}

bool TqzJSONcustomlist::ItemAsBoolean(int index) const {
  const TqzJSONboolean* flag = TypedChild<TqzJSONboolean>(ReadChild(index));
  return flag ? flag->Value() : false;
}

// ---- list

TqzJSONbase* TqzJSONlist::EntryAt(int index, std::string& name) const {
  name = std::to_string(index);
  return ItemAt(index);
}

// ---- object

TqzJSONobject::~TqzJSONobject() = default;

int TqzJSONobject::AddItem(std::unique_ptr<TqzJSONbase> node) {
  if (!indexBuilt_) return TqzJSONcustomlist::AddItem(std::move(node));
  const auto* pair = dynamic_cast<const TqzJSONobjectmethod*>(node.get());
  const int index = TqzJSONcustomlist::AddItem(std::move(node));
  // A name already present keeps its first position, so a later duplicate changes nothing.
  if (index >= 0 && pair) index_.Insert(pair->Name(), index);
  return index;
}

void TqzJSONobject::DeleteItem(int index) {
  if (!InRange(index)) return;
  TqzJSONcustomlist::DeleteItem(index);
  indexBuilt_ = false;
}

void TqzJSONobject::SetItemAt(int index, std::unique_ptr<TqzJSONbase> node) {
  if (!InRange(index)) return;
  TqzJSONcustomlist::SetItemAt(index, std::move(node));
  indexBuilt_ = false;
}

void TqzJSONobject::RebuildIndex() const {
  index_.RemoveAll();
  for (size_t i = 0; i < items_.size(); ++i) {
    if (const auto* pair = dynamic_cast<const TqzJSONobjectmethod*>(items_[i].get())) {
      index_.Insert(pair->Name(), static_cast<int>(i));
    }
  }
  indexBuilt_ = true;
}

int TqzJSONobject::FieldIndex(std::u16string_view name) const {
  if (useIndex_) {
    if (!indexBuilt_) RebuildIndex();
    return index_.Lookup(name);
  }
  for (size_t i = 0; i < items_.size(); ++i) {
    const auto* pair = dynamic_cast<const TqzJSONobjectmethod*>(items_[i].get());
    if (pair && pair->Name() == name) return static_cast<int>(i);
  }
  return -1;
}

TqzJSONbase* TqzJSONobject::FieldByName(std::u16string_view name) const {
  const int index = FieldIndex(name);
  if (index < 0) return nullptr;
  // The index only ever holds positions of field pairs.
  return static_cast<const TqzJSONobjectmethod*>(items_[index].get())->Value();
}

std::u16string TqzJSONobject::NameAt(int index) const {
  // An emptied slot has no name (rather than a cast error on nothing).
  if (!InRange(index) || !items_[index]) return {};
  const auto* pair = dynamic_cast<const TqzJSONobjectmethod*>(items_[index].get());
  if (!pair) throw EInvalidCast();
  return pair->Name();
}

TqzJSONbase* TqzJSONobject::ValueAt(int index) const {
  const std::u16string name = NameAt(index);
  if (name.empty()) return nullptr;
  return FieldByName(name);
}

TqzJSONbase* TqzJSONobject::Member(const Variant& key) {
  if (key.IsText()) return FieldByName(VariantToWideString(key));
  return TqzJSONcustomlist::Member(key);
}

TqzJSONbase* TqzJSONobject::EntryAt(int index, std::string& name) const {
  name = WideToUtf8(NameAt(index));
  return ValueAt(index);
}
