// Writers of one SQLite database in one process take turns: a connection
// that writes back to back must not keep another writer out until its busy
// time limit runs out ("database is locked").
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/ado/engine.h"
#include "tests/support/seeded_database.h"

namespace {

using namespace std::chrono_literals;
using zelto::ado::EngineConnection;
using zelto::ado::ResultSet;

class SqliteConcurrentWritersTest : public ::testing::Test {
 protected:
  std::unique_ptr<EngineConnection> Connect() {
    zelto::ado::ConnectionString target;
    target.data_source = db_.folder();
    target.initial_catalog = db_.catalog("chat");
    std::string error;
    auto connection = zelto::ado::SqliteEngine()->Connect(target, &error);
    EXPECT_TRUE(connection) << error;
    return connection;
  }

  zelto::testing::SeededDatabase db_;
};

// The busy writer holds the write lock almost all the time and takes it
// again at once after each commit; the other writer must still get its
// turn, for a plain statement and for a transaction.
TEST_F(SqliteConcurrentWritersTest, BackToBackWriterDoesNotStarveAnother) {
  for (const bool transaction : {false, true}) {
    SCOPED_TRACE(transaction ? "transaction" : "single statement");
    auto busy = Connect();
    auto other = Connect();
    ASSERT_TRUE(busy && other);
    std::atomic<bool> stop{false};
    std::atomic<int> busy_writes{0};
    std::thread writer([&] {
      std::string error;
      ResultSet ignored;
      while (!stop.load()) {
        if (!busy->BeginTransaction(&error)) continue;
        busy->Execute("update msg set readFlag=readFlag+',1,' where msgID=0", &ignored, &error);
        std::this_thread::sleep_for(20ms);
        if (busy->CommitTransaction(&error)) ++busy_writes;
      }
    });
    while (busy_writes.load() < 3) std::this_thread::yield();

    std::string error;
    ResultSet result;
    bool ok;
    if (transaction) {
      ok = other->BeginTransaction(&error) &&
           other->Execute("insert into msg(conid,msgContent) values(1,'in turn')", &result,
                          &error) &&
           other->CommitTransaction(&error);
    } else {
      ok = other->Execute("insert into msg(conid,msgContent) values(1,'in turn')", &result, &error);
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(ok) << error;
    EXPECT_FALSE(other->InTransaction());
  }
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from msg where msgContent='in turn'"), "2");
}

// A transaction that fails to commit keeps its turn until it is rolled back,
// and a connection that goes away with its transaction open gives it up.
TEST_F(SqliteConcurrentWritersTest, TurnEndsWithTheTransaction) {
  auto first = Connect();
  auto second = Connect();
  ASSERT_TRUE(first && second);
  std::string error;
  ResultSet result;
  ASSERT_TRUE(first->BeginTransaction(&error)) << error;
  ASSERT_TRUE(first->Execute("insert into msg(conid,msgContent) values(1,'a')", &result, &error));
  first.reset();  // closed with the transaction open: rolled back
  ASSERT_TRUE(second->BeginTransaction(&error)) << error;
  ASSERT_TRUE(second->Execute("insert into msg(conid,msgContent) values(1,'b')", &result, &error));
  ASSERT_TRUE(second->RollbackTransaction(&error)) << error;
  ASSERT_TRUE(second->Execute("insert into msg(conid,msgContent) values(1,'c')", &result, &error))
      << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from msg"), "1");
}

}  // namespace
