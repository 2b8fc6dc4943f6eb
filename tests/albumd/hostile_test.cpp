// The accounts that misbehave on the wire (extra bytes past a reply, replies that trickle, never end or
// promise too much, lists that get no answer) and those whose names and ids carry awkward characters.
// What matters here is the bytes albumd really sends, so most tests read a plain socket.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "tests/albumd/fetch.h"
#include "tools/albumd/testing/albumdprocess.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class TempData {
 public:
  TempData() : path_(CopyDataDirToTemp()) {}
  ~TempData() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }
  void Write(const std::string& qq, const std::string& text) const {
    std::ofstream(path_ + "/accounts/" + qq + ".ini", std::ios::binary) << text;
  }

 private:
  std::string path_;
};

class AlbumdHostile : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { albumd_ = AlbumdProcess::Start().release(); }
  static void TearDownTestSuite() {
    delete albumd_;
    albumd_ = nullptr;
  }
  static std::string Url(const std::string& target) { return "http://" + albumd_->HostPort() + target; }
  static std::string ListTarget(const std::string& qq, const std::string& id) {
    return "/fcgi-bin/fcg_list_photo?uin=" + qq + "&albumid=" + id;
  }
  static XmlDoc Photos(const std::string& qq, const std::string& id) {
    return ReadXml(Fetch(Url(ListTarget(qq, id))).body, "pic");
  }
  static std::string Utf8(const std::string& gbk) {
    std::string out;
    EXPECT_TRUE(Convert(gbk, "GBK", "UTF-8", out));
    return out;
  }

  static AlbumdProcess* albumd_;
};
AlbumdProcess* AlbumdHostile::albumd_ = nullptr;

// Each photo of the new accounts has its own image, so a client that stores one photo's bytes under
// another's name is caught by comparing bytes. Only the well-behaved photos can be fetched whole.
TEST_F(AlbumdHostile, EveryPhotoHasItsOwnImage) {
  const std::pair<const char*, std::vector<std::string>> albums[] = {
      {"10046", {"1"}}, {"10047", {"1"}},      {"10048", {"1"}},
      {"10049", {"1"}}, {"10051", {"1", "3"}}, {"10052", {"g", "g%7Ch", "k"}},
      {"10053", {"1"}}, {"10054", {"1"}},
  };
  for (const auto& [qq, ids] : albums) {
    std::set<std::string> seen;
    size_t whole = 0;
    for (const std::string& id : ids) {
      XmlDoc list = Photos(qq, id);
      ASSERT_FALSE(list.items.empty()) << qq << "/" << id;
      for (size_t i = 0; i < list.items.size(); ++i) {
        if (std::string(qq) <= "10049" && i == 1) continue;  // the faulty one
        Fetched photo = Fetch(list.items[i].fields["url"]);
        ASSERT_EQ(photo.status, 200) << qq << "/" << id << " photo " << i;
        EXPECT_TRUE(HasImageMagic(photo.body, list.items[i].fields["phototype"])) << qq << " photo " << i;
        seen.insert(photo.body);
        ++whole;
      }
    }
    EXPECT_EQ(seen.size(), whole) << qq << ": two photos share an image";
  }
}

