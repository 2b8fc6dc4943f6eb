#include "gui/webpane.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "gui/mainfrm.h"
#include "gui/pagestore.h"
#include "pageinput.h"
#include "testserver.h"

namespace {

constexpr int kLoadMs = 15000;

// Shows `body` (UTF-8) in a page that carries the album page's two script functions.
std::vector<std::string> PageWith(const std::string& body, const std::string& script = "") {
  return {
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />"
      "<title>页面</title><script>function $(obj){return document.getElementById(obj);}"
      "function cmd(obj,str){try{if($(obj)!==null) return eval(str);}finally{}}" +
          script + "</script></head>",
      "<body>" + body + "</body></html>"};
}

const std::string kLinks =
    "<a id=\"scrolid\" href=\"#\"></a><a id=\"go\" href=\"#GOTO1:/93015_12345/photo/V1\">go</a> "
    "<a id=\"m\" href=\"#mao_1\">m</a><div style=\"height:5000px\"></div><a id=\"mao_1\" name=\"mao_1\"></a>"
    "<div style=\"height:5000px\"></div>";

class WebPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pane = std::make_unique<TWebPane>();
    pane->resize(500, 400);
    pane->show();
    pane->OnBeforeNavigate2 = [this](const QString& address, bool& cancel) {
      seen << address;
      cancel = cancelWhen && cancelWhen(address);
    };
  }
  void TearDown() override { pane.reset(); }

  void Show(const std::vector<std::string>& lines) {
    pane->ShowHtmlPage(AlbumPanePage(lines));
    ASSERT_TRUE(pane->WaitUntilReady(kLoadMs));
  }
  int ScrollY() { return pane->CallPageFunction("cmd", "m", "window.scrollY").toInt(); }
  bool SeenContaining(const QString& text) {
    for (const QString& s : seen)
      if (s.contains(text)) return true;
    return false;
  }

  std::unique_ptr<TWebPane> pane;
  QStringList seen;
  std::function<bool(const QString&)> cancelWhen;
};

TEST_F(WebPaneTest, GbkPageShowsChineseAndMarkupRoundTrips) {
  Show(PageWith("<div id=\"t\">请选择要下载的相册😀</div>"));
  QString markup = pane->PageMarkup();
  EXPECT_TRUE(markup.contains(QString::fromUtf8("<div id=\"t\">请选择要下载的相册😀</div>")))
      << markup.toStdString();
  EXPECT_TRUE(markup.endsWith("\r\n"));
  EXPECT_EQ(pane->CallPageFunction("cmd", "t", "document.characterSet"), "GBK");
  EXPECT_EQ(pane->CallPageFunction("cmd", "t", "$('t').textContent"),
            QString::fromUtf8("请选择要下载的相册😀"));
  EXPECT_TRUE(pane->HasHtmlDocument());
  EXPECT_TRUE(pane->CurrentAddress().startsWith(QString(kWebPaneScheme) + ":"));
  EXPECT_TRUE(seen.isEmpty()) << "showing a generated page is no navigation of the page";
}

TEST_F(WebPaneTest, LargePageLoadsWhole) {
  // Well past what a data address could carry.
  std::string body;
  for (int i = 0; i < 40000; ++i) body += "<p>相册列表" + std::to_string(i) + "</p>";
  Show(PageWith(body, "function count(){return document.getElementsByTagName('p').length;}"));
  EXPECT_EQ(pane->CallPageFunction("count", "", ""), "40000");
}

TEST_F(WebPaneTest, CallPageFunctionGivesTheValueAsText) {
  Show(PageWith("<div id=\"status_0\"></div><input type=\"checkbox\" id=\"check_0\" checked />",
                "function count(){return document.getElementsByTagName('p').length;}"
                "function obj(){return {a:1};}function two(a,b){return a+'|'+b;}"));
  const struct {
    const char* function;
    const char* a;
    const char* b;
    const char* expected;
  } cases[] = {
      {"cmd", "status_0", "$(\"status_0\").innerHTML=\"<b style=\\\"color:red\\\">开始</b>\";",
       "<b style=\"color:red\">开始</b>"},
      {"cmd", "check_0", "$(\"check_0\").checked", "True"},
      {"cmd", "check_0", "$(\"check_0\").checked=false;$(\"check_0\").checked", "False"},
      {"cmd", "check_0", "42", "42"},
      {"cmd", "check_0", "1.5", "1.5"},
      {"cmd", "check_0", "-7", "-7"},
      {"cmd", "missing_9", "42", ""},  // no such element: cmd returns nothing
      {"cmd", "check_0", "null", ""},
      {"cmd", "check_0", "undefined", ""},
      {"cmd", "check_0", "throw new Error('x')", ""},
      {"cmd", "check_0", "syntax error (", ""},
      {"obj", "", "", ""},
      {"nosuchfunction", "", "", ""},
      {"two", "a'\"\\\n", "中", "a'\"\\\n|中"},  // arguments arrive as they were given
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pane->CallPageFunction(c.function, QString::fromUtf8(c.a), QString::fromUtf8(c.b)),
              QString::fromUtf8(c.expected))
        << c.function << " " << c.b;
  }
  EXPECT_EQ(pane->CallPageFunction("cmd", "status_0", "$(\"status_0\").innerHTML"),
            QString::fromUtf8("<b style=\"color:red\">开始</b>"));
}

