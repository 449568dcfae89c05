// Long polling through `zelto serve`: a poll page's "wait=SECONDS" holds a
// poll that finds nothing until something is stored in its conversation,
// its time is up, the host stops or the client goes away; the host takes
// the parameter for itself. Across hosts of one PostgreSQL database the
// wake travels by LISTEN/NOTIFY, and survives a database restart. The host
// holding the polls runs in the test's process, so that the test sees when
// a poll is held instead of guessing how long that takes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/engine.h"
#include "tests/support/host/in_process_site.h"
#include "tests/support/loopback_http_client.h"
#include "tests/support/private_pg_cluster.h"
#include "tests/support/seeded_database.h"
#include "tests/support/serve_process.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using serve::LongPoll;
using std::chrono::milliseconds;

// A held poll on a client of its own; `ms` how long it took.
struct Held {
  std::unique_ptr<LoopbackHttpClient> client;
  std::future<HttpReply> reply;
  Clock::time_point started;
  bool Answered(milliseconds within) { return reply.wait_for(within) == std::future_status::ready; }
};

Held HoldPoll(uint16_t port, const std::map<std::string, std::string>& cookies,
              const std::string& target) {
  Held held;
  held.client = std::make_unique<LoopbackHttpClient>(port);
  held.client->cookies() = cookies;
  held.started = Clock::now();
  LoopbackHttpClient* client = held.client.get();
  held.reply = std::async(std::launch::async, [client, target] { return client->Get(target); });
  return held;
}

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Posting pages as the chat windows send them.
void VisitorSays(LoopbackHttpClient& visitor, int cid, const std::string& text) {
  EXPECT_EQ(visitor
                .Get("/visitor/DoClientMsg.asp?cid=" + std::to_string(cid) +
                     "&action=sub&msgContent=" + text)
                .status,
            200);
}
void OperatorSays(LoopbackHttpClient& op, const std::string& token, int cid,
                  const std::string& text) {
  EXPECT_EQ(op.Get("/operator/DoUserMsg.asp?cid=" + std::to_string(cid) +
                   "&action=sub&msgContent=" + text + "&token=" + token)
                .status,
            200);
}

// Waits until `site` holds `count` polls.
void WaitForHeld(InProcessSite& site, size_t count) {
  ASSERT_TRUE(WaitUntil([&] { return site.site().long_poll().held() == count; }))
      << site.site().long_poll().held() << " polls held, not " << count;
}

class ServeLongPollTest : public ::testing::Test {
 protected:
  explicit ServeLongPollTest(std::vector<std::string> args = {}) : site_(std::move(args)) {}

  void SetUp() override {
    ASSERT_TRUE(site_.running());
    op_ = site_.Client();
    token_ = ServedSite::Login(*op_, 5, "demo5");
    visitor_ = site_.Client();
    site_.Visit(*visitor_);
    cid_ = ServedSite::OpenChat(*visitor_);
    ASSERT_GT(cid_, 1);
    c_ = std::to_string(cid_);
    op_->Get("/operator/GetUserMsg.asp?cid=" + c_);  // nothing left unread
  }
  std::string OperatorPoll(int wait) const {
    return "/operator/GetUserMsg.asp?cid=" + c_ + "&wait=" + std::to_string(wait);
  }

  InProcessSite site_;
  std::unique_ptr<LoopbackHttpClient> op_, visitor_;
  std::string token_, c_;
  int cid_ = 0;
};

