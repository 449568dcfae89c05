// The signed visitor cookie of `zelto serve`: a visitor whose session is gone
// (the host restarted) continues the same conversation; a cookie that was
// altered, or signed by another site, gets nobody's identity.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

std::string Post(LoopbackHttpClient& client, const std::string& page, int cid,
                 const std::string& text, const std::string& token = "") {
  const HttpReply reply =
      client.Get(page + "?cid=" + std::to_string(cid) + "&action=sub&msgContent=" + text +
                 (token.empty() ? "" : "&token=" + token));
  EXPECT_EQ(reply.status, 200) << page << " " << text << " " << reply.body;
  return reply.body;
}

std::vector<std::string> Column(SeededDatabase& db, const std::string& sql,
                                const std::string& column) {
  std::vector<std::string> values;
  for (const SeededRow& row : db.Query("chat", sql)) values.push_back(row.at(column));
  return values;
}

TEST(ServeVisitorCookieTest, VisitorContinuesAfterTheHostRestarts) {
  ServedSite site;
  auto visitor = site.Client();
  const HttpReply first = visitor->Get("/site/index.html");
  ASSERT_EQ(first.set_cookies.size(), 2u);
  EXPECT_TRUE(std::regex_match(
      first.set_cookies[1],
      std::regex("ZVISITOR=V[0-9a-f]{8}[0-9]{17}\\.[0-9a-f]{64}; Path=/; Max-Age=86400; "
                 "HttpOnly; SameSite=Lax")))
      << first.set_cookies[1];
  const std::string label = visitor->cookies()["ZVISITOR"].substr(0, 26);
  const int cid = ServedSite::OpenChat(*visitor);
  ASSERT_GT(cid, 1);
  const std::string c = std::to_string(cid);
  Post(*visitor, "/visitor/DoClientMsg.asp", cid, "before");

  EXPECT_EQ(site.Restart(), 0) << site.process().Output();
  EXPECT_TRUE(
      Column(site.db(), "select cstLabel from onlineCst where cstLabel='" + label + "'", "cstLabel")
          .empty())
      << "the stop ended the visitor's session";

  // The browser still holds the old, now unknown, session id and the cookie.
  LoopbackHttpClient back(site.port());
  back.cookies() = visitor->cookies();
  visitor.reset();
  LoopbackHttpClient op(site.port());
  const std::string token = ServedSite::Login(op, 5, "demo5");
  Post(back, "/visitor/DoClientMsg.asp", cid, "after");
  EXPECT_NE(op.Get("/operator/GetUserMsg.asp?cid=" + c).body.find("after"), std::string::npos);
  Post(op, "/operator/DoUserMsg.asp", cid, "answer", token);
  EXPECT_NE(back.Get("/visitor/GetClientMsg.asp?cid=" + c).body.find("answer"), std::string::npos);
  EXPECT_EQ(ServedSite::OpenChat(back), cid) << "the running chat, not a new one";
  EXPECT_EQ(back.Get("/site/about.html").status, 200);

  EXPECT_EQ(Column(site.db(), "select msgContent from msg where conid=" + c + " order by msgID",
                   "msgContent"),
            (std::vector<std::string>{"before", "after", "answer"}));
  // The visitor is online once again, chatting; the visit is not recorded twice.
  EXPECT_EQ(Column(site.db(), "select beChatting from onlineCst where cstLabel='" + label + "'",
                   "beChatting"),
            std::vector<std::string>{"1"});
}

TEST(ServeVisitorCookieTest, AlteredOrForeignCookiesGetNobodysIdentity) {
  ServedSite site;
  ServedSite other_site;
  auto victim = site.Client();
  site.Visit(*victim);
  const int cid = ServedSite::OpenChat(*victim);
  ASSERT_GT(cid, 1);
  Post(*victim, "/visitor/DoClientMsg.asp", cid, "private");
  const std::string genuine = victim->cookies()["ZVISITOR"];
  const size_t dot = genuine.find('.');
  ASSERT_NE(dot, std::string::npos);
  const std::string label = genuine.substr(0, dot), mac = genuine.substr(dot + 1);

  auto attacker = site.Client();
  site.Visit(*attacker);
  const std::string own = attacker->cookies()["ZVISITOR"];
  auto stranger = other_site.Client();
  other_site.Visit(*stranger);
  const std::string foreign = stranger->cookies()["ZVISITOR"];
  std::string flipped = mac;
  flipped.back() = flipped.back() == '0' ? '1' : '0';

  const struct {
    const char* what;
    std::string cookie;
    std::string label;  // the label the cookie names
  } cases[] = {
      {"victim's label, attacker's MAC", label + own.substr(own.find('.')), label},
      {"one MAC digit changed", label + "." + flipped, label},
      {"no MAC", label, label},
      {"empty MAC", label + ".", label},
      {"MAC with more after it", genuine + "0", label},
      {"signed by another site", foreign, foreign.substr(0, foreign.find('.'))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    LoopbackHttpClient forger(site.port());
    forger.cookies()["ZVISITOR"] = c.cookie;
    EXPECT_EQ(forger.Get("/visitor/GetClientMsg.asp?cid=" + std::to_string(cid)).status, 403);
    // A page of the site makes a visitor of the forger, under a new label.
    EXPECT_EQ(forger.Get("/site/index.html").status, 200);
    const std::string given = forger.cookies()["ZVISITOR"];
    EXPECT_NE(given.substr(0, given.find('.')), c.label);
    // ...who is no member of the victim's conversation.
    const HttpReply read = forger.Get("/visitor/GetClientMsg.asp?cid=" + std::to_string(cid));
    EXPECT_EQ(read.status, 403);
    EXPECT_EQ(read.Header("x-zelto-hresult"), "") << "the component never ran";
  }
  EXPECT_EQ(
      Column(site.db(), "select count(*) as n from cstTrack where cstLabel='" + label + "'", "n"),
      std::vector<std::string>{"1"})
      << "no page view was counted as the victim's";
}

}  // namespace
}  // namespace zelto::testing
