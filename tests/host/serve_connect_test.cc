// Webhooks and the read-only API from outside a running site: a chat's
// events reach a receiver signed, a receiver that failed gets the delivery
// again, deliveries queued before a restart go out after it; the API as an
// attacker tries it (no key, a wrong, revoked or another company's key,
// another company's conversation), with the database checked.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>

#include "host/serve/api_keys.h"
#include "host/serve/digest.h"
#include "host/serve/webhooks.h"
#include "tests/support/host/in_process_site.h"
#include "tests/support/local_http_server.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

using Headers = LoopbackHttpClient::Headers;

const std::vector<std::string> kWebhookArgs = {"--webhook-allow-http", "--webhook-allow-private",
                                               "--webhook-retry-seconds", "1"};

serve::SiteDatabase SiteDb(SeededDatabase& db) {
  return serve::SiteDatabase(db.folder(), db.user(), db.password(),
                             {db.catalog("chat"), db.catalog("count")});
}

// Adds a webhook of company 1 to `url`; its secret.
std::string AddWebhook(SeededDatabase& db, const std::string& url) {
  const auto site_db = SiteDb(db);
  std::string secret;
  const auto result = serve::Webhooks(site_db, serve::WallSecondsNow)
                          .Add(1, url, "*", true, &secret);
  EXPECT_TRUE(result) << result.message;
  return secret;
}

std::vector<RecordedRequest> Received(const LocalHttpServer& receiver, const std::string& event) {
  std::vector<RecordedRequest> found;
  for (const auto& r : receiver.Requests()) {
    auto header = r.headers.find("x-zelto-event");
    if (header != r.headers.end() && header->second == event) found.push_back(r);
  }
  return found;
}

bool Arrived(const LocalHttpServer& receiver, const std::string& event, size_t count = 1) {
  return WaitUntil([&] { return Received(receiver, event).size() >= count; },
                   std::chrono::seconds(20));
}

TEST(ServeWebhooksTest, AChatsEventsReachTheReceiverSigned) {
  InProcessSite site(kWebhookArgs);
  ASSERT_TRUE(site.running());
  LocalHttpServer receiver;
  receiver.Serve("/hook", CannedResponse::Page("ok"));
  const std::string secret = AddWebhook(site.db(), receiver.Url("/hook"));
  auto op = site.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  ASSERT_FALSE(token.empty());
  auto visitor = site.Client();
  const std::string label = site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  EXPECT_EQ(visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid +
                         "&action=sub&msgContent=%E4%BD%A0%E5%A5%BD%20webhook")
                .status,
            200);
  // A poll that posts nothing is no message.
  EXPECT_EQ(visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid).status, 200);
  EXPECT_EQ(op->Get("/operator/DoUserMsg.asp?cid=" + cid + "&action=sub&msgContent=Hi&token=" +
                        token,
                    {{"Referer", "http://x/operator/chat.html?cid=" + cid + "&token=" + token}})
                .status,
            200);
  EXPECT_EQ(visitor->Post("/api/conversation/end", "cid=" + cid).status, 200);
  EXPECT_EQ(visitor->Post("/api/conversation/end", "cid=" + cid).status, 200);  // once only
  EXPECT_EQ(visitor->Post("/api/visitor/rating", "cid=" + cid + "&score=4&comment=fine").status,
            200);
  EXPECT_EQ(visitor->Post("/api/visitor/rating", "cid=" + cid + "&score=1").status, 409);

  ASSERT_TRUE(Arrived(receiver, "chat.ended")) << site.Output();
  ASSERT_TRUE(Arrived(receiver, "rating"));
  EXPECT_EQ(Received(receiver, "rating").size(), 1u);  // the refused second rating sends none
  const auto rating = boost::json::parse(Received(receiver, "rating")[0].body).at("data");
  EXPECT_EQ(rating.at("cid"), std::stoi(cid));
  EXPECT_EQ(rating.at("score"), 4);
  EXPECT_EQ(rating.at("comment"), "fine");
  ASSERT_TRUE(Arrived(receiver, "message", 2));
  ASSERT_TRUE(Arrived(receiver, "chat.started"));
  EXPECT_EQ(Received(receiver, "message").size(), 2u);
  EXPECT_EQ(Received(receiver, "chat.ended").size(), 1u);
  const RecordedRequest message = Received(receiver, "message")[0];
  EXPECT_EQ(message.headers.at("x-zelto-signature"),
            "sha256=" + serve::HmacSha256Hex(
                            secret, message.headers.at("x-zelto-timestamp") + "." + message.body));
  const auto body = boost::json::parse(message.body).as_object();
  EXPECT_EQ(body.at("data").at("text"), "你好 webhook");
  EXPECT_EQ(body.at("data").at("sender"), "visitor");
  EXPECT_EQ(body.at("data").at("cid"), std::stoi(cid));
  const auto answer = boost::json::parse(Received(receiver, "message")[1].body).at("data");
  EXPECT_EQ(answer.at("sender"), "operator");
  EXPECT_EQ(answer.at("operatorId"), 5);
  EXPECT_EQ(answer.at("text"), "Hi");
  EXPECT_EQ(answer.at("name"), "王芳");
  const auto started = boost::json::parse(Received(receiver, "chat.started")[0].body).as_object();
  EXPECT_EQ(started.at("data").at("label").as_string(), label);
  EXPECT_EQ(started.at("data").at("operatorId"), 5);
  EXPECT_EQ(boost::json::parse(Received(receiver, "chat.ended")[0].body).at("data").at("endedBy"),
            "visitor");
  EXPECT_TRUE(WaitUntil(
      [&] {
        return site.db().Scalar("chat", "select count(*) from webhookDelivery where state='done'") ==
               "5";  // started, two messages, ended, rating
      },
      std::chrono::seconds(10)));
}

