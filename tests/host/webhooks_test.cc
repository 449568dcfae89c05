// Webhooks and API keys on every engine: what is refused when a webhook is
// added, who gets an event, the queue's claims, retries with back-off and
// giving up, deliveries that survive a new host, the signature and the
// real sender against a local receiver (no redirect followed, https only
// unless allowed), and API keys kept only as hashes.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

#include "host/serve/api_keys.h"
#include "host/serve/api_reads.h"
#include "host/serve/digest.h"
#include "host/serve/failure_log.h"
#include "host/serve/webhook_events.h"
#include "host/serve/webhook_sender.h"
#include "host/serve/webhook_worker.h"
#include "host/serve/webhooks.h"
#include "tests/support/local_http_server.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::WebhookAttempt;
using serve::WebhookDelivery;

TEST(WebhookChecksTest, AddressesAreRefusedUnlessPlainHttps) {
  struct Case {
    const char* url;
    bool allow_http;
    bool accepted;
  } cases[] = {
      {"https://hooks.example.com/zelto", false, true},
      {"HTTPS://hooks.example.com:8443/x?y=1", false, true},
      {"http://hooks.example.com/", false, false},
      {"http://hooks.example.com/", true, true},
      {"ftp://hooks.example.com/", true, false},
      {"file:///etc/passwd", true, false},
      {"https://", false, false},
      {"https://:443/", false, false},
      {"https://user:pw@hooks.example.com/", false, false},
      {"https://hooks.example.com/a b", false, false},
      {"https://hooks.example.com/\r\nX-Injected: 1", false, false},
      {"hooks.example.com/zelto", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(serve::RefusedWebhookUrl(c.url, c.allow_http).empty(), c.accepted) << c.url;
  }
  EXPECT_FALSE(serve::RefusedWebhookUrl("https://h/" + std::string(1000, 'a'), false).empty());
}

TEST(WebhookChecksTest, EventListsAreNormalizedOrRefused) {
  std::string why;
  EXPECT_EQ(serve::ParseWebhookEvents("*", &why), "*");
  EXPECT_EQ(serve::ParseWebhookEvents(" message, rating ,message", &why), "message,rating");
  EXPECT_FALSE(serve::ParseWebhookEvents("message,chat.deleted", &why));
  EXPECT_NE(why.find("chat.deleted"), std::string::npos);
  EXPECT_FALSE(serve::ParseWebhookEvents(" , ", &why));
}

TEST(WebhookChecksTest, RetriesBackOffToTheLimit) {
  serve::WebhookRetry retry;
  retry.first_delay = 10;
  retry.max_delay = 60;
  std::vector<int64_t> delays;
  for (int attempts = 1; attempts <= 5; ++attempts)
    delays.push_back(serve::RetryDelay(retry, attempts));
  EXPECT_EQ(delays, (std::vector<int64_t>{10, 20, 40, 60, 60}));
}

TEST(WebhookChecksTest, SignatureIsHmacSha256OfTimestampDotBody) {
  // Known answers (RFC 4231 case 2; the second computed independently).
  EXPECT_EQ(serve::HmacSha256Hex("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  EXPECT_EQ(serve::WebhookSignature("topsecret", 1700000000, R"({"event":"message"})"),
            "sha256=e6c6915d4ed8b1b4c1dfc93d6b1cb1df3bb5d3f21f86be6c7b73d0a9cf8a9c5e");
  EXPECT_EQ(serve::Sha256Hex("abc"),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A receiver that answers as told and records what it got.
struct FakeReceiver {
  std::vector<WebhookAttempt> answers;  // in turn; then 200
  std::vector<std::pair<WebhookDelivery, int64_t>> got;
  serve::WebhookTransport Transport() {
    return [this](const WebhookDelivery& d, int64_t timestamp) {
      got.emplace_back(d, timestamp);
      if (got.size() <= answers.size()) return answers[got.size() - 1];
      return WebhookAttempt{true, 200, ""};
    };
  }
};

class WebhooksTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    db_.Execute("chat", "insert into Company (ID, CompanyName) values (2, 'Other')");
    retry_.first_delay = 10;
    retry_.max_attempts = 3;
  }

  serve::SiteDatabase SiteDb() {
    return serve::SiteDatabase(db_.folder(), db_.user(), db_.password(),
                               {db_.catalog("chat"), db_.catalog("count")});
  }
  serve::Webhooks Hooks(const serve::SiteDatabase& db) {
    return serve::Webhooks(db, [this] { return now_; }, retry_);
  }
  LONG AddHook(const serve::Webhooks& hooks, LONG company, const std::string& events,
               std::string* secret = nullptr) {
    std::string made;
    const auto result = hooks.Add(company, "https://hooks.example.com/" + std::to_string(company),
                                  events, false, &made);
    EXPECT_TRUE(result) << result.message;
    if (secret) *secret = made;
    return result.id;
  }
  std::string State(LONG delivery) {
    return db_.Scalar("chat", "select state from webhookDelivery where id=" +
                                  std::to_string(delivery));
  }

  SeededDatabase db_{GetParam(), true};
  serve::WebhookRetry retry_;
  int64_t now_ = 1'700'000'000;
  serve::FailureLog failures_{stderr, std::chrono::seconds(60)};
};

TEST_P(WebhooksTest, AddRefusesUnknownCompaniesAndKeepsNothing) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  std::string secret;
  EXPECT_EQ(hooks.Add(99, "https://h.example/", "*", false, &secret).kind,
            serve::AdminResult::kRefused);
  EXPECT_EQ(hooks.Add(1, "http://h.example/", "*", false, &secret).kind,
            serve::AdminResult::kRefused);
  EXPECT_EQ(hooks.Add(1, "https://h.example/", "nothing", false, &secret).kind,
            serve::AdminResult::kRefused);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhook"), "0");
  AddHook(hooks, 1, "*", &secret);
  EXPECT_EQ(secret.size(), 64u);
  // The secret is the webhook's own: another gets another.
  std::string second;
  AddHook(hooks, 1, "*", &second);
  EXPECT_NE(secret, second);
}

TEST_P(WebhooksTest, AnEventGoesOnlyToItsCompanysWebhooksThatWantIt) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  const LONG all = AddHook(hooks, 1, "*");
  const LONG ratings = AddHook(hooks, 1, "rating");
  const LONG other = AddHook(hooks, 2, "*");
  std::string error;
  EXPECT_EQ(hooks.Emit(1, "message", {{"cid", 7}, {"text", "你好 <b>"}}, &error), 1) << error;
  EXPECT_EQ(hooks.Emit(1, "rating", {{"cid", 7}, {"score", 5}}, &error), 2) << error;
  EXPECT_EQ(hooks.Emit(3, "message", {}, &error), 0) << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhookDelivery where webhookId=" +
                                   std::to_string(all)), "2");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhookDelivery where webhookId=" +
                                   std::to_string(ratings)), "1");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhookDelivery where webhookId=" +
                                   std::to_string(other)), "0");
  const auto body = boost::json::parse(db_.Scalar(
      "chat", "select body from webhookDelivery where event='message'")).as_object();
  EXPECT_EQ(body.at("event"), "message");
  EXPECT_EQ(body.at("companyId"), 1);
  EXPECT_EQ(body.at("createdAt"), now_);
  EXPECT_EQ(body.at("id").as_string().size(), 32u);
  EXPECT_EQ(body.at("data").at("text"), "你好 <b>");
}

