#include "tests/albumd/fetch.h"

#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>

namespace {

size_t OnBody(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

size_t OnHeader(char* data, size_t size, size_t count, void* out) {
  std::string line(data, size * count);
  auto colon = line.find(':');
  if (colon != std::string::npos) {
    std::string name = line.substr(0, colon);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t\r\n") + 1);
    (*static_cast<std::map<std::string, std::string>*>(out))[name] = value;
  }
  return size * count;
}

std::string Text(xmlNode* node) {
  xmlChar* content = xmlNodeGetContent(node);
  std::string text = content ? reinterpret_cast<const char*>(content) : "";
  xmlFree(content);
  return text;
}

}  // namespace

std::string Fetched::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? "" : it->second;
}

Fetched Fetch(const std::string& url, const FetchOptions& options) {
  Fetched result;
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, options.follow ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
  result.code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_cleanup(curl);
  return result;
}

bool Convert(const std::string& text, const char* from, const char* to, std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(text.size() * 4 + 16, '\0');
  char* src = const_cast<char*>(text.data());
  size_t srcLeft = text.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) && srcLeft == 0;
  out.resize(out.size() - dstLeft);
  iconv_close(cd);
  return ok;
}

XmlDoc ReadXml(const std::string& body, const std::string& itemName) {
  XmlDoc doc;
  xmlDoc* xml = xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, "GB18030",
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  if (xml == nullptr) return doc;
  xmlNode* root = xmlDocGetRootElement(xml);
  if (root != nullptr) {
    doc.ok = true;
    doc.root = reinterpret_cast<const char*>(root->name);
    for (xmlNode* child = root->children; child; child = child->next) {
      if (child->type != XML_ELEMENT_NODE || itemName != reinterpret_cast<const char*>(child->name)) continue;
      XmlItem item;
      for (xmlNode* field = child->children; field; field = field->next) {
        if (field->type == XML_ELEMENT_NODE)
          item.fields[reinterpret_cast<const char*>(field->name)] = Text(field);
      }
      doc.items.push_back(std::move(item));
    }
  }
  xmlFreeDoc(xml);
  return doc;
}

bool HasImageMagic(const std::string& bytes, const std::string& phototype) {
  if (phototype == "2") return bytes.rfind("GIF8", 0) == 0;
  if (phototype == "3") return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0;
  return bytes.rfind("\xFF\xD8\xFF", 0) == 0;
}