TEST_F(AlbumdHostile, ExcessSendsASecondResponsePastTheContentLength) {
  const std::string stones = ShippedImage("stones.png");
  const std::string lantern = ShippedImage("lantern.gif");
  const std::string extra =
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(lantern.size()) +
      "\r\n\r\n" + lantern;
  RawConnection conn(albumd_->HostPort());
  ASSERT_TRUE(conn.SendGet("/photos/10046/0/1.png"));
  size_t body = conn.ReadHead(2000);
  ASSERT_GT(body, 0u);
  EXPECT_EQ(conn.Received().rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(RawHeader(conn.Received(), "Content-Length"), std::to_string(stones.size()));
  ASSERT_TRUE(conn.ReadAtLeast(body + stones.size() + extra.size(), 2000));
  EXPECT_EQ(conn.Received().substr(body, stones.size()), stones);
  EXPECT_EQ(conn.Received().substr(body + stones.size()), extra);
  EXPECT_TRUE(albumd_->WaitForLogLine("GET /photos/10046/0/1.png - 200 " +
                                      std::to_string(stones.size() + extra.size())));

  // The connection is still open for a next request, whose true answer comes behind the extra one.
  const std::string meadow = ShippedImage("meadow.jpg");
  const size_t next = conn.Received().size();
  ASSERT_TRUE(conn.SendGet("/photos/10046/0/2.jpg"));
  ASSERT_TRUE(conn.ReadAtLeast(next + meadow.size(), 2000));
  const std::string answer = conn.Received().substr(next);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), meadow);
  EXPECT_FALSE(conn.PeerClosed());
}

TEST_F(AlbumdHostile, DelayedExcessFollowsTheBodyLater) {
  TempData data;
  std::ifstream in(data.path() + "/accounts/10046.ini");
  std::string text(std::istreambuf_iterator<char>(in), {});
  text.replace(text.find("excessimage = lantern.gif"), 25, "excessimage = lantern.gif\nexcessdelay = 400");
  data.Write("10046", text);
  auto albumd = AlbumdProcess::Start({.dataDir = data.path()});
  const size_t stones = ShippedImage("stones.png").size();

  RawConnection conn(albumd->HostPort());
  ASSERT_TRUE(conn.SendGet("/photos/10046/0/1.png"));
  size_t body = conn.ReadHead(2000);
  ASSERT_GT(body, 0u);
  ASSERT_TRUE(conn.ReadAtLeast(body + stones, 2000));
  auto bodyDone = Clock::now();
  EXPECT_FALSE(conn.ReadAtLeast(body + stones + 1, 200)) << "the extra response came at once";
  ASSERT_TRUE(conn.ReadAtLeast(body + stones + 1, 3000));
  EXPECT_GE(MsSince(bodyDone), 250);
  EXPECT_EQ(conn.Received().substr(body + stones, 17), "HTTP/1.1 200 OK\r\n");
}

TEST_F(AlbumdHostile, DribbleSendsTwoBytesPerSecond) {
  const std::string stones = ShippedImage("stones.png");
  RawConnection conn(albumd_->HostPort());
  ASSERT_TRUE(conn.SendGet("/photos/10047/0/1.png"));
  size_t body = conn.ReadHead(2000);
  ASSERT_GT(body, 0u);
  auto start = Clock::now();
  EXPECT_EQ(RawHeader(conn.Received(), "Content-Length"), std::to_string(stones.size()));
  // Byte k is due k/2 seconds after the first: the fourth after about 1.5 s.
  ASSERT_TRUE(conn.ReadAtLeast(body + 4, 4000));
  auto took = MsSince(start);
  EXPECT_GE(took, 1000);
  EXPECT_LE(took, 3500);
  EXPECT_LE(conn.Received().size(), body + 5);
  EXPECT_EQ(conn.Received().substr(body, 4), stones.substr(0, 4));
  EXPECT_TRUE(albumd_->WaitForLogLine("GET /photos/10047/0/1.png - 200 " + std::to_string(stones.size())));
}

TEST_F(AlbumdHostile, EndlessSendsTheImageThenZerosInChunks) {
  const std::string stones = ShippedImage("stones.png");
  RawConnection conn(albumd_->HostPort());
  ASSERT_TRUE(conn.SendGet("/photos/10048/0/1.png"));
  size_t body = conn.ReadHead(2000);
  ASSERT_GT(body, 0u);
  EXPECT_EQ(RawHeader(conn.Received(), "Transfer-Encoding"), "chunked");
  EXPECT_EQ(RawHeader(conn.Received(), "Content-Length"), "");
  ASSERT_TRUE(conn.ReadAtLeast(body + stones.size() + (1 << 20), 5000));
  const std::string data = Dechunk(conn.Received().substr(body));
  ASSERT_GT(data.size(), stones.size() + (512 << 10));
  EXPECT_EQ(data.substr(0, stones.size()), stones);
  EXPECT_EQ(data.find_first_not_of('\0', stones.size()), std::string::npos);
  EXPECT_FALSE(conn.PeerClosed());
}

