// The chat on a company's own site, tried as that site and as others would:
// only the listed origin gets CORS answers and may record visits; the
// visitor is known by the signed header, never by a forged one.
#include <gtest/gtest.h>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

constexpr char kShop[] = "https://shop.example";
constexpr char kEvil[] = "https://evil.example";

class ServeEmbeddingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.db().Execute("chat", "insert into companyOrigin (companyId, origin) values (1, '" +
                                   std::string(kShop) + "')");
  }
  long Count(const std::string& table) {
    return std::stol(site_.db().Scalar("chat", "select count(*) from " + table));
  }
  // A page view reported by the snippet; the answer.
  HttpReply Visit(LoopbackHttpClient& client, const std::string& origin,
                  const std::string& visitor = "", const std::string& company = "1") {
    LoopbackHttpClient::Headers headers = {{"Origin", origin}, {"Sec-Fetch-Site", "cross-site"}};
    if (!visitor.empty()) headers.emplace_back("X-Zelto-Visitor", visitor);
    return client.Post("/api/visitor/visit?company=" + company,
                       "page=" + origin + "%2Fprices&referrer=https%3A%2F%2Fsearch.example%2F%3Fq%3Dchat",
                       headers);
  }
  // The real pages: the chat pages' framing rule is tried on them.
  ServedSite site_{{"--www", ZELTO_SOURCE_DIR "/host/www"}};
};

TEST_F(ServeEmbeddingTest, PreflightAnswersOnlyTheListedOrigin) {
  auto client = site_.Client();
  const auto preflight = [&](const std::string& origin) {
    return client->SendRaw("OPTIONS /api/visitor/invitation?company=1 HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Origin: " + origin + "\r\nAccess-Control-Request-Method: GET\r\n"
                           "Access-Control-Request-Headers: x-zelto-visitor\r\n\r\n");
  };
  const HttpReply listed = preflight(kShop);
  EXPECT_EQ(listed.status, 204);
  EXPECT_EQ(listed.Header("access-control-allow-origin"), kShop);
  EXPECT_NE(listed.Header("access-control-allow-headers").find("X-Zelto-Visitor"), std::string::npos);
  EXPECT_EQ(listed.Header("access-control-allow-credentials"), "");
  for (const std::string origin : {std::string(kEvil), std::string("null"), std::string(kShop) + ".evil"}) {
    const HttpReply refused = preflight(origin);
    EXPECT_EQ(refused.status, 403) << origin;
    EXPECT_EQ(refused.Header("access-control-allow-origin"), "") << origin;
  }
}

TEST_F(ServeEmbeddingTest, AForeignOriginRecordsNothing) {
  auto client = site_.Client();
  const long visitors = Count("onlineCst"), tracks = Count("cstTrack");
  const long conversations = Count("conversation");
  for (const HttpReply& reply : {Visit(*client, kEvil), Visit(*client, kShop, "", "2"),
                                 Visit(*client, kShop, "", "x")}) {
    EXPECT_GE(reply.status, 400);
    EXPECT_EQ(reply.Header("access-control-allow-origin"), "");
    EXPECT_TRUE(reply.set_cookies.empty());
  }
  const HttpReply chat = client->Post("/api/visitor/chat?company=1", "",
                                      {{"Origin", kEvil}, {"Sec-Fetch-Site", "cross-site"}});
  EXPECT_EQ(chat.status, 403);
  EXPECT_EQ(Count("onlineCst"), visitors);
  EXPECT_EQ(Count("cstTrack"), tracks);
  EXPECT_EQ(Count("conversation"), conversations);
}

TEST_F(ServeEmbeddingTest, TheHeaderKeepsTheVisitorAcrossPagesWithoutCookies) {
  auto first_page = site_.Client();
  const HttpReply first = Visit(*first_page, kShop);
  ASSERT_EQ(first.status, 200) << first.body;
  EXPECT_EQ(first.Header("access-control-allow-origin"), kShop);
  const std::string visitor = JsonText(first.body, "visitor");
  const std::string label = JsonText(first.body, "label");
  ASSERT_FALSE(label.empty());
  EXPECT_EQ(site_.db().Scalar("chat", "select sourcepage from onlineCst where cstLabel='" + label + "'"),
            "https://search.example/?q=chat");
  // A new connection, no cookies: the header alone names the visitor.
  auto second_page = site_.Client();
  const HttpReply second = Visit(*second_page, kShop, visitor);
  ASSERT_EQ(second.status, 200);
  EXPECT_EQ(JsonText(second.body, "label"), label);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from onlineCst where cstLabel='" + label + "'"), "1");
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from cstTrack where cstLabel='" + label + "'"), "2");
  const HttpReply chat = second_page->Post(
      "/api/visitor/chat?company=1", "",
      {{"Origin", kShop}, {"Sec-Fetch-Site", "cross-site"}, {"X-Zelto-Visitor", visitor}});
  EXPECT_EQ(chat.status, 200) << chat.body;
  EXPECT_NE(chat.body.find(label), std::string::npos);
}

TEST_F(ServeEmbeddingTest, ForgedLabelsAndForeignPagesAreRefused) {
  auto client = site_.Client();
  const std::string visitor = JsonText(Visit(*client, kShop).body, "visitor");
  const std::string label = visitor.substr(0, visitor.find('.'));
  std::string forged = visitor;
  forged[1] = forged[1] == 'A' ? 'B' : 'A';  // another label, the same MAC
  const HttpReply stranger = Visit(*site_.Client(), kShop, forged);
  ASSERT_EQ(stranger.status, 200);
  EXPECT_NE(JsonText(stranger.body, "label"), label);
  EXPECT_NE(JsonText(stranger.body, "label"), forged.substr(0, forged.find('.')));
  // A listed site reports its own pages only.
  const HttpReply other = client->Post("/api/visitor/visit?company=1",
                                       "page=https%3A%2F%2Fshop.example.evil%2F",
                                       {{"Origin", kShop}, {"X-Zelto-Visitor", visitor}});
  EXPECT_EQ(other.status, 400);
}

TEST_F(ServeEmbeddingTest, ChatPagesMayBeFramedByTheListedSitesOnly) {
  auto client = site_.Client();
  EXPECT_EQ(client->Get("/visitor/chat.html?cid=1&company=1").Header("content-security-policy"),
            std::string("frame-ancestors 'self' ") + kShop);
  EXPECT_EQ(client->Get("/frames/fresh.html?who=visitor&cid=1").Header("content-security-policy"),
            std::string("frame-ancestors 'self' ") + kShop);
  EXPECT_EQ(client->Get("/operator/login.html").Header("content-security-policy"),
            "frame-ancestors 'none'");
}

}  // namespace
}  // namespace zelto::testing