TEST_P(WebhooksTest, AClaimHoldsRowsFromOtherHostsUntilItLapses) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  AddHook(hooks, 1, "*");
  std::string error;
  ASSERT_EQ(hooks.Emit(1, "message", {}, &error), 1) << error;
  ASSERT_EQ(hooks.ClaimDue(10, &error).size(), 1u) << error;
  // Another host on the same database finds nothing to send meanwhile.
  const auto other_db = SiteDb();
  EXPECT_TRUE(Hooks(other_db).ClaimDue(10, &error).empty()) << error;
  now_ += retry_.claim_seconds;
  EXPECT_EQ(Hooks(other_db).ClaimDue(10, &error).size(), 1u) << error;
}

TEST_P(WebhooksTest, FailuresAreRetriedWithBackOffThenGivenUp) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  AddHook(hooks, 1, "*");
  std::string error;
  ASSERT_EQ(hooks.Emit(1, "chat.ended", {{"cid", 1}}, &error), 1) << error;
  FakeReceiver receiver;
  receiver.answers = {{false, 0, "connection refused"}, {false, 500, "answered 500"},
                      {false, 503, "answered 503"}};
  serve::WebhookWorker worker(hooks, receiver.Transport(), failures_, [this] { return now_; });
  EXPECT_EQ(worker.DeliverDue(), 1u);
  EXPECT_EQ(State(1), "pending");
  now_ += 9;  // not due before its delay
  EXPECT_EQ(worker.DeliverDue(), 0u);
  EXPECT_EQ(*hooks.NextDue(&error), now_ + 1);
  now_ += 1;
  EXPECT_EQ(worker.DeliverDue(), 1u);
  now_ += 20;  // the delay doubled
  EXPECT_EQ(worker.DeliverDue(), 1u);
  EXPECT_EQ(State(1), "failed");
  EXPECT_EQ(db_.Scalar("chat", "select lastStatus from webhookDelivery where id=1"), "503");
  EXPECT_EQ(db_.Scalar("chat", "select attempts from webhookDelivery where id=1"), "3");
  now_ += 10'000;
  EXPECT_EQ(worker.DeliverDue(), 0u);
  EXPECT_FALSE(hooks.NextDue(&error));
  EXPECT_EQ(receiver.got.size(), 3u);
}

