// A chat's life in the web application, on both engines: routing to the
// online operator with the fewest running chats (ties to the one idle
// longest), nobody online opens nothing, the per-operator limit and the
// queue in arrival order, availability by sessions, the end recorded once
// with who and when, and many arrivals and ends at once on two hosts
// never giving one chat two operators or an operator more than the limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/serve/web_app.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::ChatEnd;
using serve::RoutedChat;
using serve::SiteDatabase;
using serve::WebApp;

constexpr LONG kCompany = 1;
constexpr char kRunningVisitor[] = "20240520091502731";  // conversation 1, operator 5

class ChatRoutingTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    site_db_ = NewSiteDatabase();
    app_ = NewApp(*site_db_);
  }

  std::unique_ptr<SiteDatabase> NewSiteDatabase() {
    return std::make_unique<SiteDatabase>(
        db_.folder(), db_.user(), db_.password(),
        std::pair<std::string, std::string>{db_.catalog("chat"), db_.catalog("count")});
  }
  // Every reading of the clock moves it on by one second, so times say
  // the order in which transactions ran.
  std::unique_ptr<WebApp> NewApp(const SiteDatabase& db) {
    return std::make_unique<WebApp>(db, [this] { return ++now_; });
  }

  void Online(LONG id, WebApp* app = nullptr) {
    std::string error;
    ASSERT_TRUE((app ? app : app_.get())->availability.SessionStarted(id, kCompany, &error))
        << error;
  }
  void SetLimit(int limit) {
    db_.Execute("chat", "insert into chatSetting (companyId, maxChats) values (1, " +
                            std::to_string(limit) + ")");
  }
  RoutedChat Open(const std::string& label, WebApp* app = nullptr) {
    std::string error;
    auto routed = (app ? app : app_.get())->routing.Open(label, kCompany, &error);
    EXPECT_TRUE(routed) << error;
    return routed.value_or(RoutedChat());
  }
  std::vector<LONG> End(LONG cid, const char* by = serve::kEndedByOperator) {
    std::string error;
    auto ended = app_->lifecycle.End(cid, by, 5, &error);
    EXPECT_TRUE(ended) << error;
    return ended ? ended->assigned : std::vector<LONG>{};
  }
  std::string OperatorOf(LONG cid) {
    return db_.Scalar("chat", "select serid from conversation where cid=" + std::to_string(cid));
  }
  LONG Position(LONG cid) {
    std::string error;
    auto place = app_->routing.PlaceOf(cid, &error);
    EXPECT_TRUE(place) << error;
    return place ? place->position : -1;
  }

  SeededDatabase db_{GetParam(), true};
  std::unique_ptr<SiteDatabase> site_db_;
  std::unique_ptr<WebApp> app_;
  std::atomic<int64_t> now_{1'000'000};
};

TEST_P(ChatRoutingTest, NobodyOnlineOpensNothing) {
  const std::string conversations = db_.Scalar("chat", "select count(*) from conversation");
  EXPECT_EQ(Open("Vnobody").kind, RoutedChat::Kind::kNobodyOnline);
  Online(12);
  std::string error;
  ASSERT_TRUE(app_->availability.Choose(12, kCompany, serve::kAway, &error)) << error;
  const RoutedChat routed = Open("Vnobody");
  EXPECT_EQ(routed.kind, RoutedChat::Kind::kNobodyOnline) << "away is not there";
  EXPECT_EQ(routed.cid, 0);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation"), conversations);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from chatState"), "0");
}

TEST_P(ChatRoutingTest, FewestRunningChatsFirstThenTheOneIdleLongest) {
  Online(5);  // already in conversation 1
  Online(12);
  struct Step {
    const char* visitor;
    const char* operator_id;
    const char* why;
  };
  const Step steps[] = {
      {"Va", "12", "12 has none, 5 has one"},
      {"Vb", "5", "one each; 5 never got one from the queue, 12 just did"},
      {"Vc", "12", "two each; 12's last came before 5's"},
      {"Vd", "5", "three each; 5 idle longer"},
  };
  for (const Step& step : steps) {
    const RoutedChat routed = Open(step.visitor);
    ASSERT_EQ(routed.kind, RoutedChat::Kind::kRunning) << step.visitor;
    EXPECT_EQ(OperatorOf(routed.cid), step.operator_id) << step.why;
    EXPECT_EQ(Open(step.visitor).cid, routed.cid) << "opening again gives the same chat";
  }
  std::string error;
  ASSERT_TRUE(app_->availability.Choose(5, kCompany, serve::kAway, &error)) << error;
  EXPECT_EQ(OperatorOf(Open("Ve").cid), "12") << "5 is away";
}

