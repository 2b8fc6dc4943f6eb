// Small helpers for albumd's tests: a libcurl fetch that keeps status, headers and body, GBK decoding,
// and reading the album services' XML with libxml2.
#pragma once

#include <curl/curl.h>

#include <map>
#include <string>
#include <vector>

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case, last value wins
  std::string Header(const std::string& name) const;
};

struct FetchOptions {
  long timeoutMs = 5000;
  bool follow = false;
};

Fetched Fetch(const std::string& url, const FetchOptions& options = {});

// iconv from one encoding to another; false when the text does not convert whole.
bool Convert(const std::string& text, const char* from, const char* to, std::string& out);

// The texts of an element's children in an album service document, as libxml2 reads it (GBK read as
// GB18030, the program's own rule). ok is false when the document is not well-formed.
struct XmlItem {
  std::map<std::string, std::string> fields;  // child element name -> text content (UTF-8)
};
struct XmlDoc {
  bool ok = false;
  std::string root;
  std::vector<XmlItem> items;  // the root's children named `itemName`, in order
};
XmlDoc ReadXml(const std::string& body, const std::string& itemName);

// True when the bytes start like an image of that phototype ("1" JPEG, "2" GIF, "3" PNG).
bool HasImageMagic(const std::string& bytes, const std::string& phototype);