TEST_F(WebPaneTest, CallPageFunctionOnAPaneDestroyedMeanwhileReturnsEmpty) {
  Show(PageWith("<div id=\"x\"></div>"));
  // The pane goes away while the call waits in its nested loop.
  QTimer::singleShot(0, [this] { pane.reset(); });
  TWebPane* raw = pane.get();
  EXPECT_EQ(raw->CallPageFunction("cmd", "x", "var t=Date.now();while(Date.now()-t<300){}1"), "");
  EXPECT_EQ(pane, nullptr);
}

TEST_F(WebPaneTest, FragmentLinkClickIsCancelledWhenTheHandlerSaysSo) {
  cancelWhen = [](const QString& a) { return a.contains("#GOTO1:"); };
  Show(PageWith(kLinks));
  QString before = pane->CurrentAddress();
  ASSERT_TRUE(ClickInPage(pane.get(), CentreOfElement(pane.get(), "go")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return SeenContaining("#GOTO1:/93015_12345/photo/V1"); }, kLoadMs));
  EXPECT_TRUE(seen.last().startsWith(before)) << "the address is the resolved link";
  QTest::qWait(300);
  EXPECT_EQ(pane->CurrentAddress(), before);
  EXPECT_FALSE(pane->url().hasFragment());
}

TEST_F(WebPaneTest, FragmentLinkClickNotCancelledScrolls) {
  cancelWhen = [](const QString& a) { return a.contains("#GOTO1:"); };
  Show(PageWith(kLinks));
  EXPECT_EQ(ScrollY(), 0);
  ASSERT_TRUE(ClickInPage(pane.get(), CentreOfElement(pane.get(), "m")));
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane->url().fragment() == "mao_1"; }, kLoadMs));
  EXPECT_TRUE(SeenContaining("#mao_1"));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ScrollY() > 1000; }, kLoadMs));
  EXPECT_EQ(seen.count(), 1) << "reported once, not again when the pane carries it out";
}

TEST_F(WebPaneTest, ScriptClickOnFragmentLinksReachesTheHandler) {
  cancelWhen = [](const QString& a) { return a.contains("#GOTO1:"); };
  Show(PageWith(kLinks));
  pane->CallPageFunction("cmd", "go", "$(\"go\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return SeenContaining("#GOTO1:"); }, kLoadMs));
  QTest::qWait(200);
  EXPECT_FALSE(pane->url().hasFragment());

  // The album page's own scroll script: point the hidden link at an anchor and click it.
  pane->CallPageFunction("cmd", "scrolid", "$(\"scrolid\").href=\"#mao_1\";$(\"scrolid\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane->url().fragment() == "mao_1"; }, kLoadMs));
  EXPECT_TRUE(QTest::qWaitFor([&] { return ScrollY() > 1000; }, kLoadMs));
}

TEST_F(WebPaneTest, OrdinaryNavigationsReachTheHandler) {
  const std::string base = TestServer::Instance().Base();
  cancelWhen = [](const QString& a) { return a.contains("/blocked"); };
  QStringList completed;
  pane->OnDocumentComplete = [&](const QString& a) { completed << a; };

  pane->OpenAddress(QString::fromStdString(base + "/blocked"), 3000);
  EXPECT_TRUE(SeenContaining("/blocked"));
  EXPECT_FALSE(pane->CurrentAddress().contains("/blocked"));

  pane->OpenAddress(QString::fromStdString(base + "/open"), kLoadMs);
  EXPECT_TRUE(pane->CurrentAddress().endsWith("/open"));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return completed.contains(QString::fromStdString(base + "/open")); }, kLoadMs));

  // A link to another document on the page is an ordinary navigation too.
  Show(PageWith("<a id=\"l\" href=\"" + base + "/blocked/x\">l</a>"));
  seen.clear();
  pane->CallPageFunction("cmd", "l", "$(\"l\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return SeenContaining("/blocked/x"); }, kLoadMs));
  QTest::qWait(200);
  EXPECT_TRUE(pane->CurrentAddress().startsWith(kWebPaneScheme));
}

