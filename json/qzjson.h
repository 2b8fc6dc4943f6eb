// JSON documents in memory: a tree of nodes, every one answering the same virtual operations so that a
// caller can walk a tree without testing kinds first, and the parser that builds such a tree from text.
//
// Scalars answer child questions with nullptr or 0; containers answer value questions with a Null
// variant. Containers own their children, a field pair owns its value, and ParseValue's caller owns the
// root. Indexes and counts are signed 32-bit.
#ifndef LORVANTA_JSON_QZJSON_H
#define LORVANTA_JSON_QZJSON_H

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "json/qzbaltree.h"
#include "json/variant.h"

enum TqzJSONkind {
  jsBase = 0,     ///< TqzJSONbase, TqzJSONcustomlist, TqzJSONobjectmethod
  jsNumber = 1,   ///< TqzJSONnumber
  jsString = 2,   ///< TqzJSONstring
  jsBoolean = 3,  ///< TqzJSONboolean
  jsNull = 4,     ///< TqzJSONnull
  jsList = 5,     ///< TqzJSONlist
  jsObject = 6,   ///< TqzJSONobject
};

// The identifier of a kind as text ("jsBase" ... "jsObject"); "" for a value outside the enumeration.
const char* KindName(TqzJSONkind kind);

// Raised by a typed read whose child is of another class, and by NameAt on an item that is no field pair.
class EInvalidCast : public std::runtime_error {
 public:
  EInvalidCast() : std::runtime_error("Invalid class typecast") {}
};

class TqzJSONbase {
 public:
  TqzJSONbase() = default;
  virtual ~TqzJSONbase() = default;
  TqzJSONbase(const TqzJSONbase&) = delete;
  TqzJSONbase& operator=(const TqzJSONbase&) = delete;

  // The node's value; Null for containers, field pairs and null.
  virtual Variant AsVariant() const;
  // Sets the value, converted to the node's own kind; throws EVariantError (value unchanged) when the
  // conversion fails. Ignored by nodes without a value.
  virtual void SetAsVariant(const Variant& value);
  // Child at a 0-based index, or nullptr (out of range, or a node without children).
  virtual TqzJSONbase* ItemAt(int index) const;
  // Replaces (and frees) the child at index; nothing when index is out of range.
  virtual void SetItemAt(int index, std::unique_ptr<TqzJSONbase> node);
  virtual int ItemCount() const;
  // Child chosen by key: on an object a text key is a field lookup (the field's value); on a list or an
  // object a numeric key (Boolean included), rounded to the nearest integer with ties to even, is ItemAt
  // (on an object that is the field pair). Every other case answers the node itself. A numeric key
  // outside the 32-bit range throws ERangeError.
  virtual TqzJSONbase* Member(const Variant& key);
  virtual TqzJSONkind Kind() const { return jsBase; }
  virtual std::string KindName() const { return ::KindName(Kind()); }
  static TqzJSONkind ClassKind() { return jsBase; }
};

// Every JSON number, with or without a fraction, in 80-bit extended precision.
class TqzJSONnumber : public TqzJSONbase {
 public:
  explicit TqzJSONnumber(long double value = 0) : value_(value) {}
  long double Value() const { return value_; }
  void SetValue(long double value) { value_ = value; }
  // A Double, the value rounded to double, even for a number written without a fraction.
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  TqzJSONkind Kind() const override { return jsNumber; }
  static TqzJSONkind ClassKind() { return jsNumber; }

 private:
  long double value_;
};

class TqzJSONstring : public TqzJSONbase {
 public:
  explicit TqzJSONstring(std::u16string value = {}) : value_(std::move(value)) {}
  const std::u16string& Value() const { return value_; }
  void SetValue(std::u16string value) { value_ = std::move(value); }
  Variant AsVariant() const override;  // a wide string
  void SetAsVariant(const Variant& value) override;
  TqzJSONkind Kind() const override { return jsString; }
  static TqzJSONkind ClassKind() { return jsString; }

 private:
  std::u16string value_;
};

class TqzJSONboolean : public TqzJSONbase {
 public:
  explicit TqzJSONboolean(bool value = false) : value_(value) {}
  bool Value() const { return value_; }
  void SetValue(bool value) { value_ = value; }
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;
  TqzJSONkind Kind() const override { return jsBoolean; }
  static TqzJSONkind ClassKind() { return jsBoolean; }

 private:
  bool value_;
};

class TqzJSONnull : public TqzJSONbase {
 public:
  TqzJSONkind Kind() const override { return jsNull; }
  static TqzJSONkind ClassKind() { return jsNull; }
};

// One field of an object: a name and the value node it owns. Reports jsBase and a Null value, like a
// plain base node. The name is fixed at construction so that an object's name index cannot go stale
// behind its back.
class TqzJSONobjectmethod : public TqzJSONbase {
 public:
  explicit TqzJSONobjectmethod(std::u16string name = {}, std::unique_ptr<TqzJSONbase> value = nullptr)
      : value_(std::move(value)), name_(std::move(name)) {}
  const std::u16string& Name() const { return name_; }
  TqzJSONbase* Value() const { return value_.get(); }
  void SetValue(std::unique_ptr<TqzJSONbase> value) { value_ = std::move(value); }