TEST_F(AlbumdHostile, HugeAnnounces10GiBSendsTheImageThenNothing) {
  const std::string stones = ShippedImage("stones.png");
  RawConnection conn(albumd_->HostPort());
  ASSERT_TRUE(conn.SendGet("/photos/10049/0/1.png"));
  size_t body = conn.ReadHead(2000);
  ASSERT_GT(body, 0u);
  EXPECT_EQ(RawHeader(conn.Received(), "Content-Length"), "10737418240");
  ASSERT_TRUE(conn.ReadAtLeast(body + stones.size(), 2000));
  EXPECT_FALSE(conn.ReadAtLeast(body + stones.size() + 1, 400));
  EXPECT_FALSE(conn.PeerClosed());
  EXPECT_EQ(conn.Received().substr(body), stones);
}

// The stalled album list sends no byte, not even a status line, and ends when albumd stops: its wait
// must watch albumd's stopping, not only its own clock (the forced exit would come a second later).
TEST_F(AlbumdHostile, StalledAlbumListSendsNothingAndEndsWhenAlbumdStops) {
  auto albumd = AlbumdProcess::Start();
  RawConnection conn(albumd->HostPort());
  ASSERT_TRUE(conn.SendGet("/fcgi-bin/fcg_list_album?uin=10050&refer=portal"));
  EXPECT_FALSE(conn.ReadAtLeast(1, 600));
  EXPECT_FALSE(conn.PeerClosed());
  EXPECT_TRUE(albumd->WaitForLogLine("GET /fcgi-bin/fcg_list_album uin=10050&refer=portal 0 0"));
  EXPECT_EQ(Fetch("http://" + albumd->HostPort() + "/GetRoute?UIN=10050&type=json&version=2").status, 200);

  auto stopped = Clock::now();
  std::thread stopper([&] { albumd.reset(); });
  EXPECT_TRUE(conn.WaitClosed(3000));
  EXPECT_LE(MsSince(stopped), 800);
  stopper.join();
  EXPECT_TRUE(conn.Received().empty());
}

TEST_F(AlbumdHostile, StalledListsCloseAfterTheirStallTime) {
  TempData data;
  // 54321: the album list stalls for no time at all, album 1's photo list for its own second; 54322: the
  // album takes the account's stall.
  data.Write("54321",
             "[account]\nalbumlist = stall\nstall = 0\n"
             "[album]\nid = 1\nphotolist = stall\nstall = 1\n[photo]\nname = a\n"
             "[album]\nid = 3\n[photo]\nname = c\n");
  data.Write("54322", "[account]\nstall = 1\n[album]\nid = 1\nphotolist = stall\n[photo]\nname = a\n");
  auto albumd = AlbumdProcess::Start({.dataDir = data.path()});
  struct Case {
    std::string target;
    long long atLeastMs;
  };
  const Case cases[] = {
      {"/fcgi-bin/fcg_list_album?uin=54321&refer=portal", 0},
      {"/fcgi-bin/fcg_list_photo?uin=54321&albumid=1", 800},
      {"/cgi-bin/common/cgi_view_album?uin=54322&refer=portal&albumid=1", 800},
  };
  for (const Case& c : cases) {
    RawConnection conn(albumd->HostPort());
    auto start = Clock::now();
    ASSERT_TRUE(conn.SendGet(c.target));
    EXPECT_TRUE(conn.WaitClosed(4000)) << c.target;
    EXPECT_GE(MsSince(start), c.atLeastMs) << c.target;
    EXPECT_LE(MsSince(start), 3000) << c.target;
    EXPECT_TRUE(conn.Received().empty()) << c.target;
  }
  // The album without a stall answers as ever.
  Fetched list = Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_photo?uin=54321&albumid=3");
  EXPECT_EQ(list.status, 200);
  EXPECT_EQ(ReadXml(list.body, "pic").items.size(), 1u);
}