// Every written form of a move to another fragment of the shown document reaches the report exactly once,
// before it happens: cancelled, the document stays as it was; let go on, it happens in the same document
// (and scrolls). A move to another document is reported once too, and a link whose click the page itself
// holds back is no navigation at all. Each case ends with a host-opened "#end" of whatever document is
// shown: its report comes after any late second report of the case, and its hash change after any the
// case caused, so the lists below are complete.
TEST_F(WebPaneTest, EveryFormOfAFragmentNavigationIsReportedOnceAndCanBeCancelled) {
  const QString base = QString::fromStdString(TestServer::Instance().Base());
  const QString page = base + "/links?q=1";
  const QString target = page + "#x";
  enum Action { kClick, kScript, kOpen };
  const struct {
    const char* name;
    Action action;
    QString what;      // element to click, script to run in the page, or address to open
    QString reported;  // empty: no report
    bool sameDocument;
  } cases[] = {
      {"fragment link", kClick, "fragment", target, true},
      {"path link", kClick, "path", target, true},
      {"full address link", kClick, "full", target, true},
      {"location.hash", kScript, "location.hash='x'", target, true},
      {"location.href", kScript, "location.href='/links?q=1#x'", target, true},
      {"location", kScript, "location='#x'", target, true},
      {"location.replace", kScript, "location.replace('" + target + "')", target, true},
      {"address opened by the host", kOpen, target, target, true},
      {"link to another document", kClick, "other", base + "/other#x", false},
      {"link the page holds back", kClick, "held", "", true},
  };
  for (bool cancelIt : {false, true}) {
    cancelWhen = [cancelIt](const QString& a) { return cancelIt && a.endsWith("#x"); };
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (cancelIt ? ", cancelled" : ", let go on"));
      // A failed step ends this row only.
      [&] {
        pane->OpenAddress(page);
        ASSERT_TRUE(pane->WaitUntilReady(kLoadMs));
        ASSERT_EQ(pane->CurrentAddress(), page);
        seen.clear();

        switch (c.action) {
          case kClick: {
            ASSERT_TRUE(ClickInPage(pane.get(), CentreOfElement(pane.get(), c.what)));
            break;
          }
          case kScript:
            pane->CallPageFunction("cmd", "x", c.what);
            break;
          case kOpen:
            pane->OpenAddress(c.what);
            break;
        }
        const bool moves = !c.reported.isEmpty() && !cancelIt;
        if (!c.reported.isEmpty()) {
          ASSERT_TRUE(QTest::qWaitFor([&] { return seen.contains(c.reported); }, kLoadMs))
              << seen.join(" ").toStdString();
        }
        if (moves && c.sameDocument) {
          EXPECT_TRUE(QTest::qWaitFor([&] { return pane->url().fragment() == "x"; }, kLoadMs));
          EXPECT_TRUE(QTest::qWaitFor(
              [&] { return pane->CallPageFunction("cmd", "x", "window.scrollY").toInt() > 1000; }, kLoadMs));
        } else if (moves) {
          EXPECT_TRUE(QTest::qWaitFor([&] { return pane->url().path() == "/other"; }, kLoadMs));
          EXPECT_TRUE(pane->WaitUntilReady(kLoadMs));
        } else {
          // A cancelled fragment navigation is stopped in the page before it is reported.
          EXPECT_EQ(pane->CallPageFunction("cmd", "x", "location.href"), page);
        }
        EXPECT_TRUE(pane->WaitUntilReady(kLoadMs)) << "nothing is left to wait for";

        const QString end = pane->url().adjusted(QUrl::RemoveFragment).toString() + "#end";
        pane->OpenAddress(end);
        ASSERT_TRUE(QTest::qWaitFor([&] { return seen.contains(end); }, kLoadMs))
            << seen.join(" ").toStdString();
        const QStringList expected = c.reported.isEmpty() ? QStringList{end} : QStringList{c.reported, end};
        EXPECT_EQ(seen, expected);
        if (c.sameDocument || cancelIt) {
          // Still the document the case began with: it logged the hash changes, and no other.
          const QString hashes = moves ? "#x #end" : "#end";
          EXPECT_TRUE(QTest::qWaitFor(
              [&] { return pane->CallPageFunction("cmd", "x", "hashes.join(' ')") == hashes; }, kLoadMs))
              << pane->CallPageFunction("cmd", "x", "hashes.join(' ')").toStdString();
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return pane->url().fragment() == "end"; }, kLoadMs));
      }();
    }
  }
}

