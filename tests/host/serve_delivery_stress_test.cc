// Delivery under load through `zelto serve` on each engine: visitors and
// operators are HTTP clients on the loopback, each in a thread of its own,
// posting numbered messages and polling through the site's routes for a
// bounded time. Afterwards every message is stored once, every participant
// received every message of its conversation it did not send exactly once,
// a visitor outside the conversations received nothing, no request was
// answered with a server error, and the host logged no database failure.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/engine.h"
#include "tests/support/database_rows.h"
#include "tests/support/delivery_ledger.h"
#include "tests/support/loopback_http_client.h"
#include "tests/support/private_pg_cluster.h"
#include "tests/support/serve_process.h"
#include "tests/support/served_site.h"
#include "tests/support/standing_operator.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kRunTime = 3s;
constexpr size_t kMostPostsEach = 250;
constexpr int kOwner = 5;  // the demo company's first operator: every chat opens with him

// A conversation: the operators invited besides the owner, whether the
// visitor's chat window reported itself open (a preMsg row: operator
// messages then are no longer copied to inviteMsg), and an operator the
// owner invites halfway through the run (0: none).
struct Conversation {
  std::vector<int> invited;
  bool window_open;
  int late = 0;
};
const Conversation kConversations[] = {
    {{}, true, 12}, {{12}, false}, {{7}, true}, {{12, 7}, false}};

const char* const kPasswords[] = {"",      "", "", "", "", "demo5", "",
                                  "demo7", "", "", "", "", "demo12"};

struct Seat {
  int cid = 0;
  int operator_id = 0;  // 0: the visitor
  std::string label;
  std::string token;  // an operator's cross-site token
  bool late = false;  // joins halfway
  std::unique_ptr<LoopbackHttpClient> client;
  size_t participant = 0;
};

std::string MakeFolder(const std::string& stem) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + stem + "-XXXXXX";
  return mkdtemp(pattern.data()) ? pattern : "";
}

bool IsServerError(int status) { return status == 0 || status >= 500; }

class ServeDeliveryStressTest : public ::testing::TestWithParam<TestEngine> {
 public:
  static void TearDownTestSuite() { cluster_.reset(); }

