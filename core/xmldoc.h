// The program's XML document layer over libxml2: exactly what the two jobs need to read the album list and
// the photo lists. Replies come from the network, so documents are read with no network access, no entity
// substitution and no external DTD; GB2312 and GBK documents are read as GB18030 (a "GB2312" reply often
// holds GBK-only characters, which a strict GB2312 decoder refuses). Text comes out as UTF-8.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

struct _xmlDoc;
struct _xmlNode;

// A document could not be read: missing or empty file, not well-formed, undecodable.
class EXmlDocument : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An element's text was asked for but the element is missing, holds anything but exactly one text or
// character-data node, or that text is empty.
class EXmlUnreadable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Prepares libxml2 for use from several threads and registers the GB2312/GBK reading. Call once on the
// main thread at program start, before any job runs; later calls do nothing.
void InitXmlLayer();

// A node of a loaded document, or no node. Cheap to copy; valid while its document lives.
class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(_xmlNode* node) : node_(node) {}

  explicit operator bool() const { return node_ != nullptr; }
  bool IsElement() const;

  // The node's name as a DOM names it: an element's qualified name, "#text", "#cdata-section",
  // "#comment", or the target of a processing instruction.
  std::string Name() const;

  // The first of the node's children (the head of its child list), or no node.
  XmlNode FirstChild() const;
  // The node that follows this one in its list (any kind of node), or no node.
  XmlNode Next() const;

  // In the list that starts at this node, the first node (this one included) with the given name.
  XmlNode FindFrom(std::string_view name) const;
  // The first child with the given name.
  XmlNode Child(std::string_view name) const { return FirstChild().FindFrom(name); }

  // The text of the child element with the given name; throws EXmlUnreadable when it is unreadable.
  std::string ChildText(std::string_view name) const;
  // The text of this element; throws EXmlUnreadable when it is unreadable.
  std::string Text() const;

 private:
  _xmlNode* node_ = nullptr;
};

class XmlDocument {
 public:
  // Loads a document from a file; throws EXmlDocument when the file is missing, empty or not well-formed.
  static XmlDocument LoadFromFile(const std::string& path);
  // The same from bytes in memory (tests and fuzzing).
  static XmlDocument LoadFromMemory(std::string_view bytes);

  // True when the document holds at least one node.
  bool HasNodes() const;
  // The head of the document's list of top-level nodes.
  XmlNode FirstTopLevel() const;
  // The first top-level node with the given name.
  XmlNode TopLevel(std::string_view name) const { return FirstTopLevel().FindFrom(name); }

 private:
  struct Free {
    void operator()(_xmlDoc* doc) const;
  };
  explicit XmlDocument(_xmlDoc* doc) : doc_(doc) {}
  std::unique_ptr<_xmlDoc, Free> doc_;
};

// One photo of a photo list.
struct TPhotoEntry {
  std::string name;       // photo title, trimmed; may be empty
  std::string url;        // address of the image, trimmed; may be empty
  std::string phototype;  // "1", "2", "3" or anything else, trimmed
  bool video = false;     // a video (only the album site's lists have them): saved as MP4
  std::time_t taken = 0;  // when it was taken (the album site's lists); 0: not known
  std::string desc{};     // what its owner wrote about it (the album site's lists); may be empty
};

// The first "pic" child of the top-level "album" element, or no node when the list is not usable (no
// nodes, no top-level "album", no "pic" child).
XmlNode FirstPhotoNode(const XmlDocument& doc);

// Reads one node of the photo walk: no value when it is not a "pic" element with a "name" child, or when
// its "name", "url" or "phototype" text is unreadable. Texts are trimmed after reading, so a blank text
// is readable and gives an empty field.
std::optional<TPhotoEntry> ReadPhotoEntry(XmlNode node);
