// The session jar: cookie file lines read and written back, and adding, replacing and removing cookies.
#include "net/cookiejar.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "core/wholefile.h"
#include "tests/support/testfolder.h"

namespace {

TEST(CookieLine, ReadsWhatBrowsersAndCurlWriteAndRefusesTheRest) {
  struct Case {
    std::string line;
    bool cookie;
    bool httpOnly = false, subdomains = false, secure = false;
  } cases[] = {
      {"127.0.0.1\tFALSE\t/\tFALSE\t1796815430\tuin\to10060", true, false, false, false},
      {"#HttpOnly_.qq.com\tTRUE\t/a\tTRUE\t0\tp_skey\tx y", true, true, true, true},
      {"host\tFALSE\t/\tFALSE\t0\tn\t", true, false, false, false},     // an empty value is a value
      {"host\tFALSE\t/\tFALSE\t0\tn\tv\r", true, false, false, false},  // CR LF files
      {"# Netscape HTTP Cookie File", false},
      {"", false},
      {"host FALSE / FALSE 0 n v", false},            // spaces, not tabs
      {"host\tFALSE\t/\tFALSE\t0\tn", false},         // six fields
      {"host\tmaybe\t/\tFALSE\t0\tn\tv", false},      // not a flag
      {"host\tFALSE\tpath\tFALSE\t0\tn\tv", false},   // a path begins with "/"
      {"host\tFALSE\t/\tFALSE\tsoon\tn\tv", false},   // not a time
      {"host\tFALSE\t/\tFALSE\t0\tn\tv\x01", false},  // a control character
  };
  for (const auto& c : cases) {
    Cookie cookie;
    ASSERT_EQ(ParseCookieLine(c.line, cookie), c.cookie) << c.line;
    if (!c.cookie) continue;
    EXPECT_EQ(cookie.httpOnly, c.httpOnly) << c.line;
    EXPECT_EQ(cookie.includeSubdomains, c.subdomains) << c.line;
    EXPECT_EQ(cookie.secure, c.secure) << c.line;
    Cookie again;
    ASSERT_TRUE(ParseCookieLine(CookieLine(cookie), again));
    EXPECT_EQ(CookieLine(again), CookieLine(cookie));
  }
}

TEST(CookieJar, AddsReplacesRemovesAndSavesForTheOwnerOnly) {
  CookieJar jar;
  Cookie a;
  a.domain = "127.0.0.1";
  a.name = "p_skey";
  a.value = "one";
  a.httpOnly = true;
  jar.Add(a);
  a.value = "two";  // the same name, domain and path: replaced
  jar.Add(a);
  Cookie b = a;
  b.domain = "localhost";
  jar.Add(b);
  Cookie old = a;
  old.name = "gone";
  old.expires = 1000;  // long expired: never held
  jar.Add(old);
  auto all = jar.All();
  ASSERT_EQ(all.size(), 2u);
  jar.Remove("localhost", "/", "p_skey");
  all = jar.All();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].value, "two");
  EXPECT_TRUE(all[0].httpOnly);

  TestFolder dir;
  const std::string path = dir.path() + "out.txt";
  WriteWholeFile(path, jar.FileText(), 0600);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  CookieJar back;
  back.LoadFile(path);
  ASSERT_EQ(back.All().size(), 1u);
  EXPECT_EQ(CookieLine(back.All()[0]), CookieLine(all[0]));
  EXPECT_EQ(dir.Tree(), std::vector<std::string>{"out.txt"});  // no temporary left
}

}  // namespace
