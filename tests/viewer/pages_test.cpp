// What the pages say about an album that failed: the download's reasons in the pages' language.
#include "viewer/pages.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ChineseFailureReason, KnownReasonsAreTranslatedAndTheirDetailKept) {
  const struct {
    std::string reason;
    FailureWords words;
  } cases[] = {
      {"the photo list holds no photo", {"相片列表中没有相片", ""}},
      {"the photo list could not be fetched: HTTP 404", {"无法获取相片列表", "HTTP 404"}},
      {"the photo list cannot be read: line 1: Start tag expected",
       {"无法读取相片列表", "line 1: Start tag expected"}},
      {"cannot create the folder /copy/10001的相册/: No space left on device",
       {"无法创建相册文件夹", "/copy/10001的相册/: No space left on device"}},
      {"cannot write /copy/a/.lorvanta-album.json: Disk quota exceeded",
       {"无法写入相册文件夹", "/copy/a/.lorvanta-album.json: Disk quota exceeded"}},
      {"cannot write the journal: No space left on device",
       {"无法写入相册文件夹", "No space left on device"}},
      {"no free album folder name", {"找不到可用的相册文件夹名", ""}},
      // Anything else is said in general words, the text as it came kept beside them.
      {"timed out", {"相册未能保存", "timed out"}},
      {"The photo list holds no photo", {"相册未能保存", "The photo list holds no photo"}},
      {"the photo list could not be fetched", {"相册未能保存", "the photo list could not be fetched"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ChineseFailureReason(c.reason), c.words) << c.reason;
}

}  // namespace
