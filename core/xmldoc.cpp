#include "core/xmldoc.h"

#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <fstream>
#include <mutex>

#include "core/textutil.h"

namespace {

// No network, no entity substitution, no DTD loading, no size-limit lifting, no recovery from errors; keep
// libxml2's own messages off stderr (a failure is reported by the exception).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

// A reply far beyond any real album or photo list is refused rather than held in memory.
constexpr size_t kMaxDocumentBytes = 256u * 1024 * 1024;

const char* Chars(const xmlChar* text) {
  return reinterpret_cast<const char*>(text);
}

// libxml2 keeps its error handlers per thread, and some of its messages (encoding and I/O errors) go to
// the generic handler whatever the parse options say; its default writes to stderr. Every parse therefore
// sets both on its own thread: nothing is printed, and the first message becomes the exception's text.
void IgnoreGenericError(void*, const char*, ...) {}

void KeepFirstError(void* user, xmlErrorPtr error) {
  auto* first = static_cast<std::string*>(user);
  if (error == nullptr || !first->empty() || error->level < XML_ERR_ERROR) return;
  std::string text = error->message != nullptr ? error->message : "unknown error";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  *first = error->line > 0 ? "line " + std::to_string(error->line) + ": " + text : text;
}

class QuietErrors {
 public:
  QuietErrors() {
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    xmlSetStructuredErrorFunc(&first_, KeepFirstError);
  }
  ~QuietErrors() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;
  const std::string& First() const { return first_; }

 private:
  std::string first_;
};

}  // namespace

void InitXmlLayer() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlAddEncodingAlias("GB18030", "GB2312");
    xmlAddEncodingAlias("GB18030", "GBK");
  });
}

bool XmlNode::IsElement() const {
  return node_ != nullptr && node_->type == XML_ELEMENT_NODE;
}

std::string XmlNode::Name() const {
  if (node_ == nullptr) return {};
  switch (node_->type) {
    case XML_ELEMENT_NODE: {
      std::string name;
      if (node_->ns != nullptr && node_->ns->prefix != nullptr) {
        name = Chars(node_->ns->prefix);
        name += ':';
      }
      if (node_->name != nullptr) name += Chars(node_->name);
      return name;
    }
    case XML_TEXT_NODE:
      return "#text";
    case XML_CDATA_SECTION_NODE:
      return "#cdata-section";
    case XML_COMMENT_NODE:
      return "#comment";
    default:
      return node_->name != nullptr ? Chars(node_->name) : "";
  }
}

XmlNode XmlNode::FirstChild() const {
  if (node_ == nullptr || node_->type != XML_ELEMENT_NODE) return XmlNode();
  return XmlNode(node_->children);
}

XmlNode XmlNode::Next() const {
  return XmlNode(node_ != nullptr ? node_->next : nullptr);
}

XmlNode XmlNode::FindFrom(std::string_view name) const {
  // Only elements are looked for by name: a processing instruction may carry an element's name too.
  for (XmlNode n = *this; n; n = n.Next()) {
    if (n.IsElement() && n.Name() == name) return n;
  }
  return XmlNode();
}

std::string XmlNode::Text() const {
  if (!IsElement()) throw EXmlUnreadable("element missing");
  const xmlNode* only = node_->children;
  if (only == nullptr || only->next != nullptr ||
      (only->type != XML_TEXT_NODE && only->type != XML_CDATA_SECTION_NODE)) {
    throw EXmlUnreadable("element does not hold exactly one text");
  }
  if (only->content == nullptr || only->content[0] == '\0') throw EXmlUnreadable("element text is empty");
  return Chars(only->content);
}

std::string XmlNode::ChildText(std::string_view name) const {
  XmlNode child = Child(name);
  if (!child.IsElement()) throw EXmlUnreadable("element missing: " + std::string(name));
  return child.Text();
}

void XmlDocument::Free::operator()(_xmlDoc* doc) const {
  xmlFreeDoc(doc);
}

XmlDocument XmlDocument::LoadFromFile(const std::string& path) {
  // Read the bytes ourselves: libxml2's own file reader would also unpack compressed files, which a
  // reply has no business being.
  std::ifstream in(path, std::ios::binary);
  if (!in) throw EXmlDocument("cannot open XML document: " + path);
  std::string bytes;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<size_t>(in.gcount()));
    if (bytes.size() > kMaxDocumentBytes) throw EXmlDocument("XML document too large: " + path);
  }
  if (in.bad()) throw EXmlDocument("cannot read XML document: " + path);
  return LoadFromMemory(bytes);
}

XmlDocument XmlDocument::LoadFromMemory(std::string_view bytes) {
  InitXmlLayer();
  if (bytes.empty()) throw EXmlDocument("empty XML document");
  if (bytes.size() > kMaxDocumentBytes) throw EXmlDocument("XML document too large");
  QuietErrors errors;
  xmlDocPtr doc =
      xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), "memory.xml", nullptr, kParseOptions);
  // Some errors (a text node past the parser's limit) end the parse but still hand out the part read so
  // far: a document that raised any error is not used.
  if (doc == nullptr || !errors.First().empty()) {
    if (doc != nullptr) xmlFreeDoc(doc);
    throw EXmlDocument(errors.First().empty() ? "not well-formed XML"
                                              : "not well-formed XML (" + errors.First() + ")");
  }
  return XmlDocument(doc);
}

bool XmlDocument::HasNodes() const {
  return doc_ != nullptr && doc_->children != nullptr;
}

XmlNode XmlDocument::FirstTopLevel() const {
  return XmlNode(doc_ != nullptr ? doc_->children : nullptr);
}

XmlNode FirstPhotoNode(const XmlDocument& doc) {
  if (!doc.HasNodes()) return XmlNode();
  XmlNode album = doc.TopLevel("album");
  if (!album.IsElement()) return XmlNode();
  XmlNode pic = album.Child("pic");
  return pic.IsElement() ? pic : XmlNode();
}

std::optional<TPhotoEntry> ReadPhotoEntry(XmlNode node) {
  if (!node.IsElement() || node.Name() != "pic" || !node.Child("name").IsElement()) return std::nullopt;
  try {
    TPhotoEntry entry;
    entry.name = TrimBlanks(node.ChildText("name"));
    entry.url = TrimBlanks(node.ChildText("url"));
    entry.phototype = TrimBlanks(node.ChildText("phototype"));
    return entry;
  } catch (const EXmlUnreadable&) {
    return std::nullopt;
  }
}
