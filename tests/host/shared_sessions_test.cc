// Operator sessions in the database, on both engines: a row under a hash
// of the id; a check sees a logout, a removal and the timeout (a wall
// clock the test sets); the sweep deletes only rows unused for the timeout.
#include "host/serve/shared_sessions.h"

#include <gtest/gtest.h>

#include "host/serve/administration.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::SharedOperatorSession;
using serve::SharedSessions;
using std::chrono::seconds;

class SharedSessionsTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    site_ = std::make_unique<serve::SiteDatabase>(
        db_.folder(), db_.user(), db_.password(),
        std::pair<std::string, std::string>{db_.catalog("chat"), db_.catalog("count")});
    sessions_ = std::make_unique<SharedSessions>(*site_, seconds(600), [this] { return now_; });
  }

  SeededDatabase db_{GetParam(), true};
  std::unique_ptr<serve::SiteDatabase> site_;
  std::unique_ptr<SharedSessions> sessions_;
  std::chrono::system_clock::time_point now_ = std::chrono::system_clock::from_time_t(1'800'000'000);
};

TEST_P(SharedSessionsTest, ASessionLivesUntilItsLogoutRemovalOrTimeout) {
  const std::string id(32, 'c');
  std::string error;
  ASSERT_TRUE(sessions_->Save(id, SharedOperatorSession{5, 1, "tok"}, "", &error)) << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from operatorSession where id like '%cccc%'"), "0");
  auto found = sessions_->Check(id, &error);
  ASSERT_TRUE(found) << error;
  EXPECT_EQ(found->operator_id, 5);
  EXPECT_EQ(found->token, "tok");
  EXPECT_EQ(sessions_->Online(&error), std::set<LONG>{5});
  EXPECT_FALSE(sessions_->Check(std::string(32, 'd'), &error));
  EXPECT_EQ(error, "");

  // Used within the timeout it stays; 600 s unused ends it, and the sweep
  // deletes it.
  now_ += seconds(599);
  ASSERT_TRUE(sessions_->Check(id, &error));
  now_ += seconds(599);
  ASSERT_TRUE(sessions_->Check(id, &error)) << "the check above marked it used";
  ASSERT_TRUE(sessions_->Save(std::string(32, 'e'), SharedOperatorSession{12, 1, "t2"}, "", &error));
  now_ += seconds(600);
  EXPECT_FALSE(sessions_->Check(id, &error));
  ASSERT_TRUE(sessions_->Sweep(&error)) << error;
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from operatorSession"), "0");

  // A logout, and a removal, end it at once.
  ASSERT_TRUE(sessions_->Save(id, SharedOperatorSession{5, 1, "tok"}, "", &error));
  ASSERT_TRUE(sessions_->Remove(id, &error));
  EXPECT_FALSE(sessions_->Check(id, &error));
  ASSERT_TRUE(sessions_->Save(id, SharedOperatorSession{7, 1, "tok"}, "", &error));
  ASSERT_TRUE(serve::Administration(*site_).RemoveOperator(7));
  EXPECT_FALSE(sessions_->Check(id, &error));
  EXPECT_EQ(error, "");
  // A new login replaces the id it had before.
  ASSERT_TRUE(sessions_->Save(std::string(32, 'f'), SharedOperatorSession{12, 1, "t3"}, id, &error));
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from operatorSession"), "1");
}

ZELTO_ON_EVERY_ENGINE(SharedSessionsTest);

}  // namespace
}  // namespace zelto::testing