 private:
  std::unique_ptr<TqzJSONbase> value_;
  std::u16string name_;
};

// The shared item array of lists and objects; only ever made through TqzJSONlist or TqzJSONobject.
class TqzJSONcustomlist : public TqzJSONbase {
 public:
  ~TqzJSONcustomlist() override;

  TqzJSONbase* ItemAt(int index) const override;
  void SetItemAt(int index, std::unique_ptr<TqzJSONbase> node) override;
  int ItemCount() const override { return static_cast<int>(items_.size()); }
  TqzJSONbase* Member(const Variant& key) override;

  // Child at index with a name for it: on a list ItemAt and the decimal text of index (even out of
  // range), on an object ValueAt and the field's name in UTF-8.
  virtual TqzJSONbase* EntryAt(int index, std::string& name) const = 0;
  // Appends node and answers its index; nullptr is refused with -1.
  virtual int AddItem(std::unique_ptr<TqzJSONbase> node);
  // Frees item index and moves the last item into its place (constant time; order is not kept).
  virtual void DeleteItem(int index);
  // First position holding that very node, or -1.
  int IndexOfItem(const TqzJSONbase* node) const;

  // Typed reads of one child (ItemAt on a list, ValueAt on an object). A missing child or an index out of
  // range gives the default (0, empty, false); a child of another class throws EInvalidCast.
  // ItemAsInteger cuts the fraction toward zero and keeps the low 32 bits of the 64-bit whole number; a
  // value beyond the 64-bit range throws ERangeError. ItemAsString gives the text in UTF-8.
  int ItemAsInteger(int index) const;
  std::string ItemAsString(int index) const;
  std::u16string ItemAsWideString(int index) const;
  long double ItemAsDouble(int index) const;
  bool ItemAsBoolean(int index) const;

 protected:
  TqzJSONcustomlist() = default;
  // The child that the typed reads look at.
  virtual TqzJSONbase* ReadChild(int index) const = 0;
  bool InRange(int index) const { return index >= 0 && index < ItemCount(); }

  std::vector<std::unique_ptr<TqzJSONbase>> items_;
};

class TqzJSONlist : public TqzJSONcustomlist {
 public:
  TqzJSONbase* EntryAt(int index, std::string& name) const override;
  TqzJSONkind Kind() const override { return jsList; }
  static TqzJSONkind ClassKind() { return jsList; }

 protected:
  TqzJSONbase* ReadChild(int index) const override { return ItemAt(index); }
};

// A JSON object: field pairs (TqzJSONobjectmethod) in document order. With useIndex set, lookups by name
// go through a search tree from name to position; otherwise they scan the fields. Either way a name that
// occurs twice finds its first field.
class TqzJSONobject : public TqzJSONcustomlist {
 public:
  explicit TqzJSONobject(bool useIndex = false) : useIndex_(useIndex) {}
  ~TqzJSONobject() override;

  // The name index is built from the fields on the first lookup by name and kept up to date by AddItem
  // from then on; after SetItemAt or DeleteItem it is rebuilt before its next use, so it never points at
  // a moved or replaced field. Building on demand keeps parsing cheap for the many objects of a document
  // that are never searched. (So a lookup may write to the index: one object is not for concurrent use
  // by several threads, not even for lookups alone.)
  int AddItem(std::unique_ptr<TqzJSONbase> node) override;
  void DeleteItem(int index) override;
  void SetItemAt(int index, std::unique_ptr<TqzJSONbase> node) override;
  TqzJSONbase* Member(const Variant& key) override;
  TqzJSONbase* EntryAt(int index, std::string& name) const override;
  TqzJSONkind Kind() const override { return jsObject; }
  static TqzJSONkind ClassKind() { return jsObject; }

  bool UsesIndex() const { return useIndex_; }
  // Position of the first field named name (exact code-unit comparison), or -1.
  int FieldIndex(std::u16string_view name) const;
  // Value node of that field, or nullptr.
  TqzJSONbase* FieldByName(std::u16string_view name) const;
  // Name of field index; empty when index is out of range or the slot is empty. Throws EInvalidCast for an
  // item that is no field pair.
  std::u16string NameAt(int index) const;
  // Value of field index found through its name: an empty name reads as absent, and a field that repeats
  // an earlier name reads as the earlier field's value.
  TqzJSONbase* ValueAt(int index) const;

 protected:
  TqzJSONbase* ReadChild(int index) const override { return ValueAt(index); }

 private:
  void RebuildIndex() const;

  bool useIndex_;
  mutable TqzBalTree index_;
  mutable bool indexBuilt_ = false;
};

class TqzJSON {
 public:
  TqzJSON() = delete;
  // Parses JSON text (UTF-8 inside strings) into a tree; nullptr for any failure. Lenient where that
  // costs nothing: commas between items are optional and one trailing comma is taken, a number may start
  // with "+" or with leading zeros, a byte-order mark is skipped, "\'" is a quote, unknown escapes are
  // dropped, and whatever follows the value is ignored. A string that is not valid UTF-8 reads as empty.
  // Containers nested deeper than kMaxDepth fail.
  static std::unique_ptr<TqzJSONbase> ParseValue(std::string_view text);
  static constexpr int kMaxDepth = 512;
};

#endif  // LORVANTA_JSON_QZJSON_H
