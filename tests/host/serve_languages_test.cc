// Every script through `zelto serve` on its default UTF-8 code page: what a
// visitor and an operator type is what is stored and what both sides' pages
// show. The pages' language (Accept-Language, the zlang cookie) reaches the
// component's own texts; a GBK site carries what GBK can and refers to the
// rest by character reference.
#include <gtest/gtest.h>

#include "platform/win/codepage.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

// Every UTF-16 unit as "%uXXXX", as the pages send a message.
std::string Escaped(const std::string& utf8) {
  std::string out;
  char unit[8];
  for (char16_t c : Utf8ToWide(utf8)) {
    std::snprintf(unit, sizeof unit, "%%u%04X", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

const struct {
  const char* script;
  const char* text;
} kTexts[] = {
    {"Latin with diacritics", "Grüße aus Köln: ß, naïve, façade, Ångström"},
    {"Greek", "Καλημέρα κόσμε, ΑΒΓΔ αβγδ"},
    {"Cyrillic", "Здравствуйте, мир! Ёжик"},
    {"Korean", "안녕하세요 세계"},
    {"Arabic, right to left", "مرحبا بالعالم"},
    {"Hindi", "नमस्ते दुनिया"},
    {"Chinese", "你好，世界。繁體字"},
    {"emoji with skin tones, flags and joiners",
     "😀 👍🏽 🇨🇳🇩🇪 👩‍💻 👨‍👩‍👧‍👦 🏳️‍🌈"},
    {"all at once",
     "Grüße Καλημέρα Здравствуйте 안녕 مرحبا नमस्ते 你好 "
     "👩🏾‍🚀🇯🇵"},
};

class ServeLanguagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    op_ = site_.Client();
    token_ = ServedSite::Login(*op_, 5, "demo5");
    visitor_ = site_.Client();
    site_.Visit(*visitor_);
    cid_ = std::to_string(ServedSite::OpenChat(*visitor_));
  }
  std::string LastStored() {
    return site_.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1");
  }

  ServedSite site_;
  std::unique_ptr<LoopbackHttpClient> op_, visitor_;
  std::string token_, cid_;
};

TEST_F(ServeLanguagesTest, EveryScriptArrivesAsTyped) {
  for (const auto& c : kTexts) {
    const std::string message = "&action=sub&adjunct=&msgContent=" + Escaped(c.text);
    const HttpReply echo = visitor_->Get("/visitor/DoClientMsg.asp?cid=" + cid_ + message);
    EXPECT_NE(echo.body.find(c.text), std::string::npos) << c.script << ": " << echo.body;
    EXPECT_EQ(LastStored(), c.text) << c.script;
    const HttpReply seen = op_->Get("/operator/GetUserMsg.asp?cid=" + cid_);
    EXPECT_NE(seen.body.find(c.text), std::string::npos) << c.script << ": " << seen.body;

    const HttpReply answer =
        op_->Get("/operator/DoUserMsg.asp?cid=" + cid_ + message + "&token=" + token_);
    EXPECT_NE(answer.body.find(c.text), std::string::npos) << c.script;
    EXPECT_EQ(LastStored(), c.text) << c.script;
    const HttpReply got = visitor_->Get("/visitor/GetClientMsg.asp?cid=" + cid_);
    EXPECT_NE(got.body.find(c.text), std::string::npos) << c.script << ": " << got.body;
  }
}

TEST_F(ServeLanguagesTest, TheComponentSpeaksThePageLanguage) {
  const std::string post = "/visitor/DoClientMsg.asp?cid=" + cid_ + "&action=sub&msgContent=hi";
  const struct {
    const char* accept_language;
    const char* zlang_cookie;  // "" for none
    const char* expected;
  } cases[] = {
      // The choice itself is PageLanguagesTest's; here it reaches the component.
      {"", "", "我 说："},
      {"en-US,en;q=0.9,zh-CN;q=0.8", "", "Me:"},
      {"en", "zh", "我 说："},
      {"", "en", "Me:"},
  };
  for (const auto& c : cases) {
    LoopbackHttpClient::Headers headers;
    if (*c.accept_language) headers.emplace_back("Accept-Language", c.accept_language);
    if (*c.zlang_cookie) visitor_->cookies()["zlang"] = c.zlang_cookie;
    const HttpReply echo = visitor_->Get(post, headers);
    visitor_->cookies().erase("zlang");
    EXPECT_NE(echo.body.find(c.expected), std::string::npos)
        << c.accept_language << " / " << c.zlang_cookie << ": " << echo.body;
  }
}

TEST_F(ServeLanguagesTest, ThePagesLearnTheirLanguage) {
  const HttpReply english = op_->Get("/i18n/page.js", {{"Accept-Language", "en-GB"}});
  EXPECT_EQ(english.status, 200);
  EXPECT_EQ(english.Header("content-type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(english.Header("cache-control"), "no-cache");
  EXPECT_EQ(english.body.rfind("window.ZeltoPage = {\"language\":\"en\",\"dir\":\"ltr\","
                               "\"charset\":\"utf-8\",",
                               0),
            0u)
      << english.body;
  EXPECT_NE(english.body.find("\"nav.console\":\"Console\""), std::string::npos);
  EXPECT_NE(english.body.find("{\"code\":\"zh\",\"name\":\"中文\"}"), std::string::npos);
  const HttpReply chinese = op_->Get("/i18n/page.js");
  EXPECT_NE(chinese.body.find("\"nav.console\":\"控制台\""), std::string::npos);
}

TEST(ServeGbkLanguagesTest, GbkSiteCarriesWhatGbkCanAndRefersToTheRest) {
  ServedSite site({"--charset", "gbk"});
  auto visitor = site.Client();
  site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  const std::string text = "你好 Grüße 😀";
  const HttpReply echo = visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid +
                                      "&action=sub&adjunct=&msgContent=" + Escaped(text));
  EXPECT_EQ(echo.Header("content-type"), "text/html; charset=gbk");
  // 你好 and ü in GBK bytes, ß and the emoji by reference; the stored text whole.
  EXPECT_NE(echo.body.find("\xC4\xE3\xBA\xC3 Gr\xA8\xB9&#223;e &#128512;"), std::string::npos)
      << echo.body;
  EXPECT_EQ(site.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1"),
            text);
}

}  // namespace
}  // namespace zelto::testing