TEST(ServeWebhooksTest, AFailedDeliveryIsTriedAgainAndSurvivesARestart) {
  ServedSite site(kWebhookArgs);
  LocalHttpServer receiver;  // answers 404 until /hook is served
  AddWebhook(site.db(), receiver.Url("/hook"));
  auto visitor = site.Client();
  site.Visit(*visitor);
  // Nobody online: the visitor leaves a message.
  ASSERT_EQ(visitor->Post("/api/visitor/offline-message",
                          "name=Ann&contact=ann%40example.com&text=call%20me")
                .status,
            200);
  ASSERT_TRUE(WaitUntil(
      [&] {
        return site.db().Scalar("chat", "select attempts from webhookDelivery where id=1") == "1";
      },
      std::chrono::seconds(20)));
  EXPECT_EQ(site.db().Scalar("chat", "select lastStatus from webhookDelivery where id=1"), "404");
  EXPECT_EQ(site.Restart(), 0);
  receiver.Serve("/hook", CannedResponse::Page("ok"));
  ASSERT_TRUE(Arrived(receiver, "offline_message"));
  EXPECT_TRUE(WaitUntil(
      [&] {
        return site.db().Scalar("chat", "select state from webhookDelivery where id=1") == "done";
      },
      std::chrono::seconds(10)));
  const auto body = boost::json::parse(Received(receiver, "offline_message")[0].body);
  EXPECT_EQ(body.at("data").at("contact"), "ann@example.com");
}

