// Writing JSON text, beside the parser that reads it: the manifests, the command line's summaries and the
// tests all write through here, so every JSON this program writes quotes the same way and reads back the
// same through TqzJSON.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// text as a JSON string literal, quotes included: quote, backslash and control characters escaped,
// characters beyond U+FFFF as \u surrogate pairs (which TqzJSON reads exactly; it takes four-byte UTF-8
// poorly), every other character as its UTF-8 bytes. A byte that is not well-formed UTF-8 becomes \ufffd;
// callers that must not lose it check IsValidUtf8 first.
std::string JsonQuote(std::string_view text);

// Builds one JSON value. Commas are put in by the writer; nesting is checked only by the caller's care.
//   JsonWriter w; w.Object().Key("qq").String("10001").Key("albums").Array().Number(1).End().End();
class JsonWriter {
 public:
  JsonWriter& Object();
  JsonWriter& Array();
  JsonWriter& End();  // the innermost object or array
  JsonWriter& Key(std::string_view name);
  JsonWriter& String(std::string_view text);
  JsonWriter& Number(long long value);
  JsonWriter& Boolean(bool value);
  // A line break before the next item (after its comma) or before the closing bracket, for text that
  // people read too (one manifest record a line).
  JsonWriter& Break();

  const std::string& Text() const { return text_; }

 private:
  void BeforeValue();

  struct Open {
    char close;  // '}' or ']'
    bool first;  // no item written yet
  };
  std::string text_;
  std::vector<Open> open_;
  bool afterKey_ = false;
  bool breakPending_ = false;
};