TEST_F(ServeLongPollTest, HeldPollWakesForAPostInItsConversationOnly) {
  auto other_visitor = site_.Client();
  site_.Visit(*other_visitor);
  const int other_cid = ServedSite::OpenChat(*other_visitor);
  ASSERT_GT(other_cid, 0);
  ASSERT_NE(other_cid, cid_);

  Held poll = HoldPoll(site_.port(), op_->cookies(), OperatorPoll(8));
  WaitForHeld(site_, 1);
  VisitorSays(*other_visitor, other_cid, "elsewhere");
  EXPECT_FALSE(poll.Answered(milliseconds(700))) << "woken by another conversation";

  const Clock::time_point posted = Clock::now();
  VisitorSays(*visitor_, cid_, "first");
  VisitorSays(*visitor_, cid_, "second");
  ASSERT_TRUE(poll.Answered(milliseconds(9000)));
  const long long latency = MillisSince(posted);
  const HttpReply reply = poll.reply.get();
  std::printf("held poll answered %lld ms after the post\n", latency);
  // Woken, not timed out (the wait was 8 s); the figure itself is the
  // browser test's to judge.
  EXPECT_LT(latency, 3000);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.Header("x-zelto-wait"), "8");
  const size_t first = reply.body.find("first");
  ASSERT_NE(first, std::string::npos) << reply.body;
  // Both, in order, unless the second came after the re-run's select.
  const size_t second = reply.body.find("second");
  std::string rest = op_->Get("/operator/GetUserMsg.asp?cid=" + c_).body;
  if (second == std::string::npos) {
    EXPECT_NE(rest.find("second"), std::string::npos);
    rest = op_->Get("/operator/GetUserMsg.asp?cid=" + c_).body;
  } else {
    EXPECT_LT(first, second);
  }
  EXPECT_EQ(rest, "") << "read marks written by the held poll";
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where conid=" + c_ +
                                          " and readFlag not like '%,5,%'"),
            "0");
}

TEST_F(ServeLongPollTest, VisitorPollWakesForTheOperatorAndSkipsItsOwnPost) {
  visitor_->Get("/visitor/GetClientMsg.asp?cid=" + c_);
  Held poll =
      HoldPoll(site_.port(), visitor_->cookies(), "/visitor/GetClientMsg.asp?wait=8&cid=" + c_);
  WaitForHeld(site_, 1);
  VisitorSays(*visitor_, cid_, "mine");
  EXPECT_FALSE(poll.Answered(milliseconds(700))) << "the visitor's own message is not news";
  OperatorSays(*op_, token_, cid_, "hello");
  ASSERT_TRUE(poll.Answered(milliseconds(9000)));
  const HttpReply reply = poll.reply.get();
  EXPECT_NE(reply.body.find("hello"), std::string::npos) << reply.body;
  EXPECT_EQ(reply.body.find("mine"), std::string::npos);
}

TEST_F(ServeLongPollTest, WaitEndsWithNothingUnread) {
  const Clock::time_point start = Clock::now();
  const HttpReply plain = op_->Get("/operator/GetUserMsg.asp?cid=" + c_);
  const HttpReply waited = op_->Get(OperatorPoll(1));
  const long long ms = MillisSince(start);
  EXPECT_GE(ms, 900);
  EXPECT_EQ(waited.status, 200);
  EXPECT_EQ(waited.body, "");
  EXPECT_EQ(waited.Header("x-zelto-hresult"), plain.Header("x-zelto-hresult"))
      << "the answer of an ordinary poll that found nothing";
  EXPECT_EQ(waited.Header("x-zelto-wait"), "1");
  // Messages waiting already: answered at once.
  VisitorSays(*visitor_, cid_, "ready");
  const Clock::time_point again = Clock::now();
  EXPECT_NE(op_->Get(OperatorPoll(8)).body.find("ready"), std::string::npos);
  EXPECT_LT(MillisSince(again), 3000);
}

// The host takes "wait" for itself whatever its spelling; the rest of the
// query is the component's as it was.
TEST_F(ServeLongPollTest, WaitParameterIsTheHosts) {
  const struct {
    std::string query;
    std::string granted;
  } cases[] = {
      {"wait=1&cid=" + c_, "1"},        {"cid=" + c_ + "&WAIT=1", "1"},
      {"cid=" + c_ + "&w%61it=1", "1"}, {"cid=" + c_ + "&wait=999", "25"},
      {"cid=" + c_ + "&wait=abc", "0"}, {"cid=" + c_ + "&wait=0", "0"},
      {"cid=" + c_ + "&wait", "0"},     {"cid=" + c_ + "&wait=1&wait=2", "1"},
  };
  for (const auto& c : cases) {
    VisitorSays(*visitor_, cid_, "for-" + c.query);
    const HttpReply reply = op_->Get("/operator/GetUserMsg.asp?" + c.query);
    EXPECT_EQ(reply.Header("x-zelto-wait"), c.granted) << c.query;
    EXPECT_NE(reply.body.find("for-" + c.query.substr(0, 4)), std::string::npos)
        << c.query << ": the component read its cid";
  }
  EXPECT_EQ(op_->Get("/operator/GetUserMsg.asp?cid=" + c_).Header("x-zelto-wait"), "")
      << "said only when asked";
  // A malformed cid is not held: the component answers at once as always.
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(op_->Get("/operator/GetUserMsg.asp?cid=x&wait=5").Header("x-zelto-wait"), "0");
  EXPECT_LT(MillisSince(start), 3000);
}

