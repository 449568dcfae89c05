// Routing under load, end to end: two `zelto serve` hosts on one PostgreSQL
// database, two operators logged in on different hosts, 200 visitors
// opening chats at once on both hosts, then every chat ended at once from
// both hosts. Every chat is assigned exactly once, to one operator, never
// more than the limit per operator at any moment, and the queue is served
// in arrival order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/engine.h"
#include "tests/support/database_rows.h"
#include "tests/support/loopback_http_client.h"
#include "tests/support/private_pg_cluster.h"
#include "tests/support/serve_process.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kVisitors = 200, kThreads = 8, kLimit = 4;

class ServeRoutingStressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (cluster_.start_failed()) FAIL() << cluster_.unavailable_reason();
    if (!cluster_.available()) GTEST_SKIP() << cluster_.unavailable_reason();
    root_ = cluster_.state_dir() + "/routing";
    fs::create_directories(root_ + "/www/site");
    std::ofstream(root_ + "/www/site/index.html") << "<!doctype html><title>site</title>";
    for (const char* name : {"first", "second"}) {
      hosts_.push_back(std::make_unique<ServeProcess>(
          root_ + "/" + name, cluster_.ServeArgs(),
          std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", root_ + "/www"}}));
      ASSERT_NE(hosts_.back()->port(), 0) << hosts_.back()->Output();
    }
  }
  void TearDown() override {
    for (auto& host : hosts_) EXPECT_EQ(host->Stop(), 0) << host->Output();
  }

  std::vector<std::vector<std::string>> Rows(const std::string& sql) {
    ado::ConnectionString target;
    target.data_source = cluster_.settings().server;
    target.initial_catalog = "chat";
    target.user_id = cluster_.settings().user;
    target.password = cluster_.settings().password;
    return DatabaseRows(ado::PostgresEngine(), target, sql);
  }

  PrivatePgCluster cluster_;
  std::string root_;
  std::vector<std::unique_ptr<ServeProcess>> hosts_;
};

struct Visitor {
  std::unique_ptr<LoopbackHttpClient> client;
  int cid = 0;
  std::string state;
};

TEST_F(ServeRoutingStressTest, TwoHundredArrivalsOnTwoHosts) {
  LoopbackHttpClient op5(hosts_[0]->port()), op12(hosts_[1]->port());
  ASSERT_FALSE(ServedSite::Login(op5, 5, "demo5").empty());
  ASSERT_FALSE(ServedSite::Login(op12, 12, "demo12").empty());
  // The demo conversation of operator 5 is not part of this.
  Rows("delete from conversation where cid=1");
  Rows("update C_members set IsChat=0 where cid=1");

  std::vector<Visitor> visitors(kVisitors);
  for (int i = 0; i < kVisitors; ++i) {
    visitors[i].client = std::make_unique<LoopbackHttpClient>(hosts_[i % 2]->port());
    ASSERT_EQ(visitors[i].client->Get("/site/index.html").status, 200);
  }
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < kVisitors; i += kThreads) {
        const HttpReply reply = visitors[i].client->Post("/api/visitor/chat", "");
        if (reply.status != 200) ++failures;
        visitors[i].cid = static_cast<int>(JsonNumber(reply.body, "cid"));
        visitors[i].state = JsonText(reply.body, "state");
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_EQ(failures.load(), 0);
  std::map<int, Visitor*> by_cid;
  int running = 0;
  for (Visitor& v : visitors) {
    ASSERT_GT(v.cid, 1);
    EXPECT_TRUE(by_cid.emplace(v.cid, &v).second) << "cid " << v.cid << " given twice";
    running += v.state == "running";
  }
  EXPECT_EQ(running, 2 * kLimit);
  EXPECT_EQ(Rows("select count(*) from chatState where state='queued'")[0][0],
            std::to_string(kVisitors - 2 * kLimit));

  // Every chat ends, from both hosts at once, as it gets its operator.
  std::atomic<int> over_limit{0}, ended{0};
  std::mutex mutex;
  std::set<int> ending;
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (ended < kVisitors && failures == 0) {
        std::vector<int> mine;
        for (const auto& row : Rows("select cid from chatState where state='running'")) {
          std::lock_guard<std::mutex> lock(mutex);
          if (ending.insert(std::stoi(row[0])).second) mine.push_back(std::stoi(row[0]));
        }
        for (const auto& row : Rows("select count(*) from conversation where cid>1 group by serid"))
          if (std::stoi(row[0]) > kLimit) ++over_limit;
        for (int cid : mine) {
          const HttpReply reply =
              by_cid.at(cid)->client->Post("/api/conversation/end", "cid=" + std::to_string(cid));
          if (reply.status != 200) ++failures;
          ++ended;
        }
        if (mine.empty()) std::this_thread::yield();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(over_limit.load(), 0) << "an operator over the limit";
  EXPECT_EQ(Rows("select count(*) from chatState where state='ended' and cid>1")[0][0],
            std::to_string(kVisitors));
  // One operator each, assigned once; assignments in arrival (cid) order.
  EXPECT_EQ(Rows("select count(*) from (select cid from C_members where serid<>0 and cid>1 "
                 "group by cid having count(*)<>1) x")[0][0],
            "0");
  const auto assigned = Rows("select cid, assignedAt from chatState where cid>1 order by cid");
  ASSERT_EQ(assigned.size(), static_cast<size_t>(kVisitors));
  for (size_t i = 1; i < assigned.size(); ++i)
    EXPECT_LE(std::stoll(assigned[i - 1][1]), std::stoll(assigned[i][1]))
        << "chat " << assigned[i][0] << " assigned before an earlier arrival";
}

}  // namespace
}  // namespace zelto::testing
