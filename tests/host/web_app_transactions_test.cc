// The web application's changes are whole or nothing, on both engines: a
// statement made to fail at each step of each operation in turn leaves the
// databases exactly as they were (rows compared before and after), the
// operation reports the failure, and the same operation then works.
// Conversation ids come from the counter: above every id any table used,
// never twice across threads and hosts, and an error past the 32-bit range.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/serve/data_folder.h"
#include "host/serve/web_app.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::OperatorInfo;
using serve::SiteDatabase;
using serve::WebApp;

constexpr char kVisitor[] = "20240520094005468";   // on the site, not chatting
constexpr char kChatting[] = "20240520091502731";  // in conversation 1 with operator 5

class WebAppTransactionsTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    site_db_ = NewSiteDatabase();
    site_db_->SetFault([this](std::string_view) { return ++seen_ == fail_at_; });
    reader_ = NewSiteDatabase();
    app_ = std::make_unique<WebApp>(*site_db_);
  }

  std::unique_ptr<SiteDatabase> NewSiteDatabase() {
    return std::make_unique<SiteDatabase>(
        db_.folder(), db_.user(), db_.password(),
        std::pair<std::string, std::string>{db_.catalog("chat"), db_.catalog("count")});
  }

  // Every row of the tables the web application writes, in a fixed order,
  // read through pooled sessions (the engine's own connections per read
  // would make the many snapshots slow on PostgreSQL).
  std::string Snapshot() {
    struct Table {
      const char* catalog;
      const char* name;
      std::vector<std::string> columns;
    };
    static const Table kTables[] = {
        {"chat", "conversation", {"cid", "cstlabel", "serid", "ctime"}},
        {"chat", "C_members", {"cid", "serid", "cstlabel", "addtime", "IsChat"}},
        {"chat", "onlineCst", {"cstLabel", "beChatting", "Invited", "IP", "searchkey"}},
        {"chat", "cstTrack", {"cstLabel", "presentTime", "presentPage"}},
        {"chat", "preMsg", {"cstlabel", "conid"}},
        {"chat", "conversationCounter", {"id", "lastCid"}},
        {"count", "t_Iprecord", {"IP", "recordTime"}}};
    std::string all;
    for (const Table& table : kTables) {
      SqlSession session = reader_->Open(table.catalog);
      std::vector<SqlSession::Row> rows;
      EXPECT_TRUE(session.Query(std::string("select * from ") + table.name, table.columns, &rows))
          << session.error();
      std::multiset<std::string> lines;
      for (const auto& row : rows) {
        std::string line;
        for (const std::string& field : row) line += field + ";";
        lines.insert(line);
      }
      all += std::string(table.name) + ":\n";
      for (const std::string& line : lines) all += "  " + line + "\n";
    }
    return all;
  }

  // Runs `operation` failing its 1st, 2nd, ... step until it runs through:
  // each failed run reports an error and leaves every row as it was.
  void ExpectAllOrNothing(const std::string& name,
                          const std::function<bool(std::string*)>& operation) {
    const std::string before = Snapshot();
    for (fail_at_ = 1; fail_at_ < 40; ++fail_at_) {
      seen_ = 0;
      std::string error;
      if (operation(&error)) break;
      EXPECT_NE(error, "") << name << ", step " << fail_at_.load();
      ASSERT_EQ(Snapshot(), before)
          << name << " left rows behind when step " << fail_at_.load() << " failed: " << error;
    }
    fail_at_ = 0;
    EXPECT_GT(seen_.load(), 1) << name << " ran at least two steps";
    EXPECT_NE(Snapshot(), before) << name << " changed nothing when nothing failed";
  }

  OperatorInfo Operator(LONG id) {
    std::string error;
    auto op = app_->operators.FindOperator(id, &error);
    EXPECT_TRUE(op) << error;
    return op.value_or(OperatorInfo{});
  }

  SeededDatabase db_{GetParam(), true};
  std::unique_ptr<SiteDatabase> site_db_;
  std::unique_ptr<SiteDatabase> reader_;  // without faults
  std::unique_ptr<WebApp> app_;
  // The hook runs on every thread that uses the database.
  std::atomic<int> fail_at_{0};  // 0: nothing fails
  std::atomic<int> seen_{0};
};

