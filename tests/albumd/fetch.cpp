#include "tests/albumd/fetch.h"

#include <arpa/inet.h>
#include <iconv.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "tools/albumd/testing/albumdprocess.h"

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
    auto* fetched = static_cast<Fetched*>(out);
    fetched->headers[name] = value;
    if (name == "set-cookie") fetched->setCookies.push_back(value);
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
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result);
  if (options.post) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(options.post->size()));
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.post->c_str());
  }
  if (!options.cookie.empty()) curl_easy_setopt(curl, CURLOPT_COOKIE, options.cookie.c_str());
  if (!options.referer.empty()) curl_easy_setopt(curl, CURLOPT_REFERER, options.referer.c_str());
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

RawConnection::RawConnection(const std::string& hostPort) : host_(hostPort) {
  auto colon = hostPort.rfind(':');
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(hostPort.substr(colon + 1))));
  inet_pton(AF_INET, hostPort.substr(0, colon).c_str(), &address.sin_addr);
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Close();
}

RawConnection::~RawConnection() {
  Close();
}

void RawConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool RawConnection::SendGet(const std::string& target) {
  const std::string request = "GET " + target + " HTTP/1.1\r\nHost: " + host_ + "\r\n\r\n";
  return fd_ >= 0 &&
         send(fd_, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
}

bool RawConnection::ReadSome(int timeoutMs) {
  if (fd_ < 0 || peerClosed_) return false;
  pollfd p{fd_, POLLIN, 0};
  if (poll(&p, 1, std::max(timeoutMs, 0)) <= 0) return false;
  char buffer[1 << 16];
  ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
  if (n <= 0) {
    peerClosed_ = true;
    return false;
  }
  received_.append(buffer, static_cast<size_t>(n));
  return true;
}

namespace {

// Runs `step` with the milliseconds left until it returns false or the time is up.
template <typename Step>
void Until(int timeoutMs, Step step) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !step(static_cast<int>(left.count()))) return;
  }
}

}  // namespace

bool RawConnection::ReadAtLeast(size_t total, int timeoutMs) {
  Until(timeoutMs, [&](int left) { return received_.size() < total && (ReadSome(left) || !peerClosed_); });
  return received_.size() >= total;
}

bool RawConnection::WaitClosed(int timeoutMs) {
  Until(timeoutMs, [&](int left) { return !peerClosed_ && (ReadSome(left) || !peerClosed_); });
  return peerClosed_;
}

size_t RawConnection::ReadHead(int timeoutMs) {
  Until(timeoutMs, [&](int left) {
    return received_.find("\r\n\r\n") == std::string::npos && (ReadSome(left) || !peerClosed_);
  });
  auto end = received_.find("\r\n\r\n");
  return end == std::string::npos ? 0 : end + 4;
}

std::string RawHeader(const std::string& head, const std::string& name) {
  auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
  };
  const std::string block = lower(head.substr(0, head.find("\r\n\r\n")));
  auto at = block.find("\r\n" + lower(name) + ":");
  if (at == std::string::npos) return "";
  at += name.size() + 3;
  auto end = block.find("\r\n", at);
  std::string value = head.substr(at, (end == std::string::npos ? block.size() : end) - at);
  value.erase(0, value.find_first_not_of(' '));
  return value;
}

std::string Dechunk(const std::string& body) {
  std::string data;
  size_t at = 0;
  while (true) {
    auto line = body.find("\r\n", at);
    if (line == std::string::npos) break;
    size_t size = std::stoul(body.substr(at, line - at), nullptr, 16);
    if (size == 0 || line + 2 + size + 2 > body.size()) break;
    data.append(body, line + 2, size);
    at = line + 2 + size + 2;
  }
  return data;
}

std::string ShippedImage(const std::string& name) {
  std::ifstream in(DefaultDataDir() + "/images/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
