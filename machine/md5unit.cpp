#include "machine/md5unit.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Per-step left-rotation amounts, four per round.
constexpr std::array<int, 16> kShifts = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

// floor(abs(sin(i + 1)) * 2^32) for i = 0..63.
constexpr std::array<uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

inline uint32_t RotateLeft(uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

// The four auxiliary functions of RFC 1321.
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | (~x & z);
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return (x & z) | (y & ~z);
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) {
  return y ^ (x | ~z);
}

class TMd5Digest {
 public:
  // Hashes the whole message and returns the digest text.
  std::string Digest(std::string_view bytes) {
    const size_t fullBlocks = bytes.size() / 64;
    for (size_t b = 0; b < fullBlocks; ++b)
      Compress(reinterpret_cast<const unsigned char*>(bytes.data()) + 64 * b);

    // The tail: remaining bytes, the 0x80 marker, zeros, and the length in bits as a 64-bit little-endian
    // value. Counting the length in 64 bits keeps inputs of any size correct.
    const size_t rest = bytes.size() - 64 * fullBlocks;
    unsigned char tail[128] = {};
    if (rest) std::memcpy(tail, bytes.data() + 64 * fullBlocks, rest);
    tail[rest] = 0x80;
    const size_t tailLength = rest < 56 ? 64 : 128;
    uint64_t bitLength = static_cast<uint64_t>(bytes.size()) * 8u;
    for (int i = 0; i < 8; ++i) tail[tailLength - 8 + i] = static_cast<unsigned char>(bitLength >> (8 * i));
    for (size_t off = 0; off < tailLength; off += 64) Compress(tail + off);

    return ToText();
  }

 private:
  // Runs the 64 steps over one 64-byte block.
  void Compress(const unsigned char* block) {
    uint32_t words[16];
    for (int i = 0; i < 16; ++i) {
      words[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
                 static_cast<uint32_t>(block[4 * i + 2]) << 16 |
                 static_cast<uint32_t>(block[4 * i + 3]) << 24;
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
      uint32_t mixed;
      int wordIndex;
      switch (i / 16) {
        case 0:
          mixed = F(b, c, d);
          wordIndex = i;
          break;
        case 1:
          mixed = G(b, c, d);
          wordIndex = (5 * i + 1) % 16;
          break;
        case 2:
          mixed = H(b, c, d);
          wordIndex = (3 * i + 5) % 16;
          break;
        default:
          mixed = I(b, c, d);
          wordIndex = (7 * i) % 16;
          break;
      }
      // The common step: add, rotate left, add.
      const uint32_t next =
          b + RotateLeft(a + mixed + kSine[i] + words[wordIndex], kShifts[(i / 16) * 4 + i % 4]);
      a = d;
      d = c;
      c = b;
      b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
  }

  // Each state word, lowest byte first, high nibble before low nibble.
  std::string ToText() const {
    std::string text;
    text.reserve(32);
    for (uint32_t word : state_) {
      for (int byte = 0; byte < 4; ++byte) {
        const unsigned value = (word >> (8 * byte)) & 0xffu;
        text.push_back(kHexDigits[value >> 4]);
        text.push_back(kHexDigits[value & 0x0fu]);
      }
    }
    return text;
  }

  uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  return TMd5Digest().Digest(bytes);
}