TEST_P(WebhooksTest, QueuedDeliveriesSurviveTheHostThatQueuedThem) {
  std::string secret;
  {
    const auto db = SiteDb();
    const auto hooks = Hooks(db);
    AddHook(hooks, 1, "message", &secret);
    std::string error;
    ASSERT_EQ(hooks.Emit(1, "message", {{"text", "before the stop"}}, &error), 1) << error;
    // Claimed by a host that then stops without sending.
    FakeReceiver receiver;
    serve::WebhookWorker worker(hooks, receiver.Transport(), failures_, [this] { return now_; });
    worker.AskToStop();
    EXPECT_EQ(worker.DeliverDue(), 0u);
    EXPECT_TRUE(receiver.got.empty());
  }
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  FakeReceiver receiver;
  serve::WebhookWorker worker(hooks, receiver.Transport(), failures_, [this] { return now_; });
  EXPECT_EQ(worker.DeliverDue(), 1u);
  ASSERT_EQ(receiver.got.size(), 1u);
  EXPECT_EQ(receiver.got[0].first.secret, secret);
  EXPECT_NE(receiver.got[0].first.body.find("before the stop"), std::string::npos);
  EXPECT_EQ(State(1), "done");
}

TEST_P(WebhooksTest, RemovingAWebhookDropsItsQueueAndOnlyItsCompanyMay) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  const LONG id = AddHook(hooks, 1, "*");
  std::string error;
  ASSERT_EQ(hooks.Emit(1, "message", {}, &error), 1) << error;
  EXPECT_EQ(hooks.Remove(id, 2).kind, serve::AdminResult::kRefused);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhookDelivery"), "1");
  EXPECT_TRUE(hooks.Remove(id, 1));
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from webhookDelivery"), "0");
  EXPECT_EQ(hooks.Remove(id, 0).kind, serve::AdminResult::kRefused);
}

