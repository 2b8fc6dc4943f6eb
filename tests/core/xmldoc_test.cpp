#include "core/xmldoc.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "tests/support/testfolder.h"

namespace {

std::string TextOf(const std::string& inner) {
  XmlDocument doc = XmlDocument::LoadFromMemory("<r>" + inner + "</r>");
  return doc.TopLevel("r").ChildText("e");
}

TEST(XmlDocument, UnreadableTextRule) {
  struct Case {
    const char* inner;
    const char* text;  // null: unreadable
  } cases[] = {
      {"<e>abc</e>", "abc"},
      {"<e>  </e>", "  "},  // blanks are text
      {"<e><![CDATA[x<y]]></e>", "x<y"},
      {"<e>a&amp;b&#x76F8;</e>", "a&b相"},
      {"<e>first</e><e>second</e>", "first"},
      {"<x/><e>v</e>", "v"},
      {"<e></e>", nullptr},
      {"<e/>", nullptr},
      {"<e><![CDATA[]]></e>", nullptr},
      {"<e>a<![CDATA[b]]></e>", nullptr},
      {"<e>a<!--c--></e>", nullptr},
      {"<e><b>x</b></e>", nullptr},
      {"<e><?pi x?></e>", nullptr},
      {"", nullptr},
      {"<E>x</E>", nullptr},  // names are case-sensitive
      {"<?e x?>", nullptr},   // a processing instruction is not the element
  };
  for (const auto& c : cases) {
    if (c.text != nullptr) {
      EXPECT_EQ(TextOf(c.inner), c.text) << c.inner;
    } else {
      EXPECT_THROW(TextOf(c.inner), EXmlUnreadable) << c.inner;
    }
  }
}

TEST(XmlDocument, NodeListsAndNames) {
  XmlDocument doc = XmlDocument::LoadFromMemory(
      "<?xml version=\"1.0\"?><!--top--><data>\n <album/>text<!--c--><![CDATA[d]]><x:album "
      "xmlns:x=\"urn:x\"/></data>");
  ASSERT_TRUE(doc.HasNodes());
  EXPECT_EQ(doc.FirstTopLevel().Name(), "#comment");
  XmlNode data = doc.TopLevel("data");
  ASSERT_TRUE(data.IsElement());
  std::vector<std::string> names;
  for (XmlNode n = data.FirstChild(); n; n = n.Next()) names.push_back(n.Name());
  EXPECT_EQ(names,
            (std::vector<std::string>{"#text", "album", "#text", "#comment", "#cdata-section", "x:album"}));
  EXPECT_FALSE(data.Child("album").Next().Next().Next().Next().Next());
  EXPECT_FALSE(doc.TopLevel("album"));
}

TEST(XmlDocument, GbkOnlyCharactersUnderAGb2312Declaration) {
  TestFolder dir;
  // 镕 (E9 46) and 堃 (88 D2) exist in GBK only; 相册 in GB2312.
  for (const char* declared : {"GB2312", "gb2312", "GBK", "gbk"}) {
    const std::string path = dir.Write(
        "list.xml", std::string("<?xml version=\"1.0\" encoding=\"") + declared +
                        "\"?><data><album><name>\xCF\xE0\xB2\xE1\xE9\x46\x88\xD2</name></album></data>");
    XmlDocument doc = XmlDocument::LoadFromFile(path);
    EXPECT_EQ(doc.TopLevel("data").Child("album").ChildText("name"), "相册镕堃") << declared;
  }
}

TEST(XmlDocument, BadFilesAreTypedErrors) {
  TestFolder dir;
  EXPECT_THROW(XmlDocument::LoadFromFile(dir.path() + "missing.xml"), EXmlDocument);
  EXPECT_THROW(XmlDocument::LoadFromFile(dir.Write("empty.xml", "")), EXmlDocument);
  EXPECT_THROW(XmlDocument::LoadFromFile(dir.path()), EXmlDocument);  // a folder
  for (const char* bytes : {"<data><album>", "not xml at all", "<a></b>", "<a>&undefined;</a>",
                            "\x1f\x8b\x08", "<?xml version=\"1.0\" encoding=\"no-such-charset\"?><a/>",
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xFF</a>"}) {
    EXPECT_THROW(XmlDocument::LoadFromFile(dir.Write("bad.xml", bytes)), EXmlDocument) << bytes;
  }
}

// What a test body writes to stderr while it runs.
template <typename Body>
std::string StderrOf(Body body) {
  TestFolder dir;
  const std::string path = dir.Write("stderr.txt", "");
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int file = ::open(path.c_str(), O_WRONLY | O_TRUNC);
  ::dup2(file, 2);
  ::close(file);
  body();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(XmlDocument, ErrorsReachTheExceptionNotStderrOnAnyThread) {
  const std::string cases[] = {
      "<?xml version=\"1.0\" encoding=\"GB2312\"?><album><pic><name>\x81\x20坏</name></pic></album>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xFF</a>",
      "<a></b>",
  };
  for (const std::string& bytes : cases) {
    std::string message;
    const std::string printed = StderrOf([&] {
      // The worker thread is new: whatever the first thread set up must not be what keeps it quiet.
      std::thread worker([&] {
        try {
          XmlDocument::LoadFromMemory(bytes);
        } catch (const EXmlDocument& e) {
          message = e.what();
        }
      });
      worker.join();
    });
    EXPECT_EQ(printed, "") << bytes.substr(0, 60);
    EXPECT_NE(message.find("not well-formed XML"), std::string::npos)
        << bytes.substr(0, 60) << ": " << message;
  }
  // A text node past the parser's own size limit: read whole or refused, never cut short, never printed.
  const std::string huge(11 * 1024 * 1024, 'x');
  size_t read = 0;
  bool refused = false;
  const std::string printed = StderrOf([&] {
    std::thread worker([&] {
      try {
        read = XmlDocument::LoadFromMemory("<a><b>" + huge + "</b></a>").TopLevel("a").ChildText("b").size();
      } catch (const EXmlDocument&) {
        refused = true;
      }
    });
    worker.join();
  });
  EXPECT_EQ(printed, "");
  EXPECT_TRUE(refused || read == huge.size()) << read;
}

TEST(XmlDocument, EntitiesAreNeverSubstituted) {
  TestFolder dir;
  const std::string secret = dir.Write("secret.txt", "SECRET");
  XmlDocument doc =
      XmlDocument::LoadFromMemory("<!DOCTYPE r [<!ENTITY in \"inner\"><!ENTITY ext SYSTEM \"file://" +
                                  secret + "\">]><r><e>&in;</e><f>&ext;</f></r>");
  EXPECT_THROW(doc.TopLevel("r").ChildText("e"), EXmlUnreadable);
  EXPECT_THROW(doc.TopLevel("r").ChildText("f"), EXmlUnreadable);

  // Nested entities (the "billion laughs"): either refused or left unexpanded, and quickly.
  std::string laughs = "<!DOCTYPE r [<!ENTITY a0 \"lol\">";
  for (int i = 1; i < 10; ++i) {
    laughs += "<!ENTITY a" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&a" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><r><e>&a9;</e></r>";
  try {
    XmlDocument bomb = XmlDocument::LoadFromMemory(laughs);
    EXPECT_THROW(bomb.TopLevel("r").ChildText("e"), EXmlUnreadable);
  } catch (const EXmlDocument&) {
  }
}

TEST(XmlDocument, NoNetworkForExternalDtdOrEntities) {
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(getsockname(server, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  ASSERT_EQ(listen(server, 4), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x.dtd";

  const std::string doc1 = "<!DOCTYPE r SYSTEM \"" + url + "\"><r><e>ok</e></r>";
  EXPECT_EQ(XmlDocument::LoadFromMemory(doc1).TopLevel("r").ChildText("e"), "ok");
  const std::string doc2 = "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + url + "\">]><r><e>&x;</e></r>";
  EXPECT_THROW(XmlDocument::LoadFromMemory(doc2).TopLevel("r").ChildText("e"), EXmlUnreadable);

  fcntl(server, F_SETFL, O_NONBLOCK);
  EXPECT_LT(accept(server, nullptr, nullptr), 0) << "the parser connected to the network";
  close(server);
}

TEST(PhotoList, UsableListsAndEntryReads) {
  struct Case {
    const char* xml;
    bool usable;
  } lists[] = {
      {"<album><pic/></album>", true},
      {"<!--c--><album>x<pic/></album>", true},
      {"<data><pic/></data>", false},
      {"<album><picture/></album>", false},
      {"<album/>", false},
  };
  for (const auto& c : lists) {
    XmlDocument doc = XmlDocument::LoadFromMemory(c.xml);
    EXPECT_EQ(static_cast<bool>(FirstPhotoNode(doc)), c.usable) << c.xml;
  }

  XmlDocument doc = XmlDocument::LoadFromMemory(
      "<album><pic><name> a b </name><url> http://h/1.jpg </url><phototype>2</phototype></pic>"
      "<pic><name>n</name><phototype>1</phototype></pic>"
      "<pic><name> </name><url> </url><phototype>3</phototype></pic>"
      "<pic><url>u</url><phototype>1</phototype></pic>"
      "<pic><name>n</name><url></url><phototype>1</phototype></pic></album>");
  XmlNode pic = FirstPhotoNode(doc);
  auto first = ReadPhotoEntry(pic);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->name, "a b");
  EXPECT_EQ(first->url, "http://h/1.jpg");
  EXPECT_EQ(first->phototype, "2");
  EXPECT_FALSE(ReadPhotoEntry(pic.Next()));  // no url
  auto blanks = ReadPhotoEntry(pic.Next().Next());
  ASSERT_TRUE(blanks);  // blank texts are readable and trim to empty
  EXPECT_EQ(blanks->name, "");
  EXPECT_EQ(blanks->url, "");
  EXPECT_FALSE(ReadPhotoEntry(pic.Next().Next().Next()));         // no name
  EXPECT_FALSE(ReadPhotoEntry(pic.Next().Next().Next().Next()));  // empty url
  EXPECT_FALSE(ReadPhotoEntry(XmlNode()));
}

}  // namespace
