// Small helpers for albumd's tests: a libcurl fetch that keeps status, headers and body, GBK decoding,
// and reading the album services' XML with libxml2.
#pragma once

#include <curl/curl.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct Fetched {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // names in lower case, last value wins
  std::vector<std::string> setCookies;         // every Set-Cookie value, in order
  std::string Header(const std::string& name) const;
};

struct FetchOptions {
  long timeoutMs = 5000;
  bool follow = false;
  std::optional<std::string> post{};  // a form body: sent as a POST of application/x-www-form-urlencoded
  std::string cookie{};               // the Cookie header, sent as given; empty: none
  std::string referer{};              // the Referer header; empty: none
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

// A plain TCP connection to albumd, to see exactly which bytes go over the wire and when.
class RawConnection {
 public:
  explicit RawConnection(const std::string& hostPort);  // "127.0.0.1:PORT"
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connected() const { return fd_ >= 0; }
  // Sends "GET target HTTP/1.1" with a Host header; the connection stays open for more.
  bool SendGet(const std::string& target);
  // Reads until `total` bytes have arrived in all, the peer closes or the time is up; true when they have.
  bool ReadAtLeast(size_t total, int timeoutMs);
  // Reads until the peer closes or the time is up; true when it closed.
  bool WaitClosed(int timeoutMs);
  // Reads until the end of the first header block; the offset just past it, or 0 when it did not come.
  size_t ReadHead(int timeoutMs);
  const std::string& Received() const { return received_; }
  bool PeerClosed() const { return peerClosed_; }
  void Close();

 private:
  // One read of whatever is there, waiting at most timeoutMs; false on time-out or end of the connection.
  bool ReadSome(int timeoutMs);

  int fd_ = -1;
  std::string host_;
  std::string received_;
  bool peerClosed_ = false;
};

// A header's value in a raw header block (case-insensitive name); empty when missing.
std::string RawHeader(const std::string& head, const std::string& name);

// The data of a chunked body, as far as whole chunks have arrived.
std::string Dechunk(const std::string& body);

// The bytes of a file in albumd's shipped images folder.
std::string ShippedImage(const std::string& name);

// True when the bytes start like an image of that phototype ("1" JPEG, "2" GIF, "3" PNG).
bool HasImageMagic(const std::string& bytes, const std::string& phototype);
