#include "net/digest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Fetched once: OpenSSL 3 looks an algorithm up on every implicit use, which costs per photo.
const EVP_MD* Md5() {
  static EVP_MD* md = EVP_MD_fetch(nullptr, "MD5", nullptr);
  if (md == nullptr) throw std::runtime_error("the crypto library has no MD5");
  return md;
}

// Reads of this size keep the disk streaming and the digest's loop busy, without a large buffer per thread.
constexpr size_t kBlock = 1 << 20;

}  // namespace

Md5Digest::Md5Digest() {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  if (context == nullptr || EVP_DigestInit_ex(context, Md5(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    throw std::runtime_error("cannot start an MD5 digest");
  }
  context_ = context;
}

Md5Digest::~Md5Digest() {
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

void Md5Digest::Update(const void* bytes, size_t size) {
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), bytes, size);
}

std::string Md5Digest::Hex() {
  unsigned char sum[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(context_), sum, &length);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[sum[i] >> 4];
    hex += kHex[sum[i] & 15];
  }
  return hex;
}

std::string FileMd5Hex(const std::string& path, long long* bytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  thread_local std::vector<unsigned char> buffer(kBlock);
  Md5Digest digest;
  long long total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return {};
    }
    if (n == 0) break;
    digest.Update(buffer.data(), static_cast<size_t>(n));
    total += n;
  }
  ::close(fd);
  if (bytes != nullptr) *bytes = total;
  return digest.Hex();
}

std::string Md5HexOf(std::string_view bytes) {
  Md5Digest digest;
  digest.Update(bytes.data(), bytes.size());
  return digest.Hex();
}