TEST_F(ServeLongPollTest, StopAnswersHeldPollsAtOnce) {
  Held poll = HoldPoll(site_.port(), op_->cookies(), OperatorPoll(9));
  WaitForHeld(site_, 1);
  const Clock::time_point stopping = Clock::now();
  std::future<bool> stopped = std::async(std::launch::async, [this] { return site_.Stop(); });
  ASSERT_TRUE(poll.Answered(milliseconds(5000))) << "held through the stop";
  const HttpReply reply = poll.reply.get();
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.body, "");
  EXPECT_TRUE(stopped.get()) << site_.Output();
  EXPECT_LT(MillisSince(stopping), 5000);
}

class ServeLongPollBoundTest : public ServeLongPollTest {
 protected:
  ServeLongPollBoundTest() : ServeLongPollTest({"--long-poll-max", "1"}) {}
};

TEST_F(ServeLongPollBoundTest, BeyondTheBoundPollsAnswerAtOnce) {
  Held first = HoldPoll(site_.port(), op_->cookies(), OperatorPoll(8));
  WaitForHeld(site_, 1);
  const Clock::time_point start = Clock::now();
  const HttpReply second = visitor_->Get("/visitor/GetClientMsg.asp?cid=" + c_ + "&wait=8");
  EXPECT_LT(MillisSince(start), 3000);
  EXPECT_EQ(second.status, 200);
  EXPECT_EQ(second.Header("x-zelto-wait"), "0") << "not held: the page falls back";
  EXPECT_FALSE(first.Answered(milliseconds(0)));
  VisitorSays(*visitor_, cid_, "release");
  ASSERT_TRUE(first.Answered(milliseconds(9000)));
  EXPECT_NE(first.reply.get().body.find("release"), std::string::npos);
}

TEST_F(ServeLongPollBoundTest, AClientThatLeavesFreesItsPlace) {
  {
    RawConnection gone(site_.port());
    std::string cookies;
    for (const auto& [name, value] : op_->cookies()) cookies += name + "=" + value + "; ";
    ASSERT_TRUE(gone.Send("GET " + OperatorPoll(25) + " HTTP/1.1\r\nHost: t\r\nCookie: " + cookies +
                          "\r\n\r\n"));
    WaitForHeld(site_, 1);
  }  // closed while held
  WaitForHeld(site_, 0);
  const std::string granted = op_->Get(OperatorPoll(1)).Header("x-zelto-wait");
  EXPECT_EQ(granted, "1") << "the place of the gone client is still taken";
}

TEST(ServeLongPollOptions, BadBoundIsAUsageError) {
  for (const std::string value : {"-1", "x", "", "1000001"}) {
    std::string output;
    EXPECT_EQ(ServeProcess::RunZelto({"serve", "--long-poll-max", value}, &output), 2) << value;
    EXPECT_NE(output.find("--long-poll-max"), std::string::npos) << output;
  }
}

// --- Hosts on one PostgreSQL database, on a cluster of this suite's own
// (its server is stopped and started again).

class ServeLongPollPostgresTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { pg_ = std::make_unique<PrivatePgCluster>(); }
  static void TearDownTestSuite() { pg_.reset(); }

 protected:
  void SetUp() override {
    if (pg_->start_failed()) FAIL() << pg_->unavailable_reason();
    if (!pg_->available()) GTEST_SKIP() << pg_->unavailable_reason();
    root_ =
        pg_->state_dir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(root_ + "/www/site");
    std::FILE* f = std::fopen((root_ + "/www/site/index.html").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("<!doctype html><title>site</title>", f);
    std::fclose(f);
  }
  std::unique_ptr<ServeProcess> StartHost(const std::string& name) {
    auto host = std::make_unique<ServeProcess>(
        root_ + "/" + name, pg_->ServeArgs(),
        std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", root_ + "/www"}});
    EXPECT_NE(host->port(), 0) << host->Output();
    return host;
  }
  // A host in the test's process, whose held polls the test can see.
  std::unique_ptr<InProcessSite> StartSeenHost(const std::string& name) {
    std::vector<std::string> args = pg_->ServeArgs();
    args.insert(args.end(), {"--data", root_ + "/" + name});
    auto host = std::make_unique<InProcessSite>(args);
    EXPECT_TRUE(host->running()) << host->Output();
    return host;
  }

  static inline std::unique_ptr<PrivatePgCluster> pg_;
  std::string root_;
};

// A held poll on `waiting`, then a post through `post`: how long the poll
// took after the post (ms), or -1 when it was not answered with it.
long long WakeAcross(InProcessSite& waiting, LoopbackHttpClient& op, int cid,
                     const std::function<void()>& post, const std::string& text) {
  Held poll = HoldPoll(waiting.port(), op.cookies(),
                       "/operator/GetUserMsg.asp?cid=" + std::to_string(cid) + "&wait=8");
  WaitForHeld(waiting, 1);
  if (::testing::Test::HasFatalFailure() || poll.Answered(milliseconds(0))) {
    ADD_FAILURE() << "answered before the post: " << poll.reply.get().body;
    return -1;
  }
  const Clock::time_point posted = Clock::now();
  post();
  if (!poll.Answered(milliseconds(9000))) return -1;
  const long long ms = MillisSince(posted);
  const HttpReply reply = poll.reply.get();
  if (reply.body.find(text) == std::string::npos) {
    // Posted after the poll's select: the next poll has it.
    if (op.Get("/operator/GetUserMsg.asp?cid=" + std::to_string(cid)).body.find(text) ==
        std::string::npos)
      ADD_FAILURE() << text << " lost";
  }
  return ms;
}

TEST_F(ServeLongPollPostgresTest, PostOnOneHostWakesAPollOnAnotherAfterARestartToo) {
  auto first = StartHost("first");
  auto second = StartSeenHost("second");
  ASSERT_NE(first->port(), 0);
  ASSERT_TRUE(second->running());
  LongPoll& polls = second->site().long_poll();
  const auto linked = [&polls] { return polls.notifications_reliable(); };
  LoopbackHttpClient op(second->port());
  ServedSite::Login(op, 5, "demo5");
  LoopbackHttpClient visitor(first->port());
  ASSERT_EQ(visitor.Get("/site/index.html").status, 200);
  const int cid = ServedSite::OpenChat(visitor);
  ASSERT_GT(cid, 1);
  op.Get("/operator/GetUserMsg.asp?cid=" + std::to_string(cid));

  // The notifier connects in the background: a slow wake is a recheck
  // until it has.
  long long ms = -1;
  for (int i = 0; i < 5 && (ms < 0 || ms > 1500); ++i) {
    if (i > 0) WaitUntil(linked);
    const std::string text = "across" + std::to_string(i);
    ms = WakeAcross(
        *second, op, cid, [&] { VisitorSays(visitor, cid, text); }, text);
  }
  std::printf("a post on one host woke a poll on another after %lld ms\n", ms);
  // Faster than the 2 s rechecks a host falls back to without the notifier.
  EXPECT_GE(ms, 0);
  EXPECT_LT(ms, 1500);

  ASSERT_TRUE(pg_->Halt());
  struct Resume {
    ~Resume() { pg_->Resume(); }
  } resume_on_failure;
  ASSERT_TRUE(WaitUntil([&] { return !linked(); })) << "the notifier noticed the outage";
  ASSERT_TRUE(pg_->Resume());

  // Nothing is missed while the notifier reconnects, and the wake is
  // instant again once it has.
  ms = -1;
  for (int i = 0; i < 10 && (ms < 0 || ms > 1500); ++i) {
    const std::string text = "restarted" + std::to_string(i);
    ms = WakeAcross(
        *second, op, cid, [&] { VisitorSays(visitor, cid, text); }, text);
    EXPECT_GE(ms, 0) << "a held poll missed " << text;
    if (ms < 0 || ms > 1500) WaitUntil(linked);
  }
  std::printf("after the database restart: %lld ms\n", ms);
  EXPECT_LT(ms, 1500);
  EXPECT_GE(ms, 0);
  EXPECT_EQ(first->Stop(), 0) << first->Output();
  EXPECT_TRUE(second->Stop()) << second->Output();
}

}  // namespace
}  // namespace zelto::testing
