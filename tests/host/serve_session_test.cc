// Sessions of `zelto serve`: the cookie, timeouts, what ending a session
// does for a visitor, and the new session id at login. The timeouts run on
// a site in the test's process whose clock the test moves.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "tests/support/host/in_process_site.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

TEST(ServeSessionTest, CookieIsRandomHttpOnlyAndSameSite) {
  ServedSite site;
  auto a = site.Client();
  auto b = site.Client();
  const HttpReply first = a->Get("/site/index.html");
  const std::string cookie = first.Header("set-cookie");
  EXPECT_TRUE(std::regex_match(
      cookie, std::regex("ZSESSIONID=[0-9a-f]{32}; Path=/; HttpOnly; SameSite=Lax")))
      << cookie;
  // Known session: no new cookie; another browser: another id.
  EXPECT_EQ(a->Get("/site/about.html").Header("set-cookie"), "");
  b->Get("/site/index.html");
  EXPECT_NE(a->cookies()["ZSESSIONID"], b->cookies()["ZSESSIONID"]);
  // A made-up id is not adopted: the server gives its own.
  auto c = site.Client();
  c->cookies()["ZSESSIONID"] = std::string(32, 'a');
  const std::string fresh = c->Get("/site/index.html").Header("set-cookie");
  EXPECT_EQ(fresh.find("ZSESSIONID=" + std::string(32, 'a')), std::string::npos) << fresh;
  EXPECT_NE(fresh.find("ZSESSIONID="), std::string::npos);
}

TEST(ServeSessionTest, VisitorRowsFollowTheSession) {
  InProcessSite site({"--session-timeout", "0.02"}, InProcessSite::Time::kManual);  // 1.2 s
  ASSERT_TRUE(site.running());
  auto visitor = site.Client();
  const std::string label =
      site.Visit(*visitor, "https://search.example/s?wd=%E5%9C%A8%E7%BA%BF+chat&ie=utf-8");
  ASSERT_FALSE(label.empty());
  EXPECT_EQ(label[0], 'V');
  auto row = site.db().Query("chat", "select * from onlineCst where cstLabel='" + label + "'");
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0]["searchkey"], "在线 chat");
  EXPECT_EQ(row[0]["IP"], "127.0.0.1");
  EXPECT_EQ(row[0]["CompanyID"], "1");
  EXPECT_EQ(row[0]["beChatting"], "0");
  // One cstTrack row per page view; stylesheets are not page views.
  visitor->Get("/site/about.html");
  visitor->Get("/css/site.css");
  EXPECT_EQ(
      site.db().Scalar("chat", "select count(*) from cstTrack where cstLabel='" + label + "'"),
      "2");
  const std::string returning_before =
      site.db().Scalar("count", "select count(*) from t_Iprecord where IP='127.0.0.1'");
  EXPECT_EQ(returning_before, "0");

  // Unused for the timeout: the session ends, the visitor leaves, the
  // address is remembered (by a worker, after the sweep that finds it).
  site.clock().Advance(std::chrono::milliseconds(2500));
  WaitUntil([&] {
    return site.db().Scalar("count", "select count(*) from t_Iprecord where IP='127.0.0.1'") == "1";
  });
  EXPECT_EQ(
      site.db().Scalar("chat", "select count(*) from onlineCst where cstLabel='" + label + "'"),
      "0");
  EXPECT_EQ(site.db().Scalar("count", "select count(*) from t_Iprecord where IP='127.0.0.1'"), "1");
  // Coming back without the visitor cookie (a browser that dropped it)
  // starts a new visitor.
  visitor->cookies().erase("ZVISITOR");
  EXPECT_EQ(visitor->Get("/visitor/GetClientMsg.asp?cid=1").status, 403);
  const std::string again = site.Visit(*visitor);
  EXPECT_NE(again, label);
}

TEST(ServeSessionTest, UseKeepsTheSessionAlive) {
  InProcessSite site({"--session-timeout", "0.02"}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  auto op = site.Client();
  ServedSite::Login(*op, 5, "demo5");
  for (int i = 0; i < 6; ++i) {
    site.clock().Advance(std::chrono::milliseconds(400));
    ASSERT_EQ(op->Get("/api/me").status, 200) << "request " << i;
  }
  site.clock().Advance(std::chrono::milliseconds(1600));
  EXPECT_EQ(op->Get("/api/me").status, 401);
}

TEST(ServeSessionTest, LoginIssuesANewSessionIdAndLogoutEndsIt) {
  ServedSite site;
  auto client = site.Client();
  site.Visit(*client);
  const std::string before = client->cookies()["ZSESSIONID"];
  auto attacker = site.Client();
  attacker->cookies()["ZSESSIONID"] = before;  // knew the id before the login

  const std::string token = ServedSite::Login(*client, 12, "demo12");
  const std::string after = client->cookies()["ZSESSIONID"];
  EXPECT_NE(after, before);
  EXPECT_EQ(attacker->Get("/api/me").status, 401);
  const HttpReply me = client->Get("/api/me");
  EXPECT_EQ(me.status, 200);
  EXPECT_EQ(JsonNumber(me.body, "id"), 12);
  EXPECT_EQ(JsonText(me.body, "token"), token);

  // Logout is an operator action: the token is needed.
  EXPECT_EQ(client->Post("/api/logout", "").status, 403);
  EXPECT_EQ(client->Post("/api/logout", "", {{"X-Zelto-Token", token}}).status, 200);
  client->cookies()["ZSESSIONID"] = after;
  EXPECT_EQ(client->Get("/api/me").status, 401);
}

TEST(ServeSessionTest, WrongPasswordsAndIdsAreRefused) {
  ServedSite site;
  auto client = site.Client();
  const struct {
    std::string body;
    int status;
  } cases[] = {
      {"id=5&password=wrong", 401},    {"id=5&password=", 401},     {"id=999&password=demo5", 401},
      {"id=5'--&password=demo5", 400}, {"id=&password=demo5", 400}, {"password=demo5", 400},
      {"id=12&password=demo5", 401},
  };
  for (const auto& c : cases) {
    const HttpReply reply = client->Post("/api/login", c.body);
    EXPECT_EQ(reply.status, c.status) << c.body << " -> " << reply.body;
    EXPECT_EQ(reply.body.find("token"), std::string::npos) << c.body;
  }
  EXPECT_EQ(client->Get("/api/login").status, 405);
}

}  // namespace
}  // namespace zelto::testing
