// Telling a photo from what servers answer instead of one, by its first bytes.
#include "core/imagecheck.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/testfolder.h"

namespace {

using namespace std::string_literals;

TEST(ImageCheck, RecognisesImageFormatsByTheirFirstBytes) {
  struct Case {
    std::string head;
    const char* kind;
  } cases[] = {
      {"\xFF\xD8\xFF\xE0\x00\x10JFIF"s, "jpeg"},
      {"\xFF\xD8\xFF\xDB"s, "jpeg"},
      {"GIF89a\x28\x00"s, "gif"},
      {"GIF87a"s, "gif"},
      {"\x89PNG\r\n\x1A\n\0\0\0\rIHDR"s, "png"},
      {"RIFF\x24\0\0\0WEBPVP8 "s, "webp"},
      {"BM\x36\x00\x0C\x00\0\0\0\0\x36\0"s, "bmp"},
      {"\0\0\0\x1C"
       "ftypavif"s,
       "avif"},
      {"\0\0\0\x18"
       "ftypheic"s,
       "heif"},
      {"\0\0\0\x18"
       "ftypmif1"s,
       "heif"},
      // What servers answer instead of a photo:
      {"<!DOCTYPE html><html>", ""},
      {"<html><body>404</body>", ""},
      {"{\"error\":\"busy\"}", ""},
      {"", ""},
      {"\xFF\xD8"s, ""},                // too short to tell
      {"GIF88a", ""},                   // not a version that exists
      {"\x89PNG\r\n\x1A"s, ""},         // signature cut short
      {"RIFF\x24\0\0\0WAVEfmt "s, ""},  // a sound file
      {"BMW is a car brand", ""},       // text that starts with BM
      {"\0\0\0\x18"
       "ftypmp42"s,
       ""},  // a video
  };
  for (const auto& c : cases) EXPECT_EQ(ImageKind(c.head), c.kind) << c.head;

  TestFolder dir;
  EXPECT_TRUE(IsImageFile(dir.Write("a.jpg", "\xFF\xD8\xFF\xE0 and the rest"s)));
  EXPECT_FALSE(IsImageFile(dir.Write("b.jpg", "<html>")));
  EXPECT_FALSE(IsImageFile(dir.Write("c.jpg", "")));
  EXPECT_FALSE(IsImageFile(dir.path() + "missing.jpg"));
}

}  // namespace
