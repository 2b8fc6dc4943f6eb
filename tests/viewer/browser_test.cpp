// The pages in a real browser: headless Chromium, when it is installed, opens index.html from disk with
// the pages' own policy in force and shows the album names as text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <string>

#include "app/textutil.h"
#include "app/viewer/viewer.h"
#include "tests/viewer/viewertest.h"

namespace {

std::string Chromium() {
  for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
    if (access(path, X_OK) == 0) return path;
  return {};
}

// The DOM of a page after it loaded. The scratch paths hold no quote, so the shell line is safe.
std::string DumpDom(const std::string& chromium, const std::string& profile, const std::string& file) {
  std::string url = "file://";
  for (char c : file) url += c == '/' ? std::string("/") : PercentEncode(std::string(1, c));
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
  const std::string chromium = Chromium();
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

}  // namespace