TEST_F(WebPaneTest, OpenAddressRules) {
  pane->OpenAddress("   ");
  QTest::qWait(100);
  EXPECT_TRUE(seen.isEmpty()) << "a blank address does nothing";

  pane->OpenAddress("javascript:document.title='hacked'");
  QTest::qWait(100);
  EXPECT_TRUE(seen.isEmpty());

  QTemporaryDir folder;
  pane->OpenAddress(folder.path());
  ASSERT_TRUE(QTest::qWaitFor([&] { return pane->url().isLocalFile(); }, kLoadMs));
  EXPECT_EQ(QDir(pane->url().toLocalFile()).canonicalPath(), QDir(folder.path()).canonicalPath());
  EXPECT_TRUE(pane->CurrentAddress().startsWith("file:///"));
}

TEST_F(WebPaneTest, WaitUntilReadyEndsOnStopAndOnTimeout) {
  const QString slow = QString::fromStdString(TestServer::Instance().Base() + "/slow");
  pane->OpenAddress(slow);
  QTimer::singleShot(100, pane.get(), [this] { pane->StopLoading(); });
  EXPECT_FALSE(pane->WaitUntilReady(10000));

  pane->OpenAddress(slow);
  EXPECT_FALSE(pane->WaitUntilReady(150));
  EXPECT_TRUE(pane->WaitUntilReady(kLoadMs));  // the same load, waited for to its end

  pane->ShowBlankPage();
  EXPECT_EQ(pane->CurrentAddress(), "about:blank");
  EXPECT_TRUE(pane->WaitUntilReady(0)) << "nothing loading: ready at once";
}

TEST_F(WebPaneTest, HasHtmlDocumentOnlyForHtml) {
  Show(PageWith("x"));
  EXPECT_TRUE(pane->HasHtmlDocument());
  EXPECT_TRUE(pane->PageMarkup().contains("<body>x")) << pane->PageMarkup().toStdString();
  pane->OpenAddress(QString::fromStdString(TestServer::Instance().Base() + "/plain.txt"), kLoadMs);
  EXPECT_FALSE(pane->HasHtmlDocument());
  EXPECT_EQ(pane->PageMarkup(), "");
  pane->ShowBlankPage();
  EXPECT_TRUE(pane->HasHtmlDocument()) << "about:blank is an (empty) HTML document";
}

// A box the user ticks is reported; a script setting one, and a page that logs the report's text
// itself, are not.
TEST_F(WebPaneTest, TickBoxChangesByTheUserAreReported) {
  QStringList ticks;
  pane->OnTickBoxChange = [&](const QString& id, bool checked) { ticks << id + (checked ? "=1" : "=0"); };
  Show(
      PageWith("<input type=\"checkbox\" id=\"check_0\" checked /><input type=\"checkbox\" id=\"check_1\" />"
               "<div id=\"d\"></div>"));
  pane->CallPageFunction("cmd", "d", "console.log('lorvanta-tick:1check_7');$(\"check_0\").checked=false;");
  pane->CallPageFunction("cmd", "check_1", "$(\"check_1\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ticks.isEmpty(); }, kLoadMs));
  pane->CallPageFunction("cmd", "check_0", "$(\"check_0\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks.size() == 2; }, kLoadMs));
  QTest::qWait(100);
  EXPECT_EQ(ticks, (QStringList{"check_1=1", "check_0=1"}));
}

TEST_F(WebPaneTest, ScriptErrorsAndAlertsNeverBlock) {
  QStringList errors, alerts;
  pane->OnScriptError = [&](int, const QString&, const QString& message) { errors << message; };
  pane->OnAlert = [&](const QString& message) { alerts << message; };
  Show(PageWith(
      "<a id=\"a\" href=\"javascript:alert('此相册可能是加密相册，无法访问！')\">a</a><div id=\"d\"></div>",
      "window.onload=function(){undefinedFunction();};"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.isEmpty(); }, kLoadMs));
  EXPECT_TRUE(errors.first().contains("undefinedFunction"));

  pane->CallPageFunction("cmd", "a", "$(\"a\").click();");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.isEmpty(); }, kLoadMs));
  EXPECT_EQ(alerts.first(), QString::fromUtf8("此相册可能是加密相册，无法访问！"));
  // The page runs on at once, while the box is still open.
  EXPECT_EQ(pane->CallPageFunction("cmd", "d", "1+1"), "2");
  auto* box = pane->window()->findChild<QMessageBox*>("webPaneAlert");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_FALSE(box->isModal());
}

