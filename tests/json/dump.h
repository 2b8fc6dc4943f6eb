// A compact text form of a parsed tree for table tests: numbers as VariantText shows them, strings with
// every code unit outside printable ASCII as \uXXXX, "nil" for no node.
#ifndef LORVANTA_TESTS_JSON_DUMP_H
#define LORVANTA_TESTS_JSON_DUMP_H

#include <cstdio>
#include <string>

#include "json/qzjson.h"

inline std::string DumpText(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t unit : text) {
    if (unit == '"' || unit == '\\') {
      out += '\\';
      out += static_cast<char>(unit);
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
      out += buf;
    }
  }
  return out + "\"";
}

inline std::string Dump(const TqzJSONbase* node) {
  if (!node) return "nil";
  switch (node->Kind()) {
    case jsNumber:
      return VariantText(node->AsVariant());
    case jsString:
      return DumpText(static_cast<const TqzJSONstring*>(node)->Value());
    case jsBoolean:
      return static_cast<const TqzJSONboolean*>(node)->Value() ? "true" : "false";
    case jsNull:
      return "null";
    case jsList: {
      std::string out = "[";
      for (int i = 0; i < node->ItemCount(); ++i) out += (i ? "," : "") + Dump(node->ItemAt(i));
      return out + "]";
    }
    case jsObject: {
      std::string out = "{";
      for (int i = 0; i < node->ItemCount(); ++i) {
        const auto* pair = dynamic_cast<const TqzJSONobjectmethod*>(node->ItemAt(i));
        out += i ? "," : "";
        out += pair ? DumpText(pair->Name()) + ":" + Dump(pair->Value()) : "?";
      }
      return out + "}";
    }
    case jsBase:
      break;
  }
  return "base";
}

#endif  // LORVANTA_TESTS_JSON_DUMP_H
