#include "machine/md5unit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Md5Case {
  std::string input;
  const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
TEST(Md5Hex, MatchesTheRfc1321Suite) {
  const Md5Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.input), c.digest) << "input \"" << c.input << "\"";
}

// 55 bytes still fit the length into the same block, 56 need a second one; 63/64/65 cross a full block.
TEST(Md5Hex, PaddingBoundaries) {
  const Md5Case cases[] = {
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(57, 'a'), "652b906d60af96844ebd21b674f35e93"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(119, 'a'), "8a7bd0732ed6a28ce75f6dabc90e1613"},
      {std::string(120, 'a'), "5f61c0ccad4cac44c75ff505e1f1e537"},
      {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.input), c.digest) << c.input.size() << " bytes";
}

// Bytes above 0x7f and zero bytes are hashed as bytes: no sign extension, no stop at a terminator.
TEST(Md5Hex, HashesRawBytes) {
  EXPECT_EQ(Md5Hex(std::string("\xff\x80\x00\x01", 4)), "883e2d326d4e7e9c5113416474a914bb");
  EXPECT_EQ(Md5Hex(std::string(1, '\0')), "93b885adfe0da089cdf634904fd59f71");
  EXPECT_NE(Md5Hex(std::string("a\0b", 3)), Md5Hex("a"));
  // UTF-8 text of a typical album name.
  EXPECT_EQ(Md5Hex("\xe7\x9b\xb8\xe5\x86\x8c"), "5145e5be167687d3478142ba74ea60f3");
}

TEST(Md5Hex, LongInputSpanningManyBlocks) {
  EXPECT_EQ(Md5Hex(std::string(1000000, 'a')), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Md5Hex, AlwaysThirtyTwoLowerCaseDigits) {
  for (size_t n = 0; n < 200; n += 7) {
    const std::string digest = Md5Hex(std::string(n, static_cast<char>(n)));
    ASSERT_EQ(digest.size(), 32u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
  }
}

}  // namespace