TEST_P(WebhooksTest, EventsReadWhatTheirBodiesSay) {
  const auto db = SiteDb();
  const auto hooks = Hooks(db);
  AddHook(hooks, 1, "*");
  int woken = 0;
  serve::WebhookEvents events(db, hooks, failures_, [&woken] { ++woken; });
  // Conversation 1 of the demo data: visitor 20240520091502731, operator 5.
  db_.Execute("chat",
              "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
              "assignedAt, endedAt, endedBy, endedById) values (1, 1, '20240520091502731', 5, "
              "'ended', 100, 101, 200, 'visitor', 0)");
  db_.Execute("chat",
              "insert into msg (conid, userID_send, cstLabel, nickName, msgContent, msgTime, "
              "issystem) values (1, 0, '20240520091502731', 'Guest', '最后一句 last words', "
              "'2026-12-08 10:00:00', 0)");
  events.MessagePosted(1, 0, 2);
  events.ChatEnded(1, 2);
  events.ChatRated(1, 1, 4, "快 quick", 300);
  events.OfflineMessageLeft(1, 9, "L1", "Ann", "ann@example.com", "call me");
  EXPECT_EQ(woken, 4);
  std::map<std::string, boost::json::object> data;
  for (const auto& row : db_.Query("chat", "select event, body from webhookDelivery")) {
    auto body = boost::json::parse(row.at("body")).as_object();
    EXPECT_EQ(body.at("companyId"), 1) << row.at("event");  // the chat's, not the fallback
    data[row.at("event")] = body.at("data").as_object();
  }
  EXPECT_EQ(data["message"].at("sender"), "visitor");
  EXPECT_EQ(data["message"].at("text"), "最后一句 last words");
  EXPECT_EQ(data["message"].at("name"), "Guest");
  EXPECT_EQ(data["chat.ended"].at("endedBy"), "visitor");
  EXPECT_EQ(data["chat.ended"].at("endedAt"), 200);
  EXPECT_EQ(data["chat.ended"].at("operatorId"), 5);
  EXPECT_EQ(data["rating"].at("score"), 4);
  EXPECT_EQ(data["rating"].at("comment"), "快 quick");
  EXPECT_EQ(data["rating"].at("ratedAt"), 300);
  EXPECT_EQ(data["offline_message"].at("contact"), "ann@example.com");
}

TEST_P(WebhooksTest, ApiKeysAreKeptAsHashesAndRevokedKeysOpenNothing) {
  const auto db = SiteDb();
  const serve::ApiKeys keys(db, [this] { return now_; });
  std::string key, other_key, error;
  ASSERT_TRUE(keys.Create(1, "crm", &key));
  ASSERT_TRUE(keys.Create(2, "", &other_key));
  EXPECT_EQ(keys.Create(99, "", &error).kind, serve::AdminResult::kRefused);
  EXPECT_EQ(key.size(), 51u);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from apiKey where keyHash='" + key + "'"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select keyHash from apiKey where name='crm'"),
            serve::Sha256Hex(key));
  EXPECT_EQ(keys.CompanyOfKey(key, &error), 1);
  EXPECT_EQ(keys.CompanyOfKey(other_key, &error), 2);
  std::string altered = key;  // one character other than it was
  altered.back() = altered.back() == '0' ? '1' : '0';
  EXPECT_FALSE(keys.CompanyOfKey(altered, &error));
  EXPECT_FALSE(keys.CompanyOfKey("' or 1=1 --", &error));
  EXPECT_EQ(keys.Revoke(1, 2).kind, serve::AdminResult::kRefused);  // not company 2's
  EXPECT_TRUE(keys.Revoke(1, 1));
  EXPECT_FALSE(keys.CompanyOfKey(key, &error));
  EXPECT_EQ(keys.Revoke(1, 0).kind, serve::AdminResult::kRefused);  // already revoked
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(keys.List(1, &error)[0].revoked_at, now_);
}