// Two companies, each with a conversation and a key; a revoked key of 1.
class ServeApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site_.db().Execute(
        "chat",
        "insert into Company (ID, CompanyName) values (2, 'Other');"
        "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
        "assignedAt, endedAt, endedBy, endedById) values "
        "(501, 1, 'V501', 5, 'ended', 1000, 1001, 1100, 'visitor', 0),"
        "(502, 1, 'V502', 12, 'running', 2000, 2001, 0, '', 0),"
        "(601, 2, 'V601', 30, 'ended', 1500, 1501, 1600, 'operator', 30);"
        "insert into msg (conid, userID_send, cstLabel, nickName, msgContent, msgTime, issystem) "
        "values (501, 0, 'V501', 'Guest', 'hello from 501', '2026-12-08 10:00:00', 0),"
        "(501, 5, '', '', 'answer in 501', '2026-12-08 10:00:05', 0),"
        "(601, 0, 'V601', 'Guest', 'secret of company 2', '2026-12-08 11:00:00', 0)");
    const auto db = SiteDb(site_.db());
    const serve::ApiKeys keys(db, serve::WallSecondsNow);
    std::string revoked;
    ASSERT_TRUE(keys.Create(1, "crm", &key_));
    ASSERT_TRUE(keys.Create(2, "other", &other_key_));
    const auto made = keys.Create(1, "old", &revoked_key_);
    ASSERT_TRUE(made);
    ASSERT_TRUE(keys.Revoke(made.id, 1));
  }

  HttpReply Get(const std::string& target, const std::string& key) {
    auto client = site_.Client();
    return client->Get(target, key.empty() ? Headers{} : Headers{{"Authorization", "Bearer " + key}});
  }

  ServedSite site_;
  std::string key_, other_key_, revoked_key_;
};

TEST_F(ServeApiTest, OnlyAValidKeyOfTheCompanyReadsItsConversations) {
  const std::string list = "/api/v1/conversations";
  const std::string transcript = "/api/v1/conversations/501/transcript";
  struct Case {
    std::string target, key;
    int status;
  } cases[] = {
      {list, "", 401},
      {list, "zk_" + std::string(48, '0'), 401},
      {list, revoked_key_, 401},
      {list, key_.substr(0, 20), 401},
      {transcript, "", 401},
      {transcript, revoked_key_, 401},
      {transcript, other_key_, 404},  // another company's conversation is not there
      {"/api/v1/conversations/601/transcript", key_, 404},
      {"/api/v1/conversations/999/transcript", key_, 404},
      {"/api/v1/conversations/x/transcript", key_, 404},
      {list + "?limit=0", key_, 400},
      {list + "?limit=201", key_, 400},
      {list + "?offset=-1", key_, 400},
      {list + "?state=gone", key_, 400},
      {list + "?operator=1%20or%201=1", key_, 400},
      {list, key_, 200},
      {transcript, key_, 200},
  };
  for (const Case& c : cases) {
    const HttpReply reply = Get(c.target, c.key);
    EXPECT_EQ(reply.status, c.status) << c.target << " " << c.key << ": " << reply.body;
    if (c.status != 200) EXPECT_EQ(reply.body.find("secret of company 2"), std::string::npos);
  }
  // A key in the query or as a cookie is no key.
  EXPECT_EQ(Get(list + "?key=" + key_, "").status, 401);
  // Nothing was written: the revoked key stays revoked, no key was made.
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from apiKey where revokedAt<>0"), "1");
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from apiKey"), "3");
}

TEST_F(ServeApiTest, ListsAreFilteredAndPagedWithinTheCompany) {
  auto cids = [&](const std::string& query) {
    const HttpReply reply = Get("/api/v1/conversations" + query, key_);
    EXPECT_EQ(reply.status, 200) << reply.body;
    std::vector<int64_t> found;
    const auto answer = boost::json::parse(reply.body);
    for (const auto& c : answer.at("conversations").as_array()) found.push_back(c.at("cid").as_int64());
    return std::make_pair(found, answer.at("total").as_int64());
  };
  EXPECT_EQ(cids(""), std::make_pair(std::vector<int64_t>{502, 501}, int64_t{2}));
  EXPECT_EQ(cids("?limit=1"), std::make_pair(std::vector<int64_t>{502}, int64_t{2}));
  EXPECT_EQ(cids("?limit=1&offset=1"), std::make_pair(std::vector<int64_t>{501}, int64_t{2}));
  EXPECT_EQ(cids("?operator=5").first, std::vector<int64_t>{501});
  EXPECT_EQ(cids("?visitor=V502").first, std::vector<int64_t>{502});
  EXPECT_EQ(cids("?state=ended").first, std::vector<int64_t>{501});
  EXPECT_EQ(cids("?from=1500").first, std::vector<int64_t>{502});
  EXPECT_EQ(cids("?to=1500").first, std::vector<int64_t>{501});
  EXPECT_EQ(cids("?visitor=V601").first, std::vector<int64_t>{});

  const HttpReply reply = Get("/api/v1/conversations/501/transcript", key_);
  const auto messages = boost::json::parse(reply.body).at("messages").as_array();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].at("sender"), "visitor");
  EXPECT_EQ(messages[0].at("text"), "hello from 501");
  EXPECT_EQ(messages[0].at("time"), "2026-12-08 10:00:00");
  EXPECT_EQ(messages[1].at("sender"), "operator");
  EXPECT_EQ(messages[1].at("operatorId"), 5);
}

