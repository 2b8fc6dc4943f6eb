// MD5 digests of photos, as `md5sum` writes them (so a copy can be checked with `md5sum -c` too), at the
// speed of the system's crypto library: taken from the bytes while a fetch writes them, and read back from
// a file in large blocks when a copy is checked.
#pragma once

#include <string>
#include <string_view>

class Md5Digest {
 public:
  Md5Digest();
  ~Md5Digest();
  Md5Digest(const Md5Digest&) = delete;
  Md5Digest& operator=(const Md5Digest&) = delete;

  void Update(const void* bytes, size_t size);
  // 32 lower-case hexadecimal digits of everything given so far; the digest is then spent.
  std::string Hex();

 private:
  void* context_ = nullptr;  // EVP_MD_CTX*
};

// The file's digest; empty when it cannot be read. `bytes`, when given, is told how many were read.
std::string FileMd5Hex(const std::string& path, long long* bytes = nullptr);
// The digest of bytes in memory.
std::string Md5HexOf(std::string_view bytes);
