#include "json/jsonwriter.h"

#include <cstdio>

#include "text/utf8.h"

namespace {

void AppendEscape(std::string& out, unsigned value) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", value & 0xFFFF);
  out += buf;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const char* escaped = c == '"'    ? "\\\""
                          : c == '\\' ? "\\\\"
                          : c == '\n' ? "\\n"
                          : c == '\r' ? "\\r"
                          : c == '\t' ? "\\t"
                                      : nullptr;
    if (escaped != nullptr) {
      out += escaped;
      ++i;
    } else if (c < 0x20) {
      AppendEscape(out, c);
      ++i;
    } else if (const Utf8Char ch = Utf8At(text, i); ch.length == 0) {
      AppendEscape(out, 0xFFFD);  // not UTF-8: marked, never passed on as broken JSON
      ++i;
    } else if (ch.code > 0xFFFF) {
      AppendEscape(out, 0xD800 + ((ch.code - 0x10000) >> 10));
      AppendEscape(out, 0xDC00 + ((ch.code - 0x10000) & 0x3FF));
      i += ch.length;
    } else {
      out.append(text.substr(i, ch.length));
      i += ch.length;
    }
  }
  return out + "\"";
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!open_.empty()) {
    if (!open_.back().first) text_ += ',';
    open_.back().first = false;
  }
  if (breakPending_) text_ += '\n';
  breakPending_ = false;
}

JsonWriter& JsonWriter::Object() {
  BeforeValue();
  text_ += '{';
  open_.push_back({'}', true});
  return *this;
}

JsonWriter& JsonWriter::Array() {
  BeforeValue();
  text_ += '[';
  open_.push_back({']', true});
  return *this;
}

JsonWriter& JsonWriter::End() {
  if (open_.empty()) return *this;
  if (breakPending_) text_ += '\n';
  breakPending_ = false;
  text_ += open_.back().close;
  open_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
  BeforeValue();
  text_ += JsonQuote(name);
  text_ += ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  BeforeValue();
  text_ += JsonQuote(text);
  return *this;
}

JsonWriter& JsonWriter::Number(long long value) {
  BeforeValue();
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::Boolean(bool value) {
  BeforeValue();
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Break() {
  breakPending_ = true;
  return *this;
}