TEST_F(ServeApiTest, OnlyAnAdministratorManagesTheCompanysOwnWebhooksAndKeys) {
  site_.db().Execute("chat",
                     "insert into operatorAccount (id, isAdmin, canInvite, removed) "
                     "values (5, 1, 1, 0)");
  const std::string other_secret = AddWebhook(site_.db(), "https://hooks.example.com/other");
  site_.db().Execute("chat", "update webhook set companyId=2");
  auto admin = site_.Client();
  const std::string token = ServedSite::Login(*admin, 5, "demo5");
  auto plain = site_.Client();
  const std::string plain_token = ServedSite::Login(*plain, 12, "demo12");
  auto post = [](LoopbackHttpClient& client, const std::string& path, const std::string& body,
                 const std::string& t) {
    return client.Post(path, body, Headers{{"X-Zelto-Token", t}});
  };
  // Not an administrator, or without the token: nothing.
  EXPECT_EQ(post(*plain, "/api/admin/apikey/add", "name=x", plain_token).status, 403);
  EXPECT_EQ(plain->Get("/api/admin/webhooks").status, 403);
  EXPECT_EQ(post(*admin, "/api/admin/webhook/add", "url=https%3A%2F%2Fa.example%2F", "").status,
            403);
  // Another company's webhook and key are out of reach.
  EXPECT_EQ(post(*admin, "/api/admin/webhook/remove", "id=1", token).status, 400);
  EXPECT_EQ(post(*admin, "/api/admin/apikey/revoke", "id=2", token).status, 400);  // company 2's
  EXPECT_EQ(admin->Get("/api/admin/webhooks").body, "[]");
  const HttpReply keys = admin->Get("/api/admin/apikeys");
  EXPECT_EQ(keys.body.find("other"), std::string::npos);
  EXPECT_EQ(keys.body.find(key_), std::string::npos);  // never the key itself
  // Plain http is refused on the page.
  EXPECT_EQ(post(*admin, "/api/admin/webhook/add", "url=http%3A%2F%2Fa.example%2F", token).status,
            400);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from webhook"), "1");
  EXPECT_EQ(site_.db().Scalar("chat", "select secret from webhook"), other_secret);
  EXPECT_EQ(site_.db().Scalar("chat", "select revokedAt from apiKey where id=2"), "0");
  // The administrator's own: made, shown once, revoked.
  const HttpReply made = post(*admin, "/api/admin/apikey/add", "name=warehouse", token);
  ASSERT_EQ(made.status, 200) << made.body;
  const std::string key = JsonText(made.body, "key");
  EXPECT_EQ(Get("/api/v1/conversations", key).status, 200);
  EXPECT_EQ(post(*admin, "/api/admin/apikey/revoke",
                 "id=" + std::to_string(JsonNumber(made.body, "id")), token)
                .status,
            200);
  EXPECT_EQ(Get("/api/v1/conversations", key).status, 401);
}

}  // namespace
}  // namespace zelto::testing