TEST_P(WebAppTransactionsTest, EveryOperationIsWholeOrNothing) {
  const OperatorInfo op12 = Operator(12);
  const OperatorInfo op7 = Operator(7);
  LONG opened = 0;
  ExpectAllOrNothing("opening a new chat", [&](std::string* error) {
    auto chat = app_->chats.OpenChat(kVisitor, 1, {}, error);
    opened = chat ? chat->cid : 0;
    return chat.has_value();
  });
  ExpectAllOrNothing("the chat window opened", [&](std::string* error) {
    return app_->chats.ChatOpened(kVisitor, opened, error);
  });
  ExpectAllOrNothing("an operator joining a conversation", [&](std::string* error) {
    return app_->chats.TakeVisitor(op12, kChatting, error).has_value();
  });
  ExpectAllOrNothing("an operator inviting a visitor", [&](std::string* error) {
    return app_->chats.TakeVisitor(op7, "20240520093347112", error).has_value();
  });
  ExpectAllOrNothing("accepting an invitation", [&](std::string* error) {
    return app_->chats.AnswerInvitation("20240520093347112", true, error).has_value();
  });
  ExpectAllOrNothing("ending a conversation",
                     [&](std::string* error) { return app_->chats.EndConversation(1, error); });
  ExpectAllOrNothing("an operator inviting again", [&](std::string* error) {
    return app_->chats.TakeVisitor(op7, kChatting, error).has_value();
  });
  ExpectAllOrNothing("refusing an invitation", [&](std::string* error) {
    return app_->chats.AnswerInvitation(kChatting, false, error).has_value();
  });
  ExpectAllOrNothing("a first page view", [&](std::string* error) {
    return app_->visitors.RecordVisit("Vnew1", 1, true, "10.1.2.3", "http://q.example/?q=chat",
                                      "http://site/", error);
  });
  std::string error;
  ASSERT_TRUE(app_->visitors.VisitorLeft("Vnew1", "", &error)) << error;
  ExpectAllOrNothing("a visitor coming back", [&](std::string* error) {
    LONG company = 1;
    return app_->visitors.VisitorReturned("Vnew1", &company, "10.1.2.3", error);
  });
}

TEST_P(WebAppTransactionsTest, ALeavingVisitorIsGoneEvenWhenTheAddressIsNotRecorded) {
  const std::string count = db_.Scalar("count", "select count(*) from t_Iprecord");
  // The chat database's step, then the count database's two.
  for (int failing : {2, 3}) {
    std::string error;
    const std::string label = "Vleft" + std::to_string(failing);
    ASSERT_TRUE(app_->visitors.RecordVisit(label, 1, true, "", "", "p", &error)) << error;
    fail_at_ = failing;
    seen_ = 0;
    EXPECT_FALSE(app_->visitors.VisitorLeft(label, "192.0.2." + std::to_string(failing), &error));
    EXPECT_NE(error.find("the visitor left, but their address was not recorded"), std::string::npos)
        << error;
    EXPECT_EQ(db_.Scalar("chat", "select count(*) from onlineCst where cstLabel='" + label + "'"),
              "0");
    EXPECT_EQ(db_.Scalar("count", "select count(*) from t_Iprecord"), count);
    fail_at_ = 0;
  }
  fail_at_ = 0;
  std::string error;
  ASSERT_TRUE(app_->visitors.VisitorLeft("Vleft2", "192.0.2.2", &error)) << error;
  ASSERT_TRUE(app_->visitors.VisitorLeft("Vleft3", "192.0.2.2", &error)) << error;
  EXPECT_EQ(db_.Scalar("count", "select count(*) from t_Iprecord where IP='192.0.2.2'"), "1");
}

TEST_P(WebAppTransactionsTest, NewIdsAreAboveEveryIdAnyTableUsed) {
  // An ended conversation: its row is gone, its members and messages stay.
  db_.Execute("chat",
              "insert into C_members (cid, serid, cstlabel, IsChat) values (4000, 5, '', 0)");
  db_.Execute("chat", "insert into msg (conid, msgContent) values (5000, 'old')");
  std::string error;
  auto chat = app_->chats.OpenChat(kVisitor, 1, {}, &error);
  ASSERT_TRUE(chat) << error;
  EXPECT_EQ(chat->cid, 5001);
  auto next = app_->chats.TakeVisitor(Operator(7), "20240520093347112", &error);
  ASSERT_TRUE(next) << error;
  EXPECT_EQ(*next, 5002);
}