TEST_F(WebPaneTest, CtrlLettersOfTheSettingAreSwallowed) {
  Show(PageWith("<div id=\"k\"></div>",
                "document.addEventListener('keydown',function(e){if(e.ctrlKey&&e.key.length===1)"
                "document.getElementById('k').textContent+=e.key.toUpperCase();});"));
  pane->SetDisableCtrlShortcuts("Y");
  pane->setFocus();
  QTest::qWait(50);
  ASSERT_NE(pane->focusProxy(), nullptr);
  QTest::keyClick(pane->focusProxy(), Qt::Key_B, Qt::ControlModifier);
  QTest::keyClick(pane->focusProxy(), Qt::Key_Y, Qt::ControlModifier);
  QTest::keyClick(pane->focusProxy(), Qt::Key_N, Qt::ControlModifier);
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return pane->CallPageFunction("cmd", "k", "$('k').textContent") == "BN"; }, 3000))
      << pane->CallPageFunction("cmd", "k", "$('k').textContent").toStdString();
}

TEST_F(WebPaneTest, ContextMenuSettings) {
  pane->SetContextMenuEnabled(false);
  EXPECT_EQ(pane->contextMenuPolicy(), Qt::NoContextMenu);
  pane->SetContextMenuEnabled(true);
  EXPECT_EQ(pane->contextMenuPolicy(), Qt::DefaultContextMenu);
}

}  // namespace

namespace {

// A generated page that replaces one still loading: the pane waits for the new page and the last document
// it reports is the new one, whatever the engine says about the page it dropped.
TEST_F(WebPaneTest, APageReplacingOneStillLoadingIsTheOneReported) {
  QStringList completed;
  pane->OnDocumentComplete = [&](const QString& address) { completed << address; };
  const struct {
    const char* name;
    std::function<void()> first;
  } cases[] = {
      {"generated page", [&] { pane->ShowHtmlPage(AlbumPanePage(PageWith("<p id=\"a\">first</p>"))); }},
      {"slow web page",
       [&] { pane->OpenAddress(QString::fromStdString(TestServer::Instance().Base() + "/slow")); }},
  };
  for (const auto& c : cases) {
    completed.clear();
    c.first();
    pane->ShowHtmlPage(AlbumPanePage(PageWith("<p id=\"b\">second</p>")));
    ASSERT_TRUE(pane->WaitUntilReady(kLoadMs)) << c.name;
    EXPECT_TRUE(pane->PageMarkup().contains("second")) << c.name;
    ASSERT_TRUE(QTest::qWaitFor([&] { return completed.contains(pane->CurrentAddress()); }, kLoadMs))
        << c.name << " " << completed.join(" ").toStdString();
    QTest::qWait(1700);  // the slow page's reply has come and gone by now
    EXPECT_EQ(completed.last(), pane->CurrentAddress()) << c.name << " " << completed.join(" ").toStdString();
    EXPECT_FALSE(completed.join(" ").contains("/slow")) << c.name;
  }
}

TEST_F(WebPaneTest, FieldValueNeedsNoPageFunction) {
  pane->ShowHtmlPage(AlbumPanePage(std::vector<std::string>{
      "<html><body><input type=\"hidden\" id=\"subhost\" value=\"http://127.0.0.1:1\"><div id=\"d\"></div>",
      "</body></html>"}));
  ASSERT_TRUE(pane->WaitUntilReady(kLoadMs));
  EXPECT_EQ(pane->FieldValue("subhost"), "http://127.0.0.1:1");
  EXPECT_EQ(pane->FieldValue("d"), "") << "an element without a value";
  EXPECT_EQ(pane->FieldValue("missing"), "");
  EXPECT_EQ(pane->FieldValue("');throw 1;('"), "") << "the id is data, not script";
}

}  // namespace