// A reply that holds a server thread must give it back when its client leaves; with all of albumd's 48
// threads taken by abandoned replies of one kind, albumd must still answer the next client.
TEST_F(AlbumdHostile, AbandonedSlowRepliesGiveTheirThreadsBack) {
  constexpr size_t kThreads = 48;
  auto albumd = AlbumdProcess::Start();
  const std::string targets[] = {"/photos/10047/0/1.png", "/photos/10048/0/1.png", "/photos/10049/0/1.png",
                                 "/fcgi-bin/fcg_list_album?uin=10050&refer=portal"};
  for (const std::string& target : targets) {
    const std::string logged = "GET " + target.substr(0, target.find('?')) + " ";
    size_t before = 0;
    for (const std::string& line : albumd->LogLines()) before += line.rfind(logged, 0) == 0;
    std::vector<std::unique_ptr<RawConnection>> conns;
    for (size_t i = 0; i < kThreads; ++i) {
      conns.push_back(std::make_unique<RawConnection>(albumd->HostPort()));
      ASSERT_TRUE(conns.back()->SendGet(target));
    }
    // Every request logged: every thread busy with one.
    size_t taken = 0;
    for (auto deadline = Clock::now() + std::chrono::seconds(5); Clock::now() < deadline;) {
      taken = 0;
      for (const std::string& line : albumd->LogLines()) taken += line.rfind(logged, 0) == 0;
      if (taken - before >= kThreads) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(taken - before, kThreads) << target;
    conns.clear();
    Fetched after = Fetch("http://" + albumd->HostPort() + "/GetRoute?UIN=10001&type=json&version=2",
                          {.timeoutMs = 3000});
    EXPECT_EQ(after.code, CURLE_OK) << target;
    EXPECT_EQ(after.status, 200) << target;
  }
}

TEST_F(AlbumdHostile, BadGbkListBreaksInsideTheFirstPhotoName) {
  Fetched list = Fetch(Url(ListTarget("10051", "2")));
  ASSERT_EQ(list.status, 200);
  std::string scratch;
  EXPECT_FALSE(Convert(list.body, "GB18030", "UTF-8", scratch));
  EXPECT_FALSE(ReadXml(list.body, "pic").ok);

  const size_t bad = list.body.find("\x81\x20");
  ASSERT_NE(bad, std::string::npos);
  EXPECT_EQ(list.body.find("\x81\x20", bad + 1), std::string::npos);
  const size_t name = list.body.find("<pic>\n<name>");
  ASSERT_NE(name, std::string::npos);
  EXPECT_GT(bad, name + 12) << "not inside the text";
  EXPECT_LT(bad + 2, list.body.find("</name>", name)) << "not inside the text";

  // Without those two bytes the document is whole: they are the only fault.
  std::string mended = list.body;
  mended.erase(bad, 2);
  XmlDoc doc = ReadXml(mended, "pic");
  ASSERT_EQ(doc.items.size(), 2u);
  EXPECT_EQ(doc.items[0].fields["name"], "坏字节照片");
  for (const char* id : {"1", "3"}) EXPECT_EQ(Photos("10051", id).items.size(), 2u) << id;
}

TEST_F(AlbumdHostile, IdsWithAVerticalBarAreMatchedExactly) {
  struct Case {
    const char* target;
    long status;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"/fcgi-bin/fcg_list_photo?uin=10052&albumid=g", 200, {"花园", "太阳"}},
      {"/cgi-bin/common/cgi_view_album?uin=10052&refer=portal&albumid=g%7Ch", 200, {"石头", "叶子"}},
      {"/cgi-bin/common/cgi_view_album?uin=10052&refer=portal&albumid=g%7ch", 200, {"石头", "叶子"}},
      {"/fcgi-bin/fcg_list_photo?uin=10052&albumid=k", 200, {"草地"}},
      {"/fcgi-bin/fcg_list_photo?uin=10052&albumid=g%7C", 404, {}},
      {"/fcgi-bin/fcg_list_photo?uin=10052&albumid=h", 404, {}},
      {"/fcgi-bin/fcg_list_photo?uin=10052&albumid=g%7Ch%7C", 404, {}},
  };
  for (const Case& c : cases) {
    Fetched list = Fetch(Url(c.target));
    EXPECT_EQ(list.status, c.status) << c.target;
    if (c.status != 200) continue;
    std::vector<std::string> names;
    for (XmlItem& pic : ReadXml(list.body, "pic").items) names.push_back(pic.fields["name"]);
    EXPECT_EQ(names, c.names) << c.target;
  }

  XmlDoc albums = ReadXml(Fetch(Url("/fcgi-bin/fcg_list_album?uin=10052&refer=portal")).body, "album");
  ASSERT_EQ(albums.items.size(), 3u);
  const std::vector<std::vector<std::string>> expected = {
      {"g", "普通", "1", "2"}, {"g|h", "竖线|相册", "2", "2"}, {"k", "a|b|c", "1", "1"}};
  for (size_t i = 0; i < 3; ++i) {
    auto& f = albums.items[i].fields;
    EXPECT_EQ((std::vector<std::string>{f["id"], f["name"], f["priv"], f["total"]}), expected[i]) << i;
  }
  EXPECT_EQ(albums.items[2].fields["desc"], "x|y");
}