TEST_P(ChatRoutingTest, AtTheLimitChatsQueueAndAreAssignedInArrivalOrder) {
  SetLimit(1);
  End(1);  // operator 5's demo conversation
  Online(12);
  const RoutedChat first = Open("Vfirst");
  ASSERT_EQ(first.kind, RoutedChat::Kind::kRunning);
  const RoutedChat second = Open("Vsecond"), third = Open("Vthird");
  ASSERT_EQ(second.kind, RoutedChat::Kind::kQueued);
  ASSERT_EQ(third.kind, RoutedChat::Kind::kQueued);
  EXPECT_EQ(OperatorOf(second.cid), "") << "no conversation row while queued";
  EXPECT_EQ(Position(second.cid), 1);
  EXPECT_EQ(Position(third.cid), 2);
  EXPECT_EQ(Open("Vsecond").cid, second.cid) << "the same place, not a second one";
  std::string error;
  EXPECT_EQ(app_->routing.QueueLength(kCompany, &error), 2) << error;

  EXPECT_EQ(End(first.cid), std::vector<LONG>{second.cid}) << "the oldest takes the room";
  EXPECT_EQ(OperatorOf(second.cid), "12");
  EXPECT_EQ(Position(third.cid), 1);

  // Away: the room freed stays unused; back online: the queue moves.
  ASSERT_TRUE(app_->availability.Choose(12, kCompany, serve::kAway, &error)) << error;
  EXPECT_TRUE(End(second.cid).empty());
  auto assigned = app_->availability.Choose(12, kCompany, serve::kOnline, &error);
  ASSERT_TRUE(assigned) << error;
  EXPECT_EQ(*assigned, std::vector<LONG>{third.cid});
  EXPECT_EQ(Position(third.cid), 0);

  // A visitor leaving the queue ends their place in it.
  const RoutedChat fourth = Open("Vfourth");
  ASSERT_EQ(fourth.kind, RoutedChat::Kind::kQueued);
  End(fourth.cid, serve::kEndedByVisitor);
  EXPECT_EQ(app_->routing.QueueLength(kCompany, &error), 0);
  EXPECT_TRUE(End(third.cid).empty()) << "the ended place is never assigned";
}

TEST_P(ChatRoutingTest, TheEndIsRecordedOnceWithWhoAndWhen) {
  std::string error;
  EXPECT_FALSE(app_->lifecycle.IsConversationEnded(1, &error)) << "running";
  EXPECT_EQ(error, "");
  End(1, serve::kEndedBySupervisor);
  const int64_t ended_at = now_;
  std::optional<ChatEnd> end = app_->lifecycle.EndOf(1, &error);
  ASSERT_TRUE(end) << error;
  EXPECT_EQ(end->by, "supervisor");
  EXPECT_GT(end->at, 0);
  EXPECT_LE(end->at, ended_at);
  // What the component expects of an ended conversation, as before.
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation where cid=1"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from C_members where cid=1 and IsChat=1"), "0");
  EXPECT_EQ(db_.Scalar("chat", std::string("select beChatting from onlineCst where cstLabel='") +
                                   kRunningVisitor + "'"),
            "0");

  End(1, serve::kEndedByVisitor);
  end = app_->lifecycle.EndOf(1, &error);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->by, "supervisor") << "the first end stays";
  // A conversation gone without a record (ended before ends were
  // recorded, or never there) counts as ended, by nobody known.
  end = app_->lifecycle.EndOf(999, &error);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->by, "");
}

TEST_P(ChatRoutingTest, TheLastSessionMakesAnOperatorOffline) {
  std::string error;
  auto state_of = [&](LONG id) {
    for (const auto& op : app_->availability.StatesOf(kCompany, &error))
      if (op.id == id) return op.state;
    return std::string("missing");
  };
  EXPECT_EQ(state_of(12), "offline") << "never logged in";
  Online(12);
  Online(12);  // a second browser
  ASSERT_TRUE(app_->availability.Choose(12, kCompany, serve::kAway, &error));
  ASSERT_TRUE(app_->availability.SessionEnded(12, &error)) << error;
  EXPECT_EQ(state_of(12), "away") << "one session left";
  ASSERT_TRUE(app_->availability.SessionEnded(12, &error)) << error;
  EXPECT_EQ(state_of(12), "offline");
  ASSERT_TRUE(app_->availability.SessionEnded(12, &error)) << "an extra end counts nothing";
  Online(12);
  EXPECT_EQ(state_of(12), "online");
  ASSERT_TRUE(app_->availability.OperatorWentOffline(12, &error)) << error;
  EXPECT_EQ(state_of(12), "offline");
  EXPECT_EQ(Open("Vlate").kind, RoutedChat::Kind::kNobodyOnline);
}

