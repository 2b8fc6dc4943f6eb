// The viewer built over album roots on disk: what the pages link to, what they show, and which thumbnails
// a build makes.
#include "viewer/viewer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

#include "core/albummanifest.h"
#include "core/textutil.h"
#include "tests/viewer/viewertest.h"

namespace {

namespace fs = std::filesystem;

const std::string kScript = "<script>alert(1)</script>";
const std::string kRlo = "\xe2\x80\xae";
const std::string kLineSep = "\xe2\x80\xa8";
const std::string kHostileFolder = "春游 #1?%&amp;";

ManifestPhoto Photo(const std::string& file) {
  return {"http://photos.invalid/" + file, file, 100, 1765000000};
}

// An album root with the names the album service and the disk can hand the viewer: markup, quotes,
// "</script>", U+2028 and U+202E in album texts; "#", "?", "%", spaces, quotes, "<" and a byte that is not
// UTF-8 in folder and file names; a failed album without a folder; a folder without a manifest.
struct HostileCopy {
  ScratchRoot scratch;
  std::string root = scratch.path() + "10001的相册/";
  std::vector<ViewerAlbum> list;

  HostileCopy() {
    const std::string album = root + kHostileFolder;
    AlbumManifest m{"id1", "manifest name", "", "3", "5", {}};
    for (const std::string file : {"a#b?.jpg", "100%.jpg", "x y.JPG", "\"q\" <i>.jpg", "gone.jpg"}) {
      if (file != "gone.jpg") WriteBytes(album + "/" + file, JpegBytes(40, 30));
      m.photos.push_back(Photo(file));
    }
    WriteAlbumManifest(album, m);
    WriteBytes(root + "plain/bad\xff name.jpg", JpegBytes(20, 20));
    list.push_back({.folder = album,
                    .name = kScript,
                    .desc = "\"quoted\" </script>" + kLineSep + " " + kRlo + "evil &amp;",
                    .priv = "3",
                    .total = "5"});
    list.push_back({.name = "失败的" + kRlo + "相册",
                    .priv = "2",
                    .total = "9",
                    .failed = true,
                    .failureReason = "photo list: HTTP 500 </script>"});
  }
};

// "http:", "javascript:", "file:" and the like at the start of a link.
bool StartsWithScheme(const std::string& link) {
  size_t i = 0;
  while (i < link.size() && (std::isalnum(static_cast<unsigned char>(link[i])) || link[i] == '+' ||
                             link[i] == '-' || link[i] == '.'))
    ++i;
  return i > 0 && i < link.size() && link[i] == ':' && std::isalpha(static_cast<unsigned char>(link[0]));
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::vector<std::string> Pages(const std::string& root) {
  std::vector<std::string> pages{root + "index.html"};
  for (const auto& e : fs::directory_iterator(root + ".lorvanta-viewer"))
    if (e.path().extension() == ".html") pages.push_back(e.path().string());
  std::sort(pages.begin(), pages.end());
  return pages;
}

TEST(Viewer, EveryLinkIsRelativeAndFindsItsFileAfterTheCopyIsMoved) {
  HostileCopy copy;
  BuildViewer(copy.root, copy.list, {});
  const std::string moved = copy.scratch.path() + "stick/photos/";
  fs::create_directories(moved);
  fs::rename(copy.root, moved + "copy");
  const std::string root = moved + "copy/";
  std::set<std::string> reached;
  for (const std::string& page : Pages(root)) {
    const std::string html = ReadBytes(page);
    const fs::path dir = fs::path(page).parent_path();
    for (const std::string& link : PageLinks(html)) {
      SCOPED_TRACE(page + " -> " + link);
      ASSERT_FALSE(link.empty());
      EXPECT_NE(link[0], '/');
      EXPECT_FALSE(StartsWithScheme(link));
      const size_t hash = link.find('#');
      const std::string path = PercentDecode(link.substr(0, hash));
      const fs::path target = path.empty() ? fs::path(page) : (dir / path).lexically_normal();
      EXPECT_TRUE(fs::is_regular_file(target));
      EXPECT_EQ(target.string().rfind(root, 0), 0u);  // inside the copy
      if (hash != std::string::npos) {
        const std::vector<std::string> ids = PageIds(ReadBytes(target.string()));
        EXPECT_NE(std::find(ids.begin(), ids.end(), link.substr(hash + 1)), ids.end());
      }
      reached.insert(fs::relative(target, root).string());
    }
  }
  for (const std::string file : {"a#b?.jpg", "100%.jpg", "x y.JPG", "\"q\" <i>.jpg"})
    EXPECT_EQ(reached.count(kHostileFolder + "/" + file), 1u) << file;
  EXPECT_EQ(reached.count("plain/bad\xff name.jpg"), 1u);
  EXPECT_EQ(reached.count(kHostileFolder + "/gone.jpg"), 0u);
}

TEST(Viewer, AlbumServiceTextShowsAsTextInUtf8PagesThatLoadNothingFromOutside) {
  HostileCopy copy;
  const ViewerReport report = BuildViewer(copy.root, copy.list, {});
  EXPECT_EQ(report.pages, 4);  // index and three albums: the listed two and "plain"
  for (const std::string& page : Pages(copy.root)) {
    SCOPED_TRACE(page);
    const std::string html = ReadBytes(page);
    EXPECT_TRUE(IsValidUtf8(html));
    const size_t body = html.find("<body");
    EXPECT_LT(html.find("<meta charset=\"utf-8\">"), body);
    EXPECT_LT(html.find("<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src "
                        "'self'; style-src 'self'; script-src 'self';"),
              body);
    EXPECT_EQ(html.find("<script>alert"), std::string::npos);
    EXPECT_EQ(html.find(kRlo), std::string::npos);
    EXPECT_EQ(html.find(kLineSep), std::string::npos);
    // The policy would block inline style and handlers, so the pages must not need them.
    for (const auto& [name, value] : PageAttributes(html))
      EXPECT_TRUE(name != "style" && !name.starts_with("on")) << name << "=" << value;
    // The only script element is the viewer's own, on album pages.
    const size_t scripts = page.ends_with("index.html") ? 0 : 1;
    EXPECT_EQ(Count(html, "<script"), scripts);
    EXPECT_EQ(Count(html, "</script>"), scripts);
  }
  const std::string index = ReadBytes(copy.root + "index.html");
  EXPECT_NE(index.find("<bdi>&lt;script&gt;alert(1)&lt;/script&gt;</bdi>"), std::string::npos);
  EXPECT_NE(index.find("&quot;quoted&quot; &lt;/script&gt;<span class=\"cc\">U+2028</span> <span "
                       "class=\"cc\">U+202E</span>evil &amp;amp;"),
            std::string::npos);
  EXPECT_NE(index.find("HTTP 500 &lt;/script&gt;"), std::string::npos);
  EXPECT_NE(index.find("<li class=\"album priv-3\">"), std::string::npos);
  EXPECT_NE(index.find("<li class=\"album priv-2 failed\">"), std::string::npos);
  EXPECT_NE(index.find("<span class=\"badge priv-3\">私密</span>"), std::string::npos);
  EXPECT_NE(index.find("<span class=\"badge priv-2\">受保护</span><span class=\"badge failed\">失败</span>"),
            std::string::npos);
  EXPECT_NE(index.find("<li class=\"album\">"), std::string::npos);  // "plain": no manifest, no privacy
  const std::string album = ReadBytes(copy.root + ".lorvanta-viewer/album-0001.html");
  EXPECT_NE(album.find("<bdi>&quot;q&quot; &lt;i&gt;</bdi>"), std::string::npos);
  EXPECT_NE(album.find("<title>&lt;script&gt;alert(1)&lt;/script&gt; · 10001的相册</title>"),
            std::string::npos);
  EXPECT_NE(ReadBytes(copy.root + ".lorvanta-viewer/album-0002.html").find("<title>失败的[U+202E]相册 · "),
            std::string::npos);
  EXPECT_NE(ReadBytes(copy.root + ".lorvanta-viewer/album-0003.html").find("bad\xef\xbf\xbd name"),
            std::string::npos);
}

TEST(Viewer, ListedAlbumsComeFirstInListOrderFailedOnesMarkedThenTheOtherFoldersByNameAlsoWhenRebuilt) {
  ScratchRoot scratch;
  const std::string root = scratch.path();
  for (const std::string folder : {"zeta", "beta", "alpha", ".hidden"})
    WriteBytes(root + folder + "/p.jpg", JpegBytes(8, 8));
  auto order = [&](const std::vector<ViewerAlbum>& list) {
    BuildViewer(root, list, {});
    const std::string index = ReadBytes(root + "index.html");
    std::vector<std::string> names;
    const std::string open = "<h2><a href=\"", bdi = "<bdi>";
    for (size_t at = index.find(open); at != std::string::npos; at = index.find(open, at + 1)) {
      const size_t from = index.find(bdi, at) + bdi.size();
      names.push_back(index.substr(from, index.find("</bdi>", from) - from));
    }
    return names;
  };
  const std::vector<ViewerAlbum> list{
      {.folder = "zeta", .name = "Z"},
      {.name = "Gone", .failed = true, .failureReason = "the photo list could not be fetched: timed out"}};
  EXPECT_EQ(order(list), (std::vector<std::string>{"Z", "Gone", "alpha", "beta"}));
  const std::string index = ReadBytes(root + "index.html");
  EXPECT_NE(index.find("<li class=\"album failed\">"), std::string::npos);
  EXPECT_NE(index.find("下载失败：无法获取相片列表（<bdi>timed out</bdi>）"), std::string::npos);
  EXPECT_EQ(index.find("hidden"), std::string::npos);

  // A rebuild without a download keeps what the download listed; fewer albums than before (a folder
  // removed) leave no page or thumbnail of the old ones behind.
  fs::remove_all(root + "alpha");
  EXPECT_EQ(order({}), (std::vector<std::string>{"Z", "Gone", "beta"}));
  EXPECT_EQ(FilesBelow(root + ".lorvanta-viewer").size(),
            4u + 3u + 2u);  // assets and list, pages, thumbnails
  EXPECT_FALSE(fs::exists(root + ".lorvanta-viewer/album-0004.html"));
}

TEST(Viewer, AFolderWithoutManifestShowsItsImageFilesByNameAndIsNamedAfterIt) {
  ScratchRoot scratch;
  const std::string folder = scratch.path() + "我的 旅行/";
  const std::string images = LORVANTA_SOURCE_DIR "/tools/albumd/data/images/";
  WriteBytes(folder + "b.jpg", JpegBytes(10, 10));
  WriteBytes(folder + "a.png", ReadBytes(images + "leaf.png"));
  WriteBytes(folder + "c.gif", ReadBytes(images + "sun.gif"));
  WriteBytes(folder + "notes.txt", "not a photo");
  WriteBytes(folder + ".hidden.jpg", JpegBytes(10, 10));
  WriteBytes(folder + "sub/d.jpg", JpegBytes(10, 10));
  const ViewerReport report = BuildViewer(scratch.path(), {}, {});
  EXPECT_EQ(report.photos, 3);
  EXPECT_EQ(report.thumbnailsMade, 3);
  const std::string page = ReadBytes(scratch.path() + ".lorvanta-viewer/album-0001.html");
  EXPECT_NE(page.find("<h1><bdi>我的 旅行</bdi></h1>"), std::string::npos);
  const size_t a = page.find("<bdi>a</bdi>"), b = page.find("<bdi>b</bdi>"), c = page.find("<bdi>c</bdi>");
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(c, std::string::npos);
  EXPECT_EQ(page.find("notes"), std::string::npos);
}

TEST(Viewer, ThumbnailsAreMadeOnceAndFollowChangedPhotos) {
  ScratchRoot scratch;
  const std::string root = scratch.path();
  for (int i = 0; i < 6; ++i) WriteBytes(root + "album/" + std::to_string(i) + ".jpg", JpegBytes(600, 400));
  const ViewerReport first = BuildViewer(root, {}, {.threads = 3});
  EXPECT_EQ(first.thumbnailsMade, 6);
  EXPECT_EQ(first.thumbnailsReused, 0);
  const std::vector<std::string> thumbs = FilesBelow(root + ".lorvanta-viewer/thumbs");
  ASSERT_EQ(thumbs.size(), 6u);
  EXPECT_EQ(ImageSize(root + ".lorvanta-viewer/thumbs/" + thumbs[0]), std::make_pair(360, 240));

  const ViewerReport second = BuildViewer(root, {}, {});
  EXPECT_EQ(second.thumbnailsMade, 0);
  EXPECT_EQ(second.thumbnailsReused, 6);
  EXPECT_EQ(FilesBelow(root + ".lorvanta-viewer/thumbs"), thumbs);

  WriteBytes(root + "album/2.jpg", JpegBytes(300, 500));
  const ViewerReport third = BuildViewer(root, {}, {});
  EXPECT_EQ(third.thumbnailsMade, 1);
  EXPECT_EQ(third.thumbnailsReused, 5);
  EXPECT_EQ(third.thumbnailsRemoved, 1);
  EXPECT_EQ(FilesBelow(root + ".lorvanta-viewer/thumbs").size(), 6u);

  // Thumbnails are written without flushes: one a power cut left empty is made again, not trusted.
  const std::string emptied =
      root + ".lorvanta-viewer/thumbs/" + FilesBelow(root + ".lorvanta-viewer/thumbs")[0];
  WriteBytes(emptied, "");
  const ViewerReport fourth = BuildViewer(root, {}, {});
  EXPECT_EQ(fourth.thumbnailsMade, 1);
  EXPECT_GT(ImageSize(emptied).first, 0);
}

TEST(Viewer, PhotosThatAreMissingOrNotImagesGetThePlaceholderAndAreNotTriedAgain) {
  ScratchRoot scratch;
  const std::string album = scratch.path() + "album";
  AlbumManifest m{"id", "Album", "", "1", "5", {}};
  for (const std::string file : {"good.jpg", "page.jpg", "gone.jpg", "cut.jpg"})
    m.photos.push_back(Photo(file));
  WriteBytes(album + "/good.jpg", JpegBytes(30, 30));
  WriteAlbumManifest(album, m);
  WriteBytes(album + "/page.jpg", "<html>login first</html>");
  WriteBytes(album + "/cut.jpg", JpegBytes(30, 30).substr(0, 20) + std::string(200, 'x'));
  for (int run = 0; run < 2; ++run) {
    const ViewerReport report = BuildViewer(scratch.path(), {}, {});
    EXPECT_EQ(report.photos, 4);
    EXPECT_EQ(report.placeholders, 3);
    EXPECT_EQ(report.thumbnailsMade, run == 0 ? 1 : 0);
    EXPECT_TRUE(report.notes.empty());
  }
  const std::string page = ReadBytes(scratch.path() + ".lorvanta-viewer/album-0001.html");
  struct Tile {
    int number;
    std::string state;
  } tiles[] = {{1, ""}, {2, "不是图片"}, {3, "文件不在"}, {4, "无法预览"}};
  for (const Tile& t : tiles) {
    const std::string n = std::to_string(t.number);
    const size_t at = page.find("id=\"t" + n + "\"");
    const std::string tile = page.substr(at, page.find("</li>", at) - at);
    EXPECT_EQ(tile.find("placeholder.svg") != std::string::npos, !t.state.empty()) << tile;
    if (!t.state.empty()) {
      EXPECT_NE(tile.find(t.state), std::string::npos) << tile;
    }
  }
  // The large view of the missing photo shows the placeholder and links no file; the one libvips cannot
  // read still offers the file itself, which a browser may show.
  const size_t gone = page.find("id=\"p3\"");
  const std::string goneView = page.substr(gone, page.find("</section>", gone) - gone);
  EXPECT_NE(goneView.find("src=\"placeholder.svg\""), std::string::npos);
  EXPECT_EQ(goneView.find("gone.jpg"), std::string::npos);
  EXPECT_NE(page.find("src=\"../album/cut.jpg\""), std::string::npos);
}

TEST(Viewer, AFolderWhoseManifestCannotBeReadIsShownAsFoundWithANote) {
  ScratchRoot scratch;
  WriteBytes(scratch.path() + "album/b.jpg", JpegBytes(10, 10));
  WriteBytes(scratch.path() + "album/a.jpg", JpegBytes(10, 10));
  WriteBytes(scratch.path() + "album/.lorvanta-album.json", "{\"format\":1,\"photos\":[");
  const ViewerReport report = BuildViewer(scratch.path(), {}, {});
  EXPECT_EQ(report.photos, 2);
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_NE(report.notes[0].find(scratch.path() + "album: the manifest cannot be read"), std::string::npos)
      << report.notes[0];
}

TEST(Viewer, RootsItCannotOrMustNotWriteIntoAreClearErrorsAndStayUntouched) {
  ScratchRoot scratch;
  const std::string plain = scratch.path() + "root";
  const std::string root = plain + "/";
  struct Case {
    std::string what, file, bytes, message;
  } cases[] = {
      {"no root", "", "", "cannot be opened"},
      {"root is a file", "", "x", "is not a folder"},
      {"foreign index.html", "index.html", "<html>my own page</html>", "not made by the album viewer"},
      {"foreign viewer folder", ".lorvanta-viewer/notes.txt", "mine", "not made by the album viewer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(plain);
    if (c.file.empty() && !c.bytes.empty()) WriteBytes(plain, c.bytes);
    if (!c.file.empty()) WriteBytes(root + c.file, c.bytes);
    try {
      BuildViewer(root, {}, {});
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(plain), std::string::npos) << e.what();
    }
    if (!c.file.empty()) {
      EXPECT_EQ(ReadBytes(root + c.file), c.bytes);
      EXPECT_EQ(FilesBelow(root).size(), 1u);
    }
  }
  // Its own index.html and folder are simply rewritten.
  fs::remove_all(plain);
  fs::create_directories(root + "album");
  BuildViewer(root, {}, {});
  EXPECT_NO_THROW(BuildViewer(root, {}, {}));
}

TEST(Viewer, TemporariesOfAKilledBuildGoOnceTheyAreAnHourOld) {
  ScratchRoot scratch;
  const std::string root = scratch.path();
  WriteBytes(root + "album/p.jpg", JpegBytes(8, 8));
  BuildViewer(root, {}, {});
  const std::string viewer = root + ".lorvanta-viewer/";
  const struct {
    std::string file;
    bool old, gone;
  } files[] = {
      {".lorvanta-tmp-a1B2c3", true, true},
      {"thumbs/.lorvanta-tmp-Zz9_x0", true, true},
      {".tmp-q8R7s6", true, true},             // the name older versions gave them
      {".lorvanta-tmp-young1", false, false},  // may be a build running now
      {".lorvanta-tmp-longer1", true, false},
      {".lorvanta-tmp-", true, false},
      {"notes.txt", true, false},
  };
  const auto hoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
  for (const auto& f : files) {
    WriteBytes(viewer + f.file, "left behind");
    if (f.old) fs::last_write_time(viewer + f.file, hoursAgo);
  }
  BuildViewer(root, {}, {});
  for (const auto& f : files) EXPECT_EQ(fs::exists(viewer + f.file), !f.gone) << f.file;
}

}  // namespace