TEST_P(WebAppTransactionsTest, IdsPastTheIntegerRangeAreAnErrorNotANegativeId) {
  std::string error;
  ASSERT_TRUE(app_->chats.OpenChat(kVisitor, 1, {}, &error)) << error;
  db_.Execute("chat", "update conversationCounter set lastCid=2147483646 where id=1");
  auto last = app_->chats.TakeVisitor(Operator(7), "20240520093347112", &error);
  ASSERT_TRUE(last) << error;
  EXPECT_EQ(*last, 2147483647);

  const std::string before = Snapshot();
  error.clear();
  EXPECT_FALSE(app_->visitors.RecordVisit("Vlate", 1, true, "", "", "p", &error) &&
               app_->chats.OpenChat("Vlate", 1, {}, &error));
  EXPECT_NE(error.find("conversation ids exhausted"), std::string::npos) << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation where cid<=0"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation where cstlabel='Vlate'"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select lastCid from conversationCounter"), "2147483647");
}

TEST_P(WebAppTransactionsTest, ChatsOpenedAtOnceOnTwoHostsNeverShareAnId) {
  // Two hosts: two web applications, each with its own database handle.
  auto other_db = NewSiteDatabase();
  WebApp other(*other_db);
  WebApp* hosts[] = {app_.get(), &other};
  constexpr int kThreads = 6, kChats = 8;
  std::vector<std::vector<LONG>> cids(kThreads);
  std::vector<std::string> errors(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kChats; ++i) {
        const std::string label = "Vt" + std::to_string(t) + "n" + std::to_string(i);
        std::string error;
        auto chat = hosts[t % 2]->chats.OpenChat(label, 1, {}, &error);
        if (chat)
          cids[t].push_back(chat->cid);
        else
          errors[t] += error + "\n";
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<LONG> distinct;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(errors[t], "") << "thread " << t;
    distinct.insert(cids[t].begin(), cids[t].end());
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kChats));
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from conversation where cstlabel like 'Vt%'"),
            std::to_string(kThreads * kChats));
  EXPECT_EQ(db_.Scalar("chat",
                       "select count(distinct cid) from C_members where cstlabel like "
                       "'Vt%'"),
            std::to_string(kThreads * kChats));
}

TEST_P(WebAppTransactionsTest, AFirstReleaseDatabaseIsUpgradedOnStartAndThenWorks) {
  SeededDatabase old(GetParam(), true, kFirstReleaseSchemaFolder);
  SiteDatabase site(old.folder(), old.user(), old.password(),
                    {old.catalog("chat"), old.catalog("count")});
  std::string message;
  ASSERT_EQ(serve::UseExistingDatabases(site, "using them", &message),
            serve::DataFolderResult::kReady)
      << message;
  EXPECT_EQ(message,
            "using them\nupgraded chat: version 2, the conversation id counter"
            "\nupgraded chat: version 3, operator rights, company sites, shared sessions"
            "\nupgraded chat: version 4, chat states, operator availability, chat limits, offline "
            "messages"
            "\nupgraded chat: version 5, chat ratings, history and statistics indexes, message "
            "search"
            "\nupgraded chat: version 6, canned replies, visitor notes, whispers, typing preview"
            "\nupgraded chat: version 7, webhooks, their delivery queue, API keys");
  WebApp app(site);
  std::string error;
  auto chat = app.chats.OpenChat(kVisitor, 1, {}, &error);
  ASSERT_TRUE(chat) << error;
  EXPECT_EQ(chat->cid, 1001);
  ASSERT_EQ(serve::UseExistingDatabases(site, "using them", &message),
            serve::DataFolderResult::kReady);
  EXPECT_EQ(message, "using them");
}

ZELTO_ON_EVERY_ENGINE(WebAppTransactionsTest);

}  // namespace
}  // namespace zelto::testing