// Many visitors arrive at once on two hosts, then chats end at once on both:
// every chat gets one operator once, nobody is ever over the limit, and the
// queue is served in arrival order.
TEST_P(ChatRoutingTest, ArrivalsAndEndsAtOnceOnTwoHosts) {
  constexpr int kLimit = 3, kThreads = 8, kPerThread = 25;  // 200 arrivals
  SetLimit(kLimit);
  End(1);
  auto other_db = NewSiteDatabase();
  auto other = NewApp(*other_db);
  WebApp* hosts[] = {app_.get(), other.get()};
  Online(5);
  Online(12, other.get());

  std::mutex mutex;
  std::vector<LONG> running, queued;
  std::string errors;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        std::string error;
        auto routed =
            hosts[t % 2]->routing.Open("Vs" + std::to_string(t) + "_" + std::to_string(i), kCompany,
                                       &error);
        std::lock_guard<std::mutex> lock(mutex);
        if (!routed)
          errors += error + "\n";
        else
          (routed->kind == RoutedChat::Kind::kRunning ? running : queued).push_back(routed->cid);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(errors, "");
  ASSERT_EQ(running.size(), 2u * kLimit) << "both operators filled, no more";
  ASSERT_EQ(queued.size(), kThreads * kPerThread - 2u * kLimit);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation"), std::to_string(2 * kLimit));

  // Ends on both hosts at once, each freeing room for the next in line,
  // until everything ended.
  std::atomic<size_t> next{0};
  std::vector<LONG> to_end = running;
  std::vector<LONG> assigned;
  std::atomic<int> over_limit{0};
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      while (true) {
        LONG cid = 0;
        {
          std::lock_guard<std::mutex> lock(mutex);
          if (next >= to_end.size()) {
            if (assigned.size() == queued.size()) return;
          } else {
            cid = to_end[next++];
          }
        }
        if (cid == 0) {
          std::this_thread::yield();
          continue;
        }
        std::string error;
        auto ended = hosts[t % 2]->lifecycle.End(cid, serve::kEndedByOperator, 5, &error);
        std::vector<SiteDatabase::Row> most;
        std::string read_error;
        site_db_->Query(serve::kChatCatalog,
                        "select count(*) as n from conversation group by serid", {"n"}, &most,
                        &read_error);
        for (const auto& row : most)
          if (std::stol(row[0]) > kLimit) ++over_limit;
        std::lock_guard<std::mutex> lock(mutex);
        if (!ended) {
          errors += error + "\n";
          assigned.resize(queued.size());  // stop the others
          return;
        }
        for (LONG a : ended->assigned) {
          assigned.push_back(a);
          to_end.push_back(a);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(errors, "");
  std::vector<LONG> sorted_assigned = assigned, sorted_queued = queued;
  std::sort(sorted_assigned.begin(), sorted_assigned.end());
  std::sort(sorted_queued.begin(), sorted_queued.end());
  EXPECT_EQ(sorted_assigned, sorted_queued) << "every queued chat assigned exactly once";

  // Arrival order: the assignment times follow the ids (ids were taken in
  // arrival order); each chat's members: the visitor and one operator.
  const auto rows = db_.Query(
      "chat", "select cid, assignedAt, operatorId, state from chatState order by assignedAt");
  LONG last_cid = 0;
  for (const auto& row : rows) {
    const LONG cid = std::stol(row.at("cid"));
    EXPECT_EQ(row.at("state"), "ended");
    if (std::find(queued.begin(), queued.end(), cid) == queued.end()) continue;
    EXPECT_GT(cid, last_cid) << "assigned out of arrival order";
    last_cid = cid;
  }
  EXPECT_EQ(db_.Scalar("chat",
                       "select count(*) from (select cid from C_members where serid<>0 and cid>1 "
                       "group by cid having count(*)<>1) x"),
            "0")
      << "a chat with two operators";
  EXPECT_EQ(over_limit.load(), 0);
}

ZELTO_ON_EVERY_ENGINE(ChatRoutingTest);

}  // namespace
}  // namespace zelto::testing