TEST_P(WebhooksTest, ApiReadsPageWithinTheCompany) {
  db_.Execute("chat",
              "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
              "assignedAt, endedAt, endedBy, endedById) values "
              "(11, 1, 'A', 5, 'ended', 10, 11, 12, 'visitor', 0),"
              "(12, 1, 'B', 5, 'running', 20, 21, 0, '', 0),"
              "(13, 2, 'C', 30, 'running', 30, 31, 0, '', 0)");
  const auto db = SiteDb();
  std::string error;
  serve::ConversationFilter filter;
  filter.limit = 1;
  filter.offset = 1;
  const auto page = serve::ConversationPage(db, 1, filter, &error);
  ASSERT_TRUE(page) << error;
  ASSERT_EQ(page->at("conversations").as_array().size(), 1u);
  EXPECT_EQ(page->at("conversations").as_array()[0].at("cid"), 11);
  EXPECT_EQ(page->at("total"), 2);
  EXPECT_FALSE(serve::Transcript(db, 1, 13, &error));
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_TRUE(serve::Transcript(db, 2, 13, &error)) << error;
}

ZELTO_ON_EVERY_ENGINE(WebhooksTest);

// The real sender against a receiver on this machine.
class WebhookSenderTest : public ::testing::Test {
 protected:
  WebhookDelivery Delivery(const std::string& path) {
    return WebhookDelivery{42, 1, "message", R"({"event":"message","n":1})",
                           receiver_.Url(path), "s3cret", 0};
  }
  serve::WebhookSendOptions Allowed() {
    serve::WebhookSendOptions options;
    options.allow_http = true;
    options.allow_private = true;
    options.timeout_ms = 5000;
    return options;
  }
  LocalHttpServer receiver_;
};

TEST_F(WebhookSenderTest, PostsTheSignedBody) {
  receiver_.Serve("/hook", CannedResponse::Page("ok"));
  const WebhookAttempt attempt = serve::HttpWebhookTransport(Allowed())(Delivery("/hook"), 1234);
  EXPECT_TRUE(attempt.ok) << attempt.error;
  const auto requests = receiver_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.body, R"({"event":"message","n":1})");
  EXPECT_EQ(r.headers.at("content-type"), "application/json");
  EXPECT_EQ(r.headers.at("x-zelto-event"), "message");
  EXPECT_EQ(r.headers.at("x-zelto-delivery"), "42");
  EXPECT_EQ(r.headers.at("x-zelto-timestamp"), "1234");
  EXPECT_EQ(r.headers.at("x-zelto-signature"),
            "sha256=" + serve::HmacSha256Hex("s3cret", "1234." + r.body));
}

TEST_F(WebhookSenderTest, RefusalsAndFailuresAreNotDelivered) {
  receiver_.Serve("/moved", CannedResponse::Redirect(receiver_.Url("/hook")));
  receiver_.Serve("/hook", CannedResponse::Page("ok"));
  receiver_.Serve("/broken", CannedResponse{CannedResponse::Kind::kFixed, 500, {}, "no"});
  const auto send = serve::HttpWebhookTransport(Allowed());
  // A redirect is an answer, never followed.
  EXPECT_FALSE(send(Delivery("/moved"), 1).ok);
  EXPECT_EQ(receiver_.HitCount("/hook"), 0);
  const WebhookAttempt broken = send(Delivery("/broken"), 1);
  EXPECT_FALSE(broken.ok);
  EXPECT_EQ(broken.status, 500);
  // Plain http, or this machine, only when allowed: nothing is sent.
  serve::WebhookSendOptions https_only = Allowed();
  https_only.allow_http = false;
  EXPECT_FALSE(serve::HttpWebhookTransport(https_only)(Delivery("/hook"), 1).ok);
  serve::WebhookSendOptions public_only = Allowed();
  public_only.allow_private = false;
  EXPECT_FALSE(serve::HttpWebhookTransport(public_only)(Delivery("/hook"), 1).ok);
  EXPECT_EQ(receiver_.HitCount("/hook"), 0);
  // Nobody listening.
  WebhookDelivery closed = Delivery("/hook");
  closed.url = "http://127.0.0.1:" + std::to_string(ClosedLocalPort()) + "/hook";
  EXPECT_EQ(send(closed, 1).status, 0);
}

}  // namespace
}  // namespace zelto::testing