// Control and formatting characters go out as numeric references, never as raw bytes, and read back as
// the characters themselves.
TEST_F(AlbumdHostile, HostileCharactersAreNumericReferences) {
  const std::string albums = Fetch(Url("/fcgi-bin/fcg_list_album?uin=10053&refer=portal")).body;
  const std::string photos = Fetch(Url(ListTarget("10053", "1"))).body;
  const std::string wide = Fetch(Url("/fcgi-bin/fcg_list_album?uin=10054&refer=portal")).body;
  const std::string widePhotos = Fetch(Url(ListTarget("10054", "1"))).body;
  struct Case {
    const std::string* body;
    std::string text;
  };
  const Case cases[] = {
      {&albums, "<name>换行&#10;相册</name>"},
      {&albums, "<desc>制表&#9;说明</desc>"},
      {&photos, "<name>换行&#10;相册</name>"},
      {&photos, "<name>控制&#x9B;[31m红</name>"},
      {&photos, "<name>gpj.exe&#x202E;abc</name>"},
      {&photos, "<name>&#x2066;左&#x2069;&#x2067;右&#x2069;&#x2068;首&#x2069;</name>"},
      {&photos, "<name>&#xFEFF;开头</name>"},
      {&wide, "<name>春游&#x1F600;</name>"},
      {&wide, "<desc>&#x1F389;派对</desc>"},
      {&widePhotos, "<name>&#x1F338;樱花</name>"},
      {&widePhotos, "<name>&#x20000;古字</name>"},
      {&widePhotos, "<name>普通</name>"},
  };
  for (const Case& c : cases) EXPECT_NE(Utf8(*c.body).find(c.text), std::string::npos) << c.text;
  for (const std::string* body : {&albums, &photos}) {
    for (size_t i = 0; i < body->size(); ++i) {
      unsigned char byte = static_cast<unsigned char>((*body)[i]);
      // Line feeds only between elements; no other control byte at all.
      bool fine = byte >= 0x20 ? byte != 0x7F : byte == '\n' && (*body)[i - 1] == '>';
      EXPECT_TRUE(fine) << "byte " << int(byte) << " at " << i;
    }
  }

  std::vector<std::string> names;
  for (XmlItem& pic : ReadXml(photos, "pic").items) names.push_back(pic.fields["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"控制\u009b[31m红", "gpj.exe\u202eabc",
                                             "\u2066左\u2069\u2067右\u2069\u2068首\u2069", "\ufeff开头"}));
  XmlDoc album = ReadXml(albums, "album");
  ASSERT_EQ(album.items.size(), 1u);
  EXPECT_EQ(album.items[0].fields["name"], "换行\n相册");
  EXPECT_EQ(album.items[0].fields["desc"], "制表\t说明");

  names.clear();
  for (XmlItem& pic : ReadXml(widePhotos, "pic").items) names.push_back(pic.fields["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"🌸樱花", "\U00020000古字", "普通"}));
}

// "\u{X}" in a value, and what the reader refuses.
TEST_F(AlbumdHostile, IniEscapesAndNewKeys) {
  TempData data;
  auto albumd = AlbumdProcess::Start({.dataDir = data.path()});
  struct Case {
    std::string lines;  // [account] lines, then the album name line
    std::string name;   // the album name read back, or
    std::string error;  // the message of the 500 reply
  };
  const Case cases[] = {
      {"name = a\\u{41}b\\u{4e2D}", "aAb中", ""},
      {"name = \"\\u{20}x\\u{1F600}\"", " x😀", ""},
      {"name = back\\slash \\u", "back\\slash \\u", ""},
      {"cdata = yes\nname = a\\u{d}\\u{A}b", "a\r\nb", ""},  // no raw controls inside CDATA either
      {"name = \\u{0}", "", "is not a character"},
      {"name = \\u{D800}", "", "is not a character"},
      {"name = \\u{110000}", "", "is not a character"},
      {"name = \\u{}", "", "1 to 6 hex digits"},
      {"name = \\u{1234567}", "", "1 to 6 hex digits"},
      {"name = \\u{12", "", "1 to 6 hex digits"},
      {"name = \\u{xy}", "", "1 to 6 hex digits"},
      {"albumlist = sleepy\nname = x", "", "unknown value \"sleepy\""},
      {"stall = 4000\nname = x", "", "stall takes 0..3600"},
  };
  for (const Case& c : cases) {
    std::string account = c.lines;
    std::string album = account.substr(account.rfind('\n') + 1);
    account.erase(account.size() - album.size());
    data.Write("54321", "[account]\n" + account + "[album]\nid = 1\n" + album + "\n");
    Fetched list = Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=54321&refer=portal");
    if (!c.error.empty()) {
      EXPECT_EQ(list.status, 500) << c.lines;
      EXPECT_NE(list.body.find("54321.ini:"), std::string::npos) << list.body;
      EXPECT_NE(list.body.find(c.error), std::string::npos) << list.body;
      continue;
    }
    XmlDoc doc = ReadXml(list.body, "album");
    ASSERT_EQ(doc.items.size(), 1u) << c.lines << "\n" << list.body;
    EXPECT_EQ(doc.items[0].fields["name"], c.name) << c.lines;
    EXPECT_EQ(list.body.find('\r'), std::string::npos) << c.lines;
  }

  const std::pair<std::string, std::string> photoCases[] = {
      {"serve = excess\nexcessimage = missing.gif", "\"missing.gif\" is not in"},
      {"excessdelay = 600001", "excessdelay takes"},
      {"dribble = 0", "dribble takes"},
      {"serve = trickle", "unknown serve \"trickle\""},
  };
  for (const auto& [lines, error] : photoCases) {
    data.Write("54321", "[album]\nid = 1\n[photo]\n" + lines + "\n");
    Fetched list = Fetch("http://" + albumd->HostPort() + "/fcgi-bin/fcg_list_album?uin=54321&refer=portal");
    EXPECT_EQ(list.status, 500) << lines;
    EXPECT_NE(list.body.find(error), std::string::npos) << list.body;
  }
}

}  // namespace
