// The pages in a real browser: headless Chromium, when it is installed, opens index.html from disk with
// the pages' own policy in force and shows the album names as text; with the network blocked, every
// picture of every page still loads and nothing is fetched from anywhere but the copy.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "core/albummanifest.h"
#include "core/textutil.h"
#include "tests/support/chromiumpipe.h"
#include "tests/viewer/viewertest.h"
#include "viewer/viewer.h"

namespace {

// The DOM of a page after it loaded. The scratch paths hold no quote, so the shell line is safe.

std::string DumpDom(const std::string& chromium, const std::string& profile, const std::string& file) {
  const std::string url = FileUrl(file);
  const std::string command = "timeout 120 " + chromium +
                              " --headless --no-sandbox --disable-gpu --no-first-run --user-data-dir='" +
                              profile + "' --dump-dom '" + url + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  std::string out;
  std::array<char, 4096> buf;
  while (size_t n = fread(buf.data(), 1, buf.size(), pipe)) out.append(buf.data(), n);
  pclose(pipe);
  return out;
}

TEST(ViewerInChromium, EntryPageShowsTheAlbumNamesAsText) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  ScratchRoot scratch;
  const std::string root = scratch.path() + "root/";
  WriteBytes(root + "one/p.jpg", JpegBytes(50, 40));
  WriteBytes(root + "two/p.jpg", JpegBytes(50, 40));
  const std::vector<ViewerAlbum> list{{.folder = "one", .name = "<img src=x id=injected>春游", .priv = "3"},
                                      {.folder = "two",
                                       .name = "\"秋天\" </script>\xe2\x80\xae"
                                               "evil"}};
  BuildViewer(root, list, {});
  const std::string dom = DumpDom(chromium, scratch.path() + "profile", root + "index.html");
  ASSERT_NE(dom.find("<html"), std::string::npos) << "chromium gave no page";
  EXPECT_NE(dom.find("&lt;img src=x id=injected&gt;春游"), std::string::npos) << dom;
  EXPECT_EQ(dom.find("id=\"injected\""), std::string::npos);
  EXPECT_NE(dom.find("\"秋天\" &lt;/script&gt;<span class=\"cc\">U+202E</span>evil"), std::string::npos)
      << dom;
  EXPECT_NE(dom.find("私密"), std::string::npos);
}

TEST(ViewerInChromium, EveryPictureLoadsWithTheNetworkBlocked) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed";
  ScratchRoot scratch;
  const std::string root = scratch.path() + "root/";
  // An album whose manifest names a photo that is gone (a placeholder) beside three that are there.
  AlbumManifest m{"id", "有缺的相册", "", "1", "4", {}};
  for (const std::string file : {"a.jpg", "gone.jpg", "b #2.jpg", "c%.jpg"}) {
    m.photos.push_back({"http://photos.invalid/" + file, file, 100, 1765000000});
    if (file != "gone.jpg") WriteBytes(root + "相册 一/" + file, JpegBytes(500, 300));
  }
  WriteAlbumManifest(root + "相册 一", m);
  WriteBytes(root + "two/p.jpg", JpegBytes(300, 500));
  const ViewerReport report = BuildViewer(root, {}, {});
  ASSERT_EQ(report.placeholders, 1);

  // No name resolves and every connection goes to a closed port: anything that needs the network fails.
  ChromiumPipe browser(chromium, scratch.path() + "profile", kNoNetwork);
  const std::string viewer = root + ".lorvanta-viewer/";
  // Albums by folder name: "two", then "相册 一". The entry page (two covers); the second album's grid
  // (three thumbnails and a placeholder); its large views over the grid: the first photo, the missing one
  // (the placeholder) and the last; the first album's only photo large.
  const std::string second = FileUrl(viewer + "album-0002.html");
  const std::vector<std::pair<std::string, std::string>> pages{
      {FileUrl(root + "index.html"), "2 0 0"},
      {second, "4 0 0"},
      {second + "#p1", "5 0 0"},
      {second + "#p2", "5 0 0"},
      {second + "#p4", "5 0 0"},
      {FileUrl(viewer + "album-0001.html") + "#p1", "2 0 0"}};
  for (const auto& [url, expected] : pages) {
    browser.LoadTimes(url);
    EXPECT_EQ(browser.Pictures(), expected) << url;
  }
}

}  // namespace