 protected:
  void SetUp() override {
    // A load test: no message rate limit.
    std::vector<std::string> args = {"--threads", "4", "--message-rate", "0"};
    if (GetParam() == TestEngine::kPostgres) {
      if (!cluster_) cluster_ = std::make_unique<PrivatePgCluster>();
      if (!cluster_->available()) GTEST_SKIP() << cluster_->unavailable_reason();
      for (const std::string& arg : cluster_->ServeArgs()) args.push_back(arg);
    }
    root_ = MakeFolder("zelto-stress");
    ASSERT_FALSE(root_.empty());
    fs::create_directories(root_ + "/www/site");
    std::ofstream(root_ + "/www/site/index.html") << "<!doctype html><title>site</title>";
    host_ = std::make_unique<ServeProcess>(
        root_ + "/data", args,
        std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", root_ + "/www"}});
    ASSERT_NE(host_->port(), 0) << host_->Output();
    for (const char* sql : kStandingOperatorStatements) Rows(sql);
    for (const char* sql : kOthersAwayStatements) Rows(sql);
  }
  void TearDown() override {
    if (host_) EXPECT_EQ(host_->Stop(), 0) << host_->Output();
    host_.reset();
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // The rows of `sql` on the host's chat database, every value as text.
  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    ado::ConnectionString target;
    target.initial_catalog = "chat";
    ado::Engine* engine = ado::SqliteEngine();
    target.data_source = root_ + "/data";
    if (GetParam() == TestEngine::kPostgres) {
      engine = ado::PostgresEngine();
      target.data_source = cluster_->settings().server;
      target.user_id = cluster_->settings().user;
      target.password = cluster_->settings().password;
    }
    return DatabaseRows(engine, target, sql);
  }

  // A visitor on the company site, with a chat of its own: the visitor's
  // seat, and one seat per operator of the conversation.
  void OpenConversation(const Conversation& conversation) {
    Seat visitor;
    visitor.client = std::make_unique<LoopbackHttpClient>(host_->port());
    ASSERT_EQ(visitor.client->Get("/site/index.html").status, 200);
    const HttpReply chat = visitor.client->Post("/api/visitor/chat", "");
    ASSERT_EQ(chat.status, 200) << chat.body;
    visitor.cid = static_cast<int>(JsonNumber(chat.body, "cid"));
    visitor.label = JsonText(chat.body, "label");
    ASSERT_GT(visitor.cid, 0) << chat.body;
    const std::string cid = std::to_string(visitor.cid);
    if (conversation.window_open) {
      ASSERT_EQ(visitor.client->Post("/api/visitor/chat-opened", "cid=" + cid).status, 200);
    }
    std::vector<int> operators = {kOwner};
    for (int id : conversation.invited) {
      ASSERT_TRUE(Invite(visitor.cid, id));
      operators.push_back(id);
    }
    if (conversation.late) operators.push_back(conversation.late);
    visitor.participant = ledger_.Add(visitor.cid, "v" + cid, "," + visitor.label + ",");
    seats_.push_back(std::move(visitor));
    for (int id : operators) {
      Seat op;
      op.cid = seats_.back().cid;
      op.operator_id = id;
      op.late = id == conversation.late;
      op.client = std::make_unique<LoopbackHttpClient>(host_->port());
      op.token = ServedSite::Login(*op.client, id, kPasswords[id]);
      ASSERT_FALSE(op.token.empty());
      op.participant =
          ledger_.Add(op.cid, "o" + std::to_string(id), "," + std::to_string(id) + ",");
      seats_.push_back(std::move(op));
    }
  }

  // The owner invites operator `id` into conversation `cid`: whether that
  // succeeded (a test failure otherwise).
  bool Invite(int cid, int id) {
    const HttpReply invited =
        owner_->Get("/operator/InvitUser.asp?cid=" + std::to_string(cid) +
                    "&serid=" + std::to_string(id) + "&action=inv&token=" + owner_token_);
    if (IsServerError(invited.status)) ++server_errors_;
    const bool done =
        invited.status == 200 && invited.body.find("window.close") != std::string::npos;
    EXPECT_TRUE(done) << invited.status << " " << invited.body;
    return done;
  }

  // One request of a seat; counts server errors.
  HttpReply Request(Seat& seat, const std::string& page, const std::string& extra) {
    const std::string side = seat.operator_id ? "/operator/" : "/visitor/";
    std::string target = side + page + "?cid=" + std::to_string(seat.cid) + extra;
    if (seat.operator_id && page == "DoUserMsg.asp") target += "&token=" + seat.token;
    HttpReply reply = seat.client->Get(target);
    if (IsServerError(reply.status)) ++server_errors_;
    return reply;
  }

  bool Post(Seat& seat) {
    const std::string text = ledger_.NextText(seat.participant);
    const auto started = std::chrono::steady_clock::now();
    const HttpReply reply = Request(seat, seat.operator_id ? "DoUserMsg.asp" : "DoClientMsg.asp",
                                    "&action=sub&msgContent=" + text);
    const bool echoed = reply.status == 200 && reply.body.find(text) != std::string::npos;
    EXPECT_TRUE(echoed) << text << ": " << reply.status << " " << reply.body;
    if (echoed) ledger_.Posted(seat.participant, text, started);
    return echoed;
  }

  void Poll(Seat& seat) {
    const HttpReply reply =
        Request(seat, seat.operator_id ? "GetUserMsg.asp" : "GetClientMsg.asp", "");
    EXPECT_EQ(reply.status, 200) << reply.body;
    ledger_.Polled(seat.participant, reply.status == 200 ? reply.body : "");
  }

  static std::unique_ptr<PrivatePgCluster> cluster_;
  std::string root_;
  std::unique_ptr<ServeProcess> host_;
  std::unique_ptr<LoopbackHttpClient> owner_;  // used by one thread at a time
  std::string owner_token_;
  DeliveryLedger ledger_;
  std::vector<Seat> seats_;
  std::atomic<size_t> server_errors_{0};
};

std::unique_ptr<PrivatePgCluster> ServeDeliveryStressTest::cluster_;

TEST_P(ServeDeliveryStressTest, EveryMessageStoredOnceAndDeliveredOnceToEachReader) {
  // The owner logs in first, so that every chat opens with him.
  owner_ = std::make_unique<LoopbackHttpClient>(host_->port());
  owner_token_ = ServedSite::Login(*owner_, kOwner, kPasswords[kOwner]);
  ASSERT_FALSE(owner_token_.empty());
  for (const Conversation& conversation : kConversations) {
    OpenConversation(conversation);
    if (HasFatalFailure()) return;
  }
  LoopbackHttpClient stranger(host_->port());
  ASSERT_EQ(stranger.Get("/site/index.html").status, 200);
  const std::string watched = std::to_string(seats_[0].cid);

  std::atomic<bool> stop{false};
  std::barrier posting_done(static_cast<std::ptrdiff_t>(seats_.size() + 1));
  std::atomic<size_t> stranger_received{0};
  std::atomic<size_t> stranger_polls{0};
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seats_.size(); ++i) {
    threads.emplace_back([&, i] {
      Seat& seat = seats_[i];
      if (seat.late) {  // the owner's client is this thread's alone from now on
        std::this_thread::sleep_for(kRunTime / 2);
        if (Invite(seat.cid, seat.operator_id)) ledger_.Joined(seat.participant);
      }
      for (size_t round = 0; !stop.load() && ledger_.posted(seat.participant) < kMostPostsEach;
           ++round) {
        if ((round + i) % 2 == 0 && !Post(seat)) break;
        Poll(seat);
      }
      posting_done.arrive_and_wait();
      Poll(seat);  // everything the others posted is stored by now
    });
  }
  threads.emplace_back([&] {
    while (!stop.load()) {
      const HttpReply reply = stranger.Get("/visitor/GetClientMsg.asp?cid=" + watched);
      if (IsServerError(reply.status)) ++server_errors_;
      stranger_received += MessageTexts(reply.body).size();
      ++stranger_polls;
      std::this_thread::sleep_for(2ms);
    }
    posting_done.arrive_and_wait();
  });
  std::this_thread::sleep_for(kRunTime);
  stop = true;
  for (std::thread& t : threads) t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::vector<StoredMessage> stored;
  for (const auto& row : Rows("select conid, msgContent, readFlag from msg"))
    stored.push_back({std::stoi(row[0]), row[1], row[2]});
  const DeliveryReport report = ledger_.Check(stored);
  for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
  EXPECT_TRUE(report.clean());
  EXPECT_EQ(report.lost, 0u);
  EXPECT_EQ(report.duplicates, 0u);
  EXPECT_GE(report.posted, seats_.size()) << "every participant posted";
  EXPECT_EQ(server_errors_.load(), 0u);
  EXPECT_EQ(stranger_received.load(), 0u);
  const std::string log = host_->Output();
  for (const char* sign : {"locked", "busy", "deadlock", "could not serialize", "zelto serve: "})
    EXPECT_EQ(log.find(sign), std::string::npos) << sign << " in the host's output:\n" << log;

  std::printf(
      "[ figures  ] %s through zelto serve: %zu client threads, %zu conversations, %zu messages, "
      "%zu polls (+%zu by a stranger), %zu deliveries, lost %zu, duplicates %zu, server errors "
      "%zu, %.1f s\n",
      EngineSettingName(GetParam()), seats_.size() + 1, std::size(kConversations), report.posted,
      report.polls, stranger_polls.load(), report.received, report.lost, report.duplicates,
      server_errors_.load(), seconds);
}

ZELTO_ON_EVERY_ENGINE(ServeDeliveryStressTest);

}  // namespace
}  // namespace zelto::testing
