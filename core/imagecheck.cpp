#include "core/imagecheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::string_view ImageKind(std::string_view head) {
  using namespace std::string_view_literals;
  if (StartsWith(head, "\xFF\xD8\xFF"sv)) return "jpeg";
  if (StartsWith(head, "GIF87a"sv) || StartsWith(head, "GIF89a"sv)) return "gif";
  if (StartsWith(head, "\x89PNG\r\n\x1A\n"sv)) return "png";
  if (head.size() >= 12 && StartsWith(head, "RIFF"sv) && head.substr(8, 4) == "WEBP"sv) return "webp";
  // "BM", then the file size and two reserved words that are zero in every writer's output; the bare
  // two letters would also start plain text.
  if (head.size() >= 10 && StartsWith(head, "BM"sv) && head.substr(6, 4) == std::string_view("\0\0\0\0", 4))
    return "bmp";
  if (head.size() >= 12 && head.substr(4, 4) == "ftyp"sv) {
    const std::string_view brand = head.substr(8, 4);
    if (brand == "avif"sv || brand == "avis"sv) return "avif";
    if (brand == "heic"sv || brand == "heix"sv || brand == "mif1"sv || brand == "msf1"sv) return "heif";
  }
  return {};
}

namespace {

// The first bytes of a file (at most 16); empty when it cannot be read.
std::string FileHead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::array<char, 16> head{};
  size_t got = 0;
  while (got < head.size()) {
    const ssize_t n = ::read(fd, head.data() + got, head.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  return std::string(head.data(), got);
}

// The checks every reply saved as a photo or video must pass before its kind is looked at.
bool WholeReply(FetchReport& report) {
  if (report.bytes <= 0) {
    report.error = "the reply is empty";
    return false;
  }
  if (report.contentLength >= 0 && report.contentLength != report.bytes) {
    report.error = "the reply does not match its announced length";
    return false;
  }
  return true;
}

}  // namespace

bool IsImageFile(const std::string& path) {
  return !ImageKind(FileHead(path)).empty();
}

bool LooksLikeVideo(const std::string& tempPath, FetchReport& report) {
  if (!WholeReply(report)) return false;
  const std::string head = FileHead(tempPath);
  if (head.size() < 12 || head.compare(4, 4, "ftyp") != 0 || !ImageKind(head).empty()) {
    report.error = "the reply is not a video" +
                   (report.contentType.empty() ? std::string() : " (" + report.contentType + ")");
    return false;
  }
  return true;
}

bool IsPhotoPlaceholder(const std::string& path, long long bytes) {
  // A GIF's logical screen size stands in bytes 6-9, little-endian.
  if (bytes <= 0 || bytes > kPlaceholderMaxBytes) return false;
  const std::string head = FileHead(path);
  if (ImageKind(head) != "gif" || head.size() < 10) return false;
  const auto at = [&](size_t i) { return static_cast<unsigned char>(head[i]); };
  return (at(6) | at(7) << 8) == 96 && (at(8) | at(9) << 8) == 96;
}

bool LooksLikeImage(const std::string& tempPath, FetchReport& report) {
  if (!WholeReply(report)) return false;
  if (!IsImageFile(tempPath)) {
    report.error = "the reply is not an image" +
                   (report.contentType.empty() ? std::string() : " (" + report.contentType + ")");
    return false;
  }
  return true;
}
