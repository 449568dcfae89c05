// The session store on a clock the test moves: expiry exactly at the
// timeout, use keeping a session alive, the bound on live sessions, and
// what each way of ending a session hands back.
#include "host/serve/session_store.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "tests/support/host/manual_clock.h"

namespace zelto::testing {
namespace {

using serve::SessionStore;
using std::chrono::seconds;

class SessionStoreTest : public ::testing::Test {
 protected:
  SessionStore Store(size_t limit = 100) {
    return SessionStore(
        seconds(60), [](SessionValues& values) { values.SetText("DBName", "chat"); }, limit,
        clock_);
  }
  std::string NewSession(SessionStore& store) {
    std::string id;
    EXPECT_NE(store.Create(&id), nullptr);
    return id;
  }

  ManualClock clock_;
};

TEST_F(SessionStoreTest, SessionsExpireExactlyAtTheTimeoutUnlessUsed) {
  SessionStore store = Store();
  const std::string used = NewSession(store);
  const std::string idle = NewSession(store);
  EXPECT_TRUE(std::regex_match(used, std::regex("[0-9a-f]{32}"))) << used;
  EXPECT_NE(used, idle);
  EXPECT_EQ(serve::SessionText(*store.Find(used), "DBName"), "chat") << "made by init";

  clock_.Advance(seconds(59));
  ASSERT_NE(store.Find(used), nullptr);  // used: its minute starts again
  clock_.Advance(seconds(1));
  EXPECT_EQ(store.Find(idle), nullptr) << "unused for the whole timeout";
  EXPECT_EQ(store.Live().size(), 1u);
  EXPECT_EQ(store.size(), 2u) << "an expired session stays for the sweep";

  const auto ended = store.Sweep();
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(store.size(), 1u);
  clock_.Advance(seconds(58));  // 59 s after its last use
  EXPECT_TRUE(store.Sweep().empty());
  EXPECT_NE(store.Find(used), nullptr);
}

TEST_F(SessionStoreTest, AnAdoptedSessionKeepsItsIdAndCountsAgainstTheLimit) {
  SessionStore store = Store(2);
  const auto fill = [](SessionValues& values) { values.SetLong("operator_id", 5); };
  const std::string mine = NewSession(store);
  const std::string other(32, 'a');  // an id another host made
  auto adopted = store.Adopt(other, fill);
  ASSERT_NE(adopted, nullptr);
  EXPECT_EQ(serve::SessionText(*adopted, "DBName"), "chat") << "made by init first";
  EXPECT_EQ(serve::SessionNumber(*adopted, "operator_id"), 5);
  EXPECT_EQ(store.Find(other), adopted);
  // A live one is kept as it is; a full store of live sessions refuses.
  EXPECT_EQ(store.Adopt(other, [](SessionValues& v) { v.SetLong("operator_id", 7); }), adopted);
  EXPECT_EQ(store.Adopt(std::string(32, 'b'), fill), nullptr);
  // Expired here: replaced by a new one, the old handed to the sweep.
  clock_.Advance(seconds(60));
  auto again = store.Adopt(other, fill);
  ASSERT_NE(again, nullptr);
  EXPECT_NE(again, adopted);
  EXPECT_EQ(store.Sweep().size(), 2u);  // the old copy and `mine`
  EXPECT_EQ(store.Find(mine), nullptr);
}

TEST_F(SessionStoreTest, AtTheLimitExpiredSessionsMakeRoomAndLiveOnesStay) {
  SessionStore store = Store(3);
  const std::string first = NewSession(store);
  clock_.Advance(seconds(30));
  const std::string second = NewSession(store);
  const std::string third = NewSession(store);
  std::string refused = "unchanged";
  EXPECT_EQ(store.Create(&refused), nullptr) << "full of live sessions";
  EXPECT_EQ(refused, "");

  clock_.Advance(seconds(30));  // the first has expired, the others not
  const std::string fourth = NewSession(store);
  EXPECT_EQ(store.size(), 3u);
  EXPECT_EQ(store.Find(first), nullptr);
  EXPECT_NE(store.Find(second), nullptr);
  EXPECT_NE(store.Find(third), nullptr);
  // The one removed to make room is handed to the next sweep, so that its
  // visitor's leaving is still recorded.
  EXPECT_EQ(store.Sweep().size(), 1u);
  EXPECT_EQ(store.Create(&refused), nullptr);
}

TEST_F(SessionStoreTest, ReissueEndAndSweepAll) {
  SessionStore store = Store();
  const std::string id = NewSession(store);
  store.Find(id)->SetText("operator_id", "5");
  clock_.Advance(seconds(50));
  const std::string fresh = store.Reissue(id);
  EXPECT_NE(fresh, id);
  EXPECT_EQ(store.Find(id), nullptr);
  EXPECT_EQ(serve::SessionText(*store.Find(fresh), "operator_id"), "5") << "values move along";
  EXPECT_EQ(store.Reissue("unknown"), "");

  clock_.Advance(seconds(59));
  EXPECT_NE(store.Find(fresh), nullptr) << "a reissued session counts as used";
  EXPECT_NE(store.End(fresh), nullptr);
  EXPECT_EQ(store.End(fresh), nullptr);

  std::set<std::string> ids;
  for (int i = 0; i < 5; ++i) ids.insert(NewSession(store));
  EXPECT_EQ(ids.size(), 5u);
  EXPECT_EQ(store.Sweep(true).size(), 5u);
  EXPECT_EQ(store.size(), 0u);
}

TEST(SessionNumberTest, TextAndNumbersOfSessionValues) {
  SessionValues values;
  values.SetText("n", "42");
  values.SetText("bad", "42x");
  values.SetLong("long", -7);
  EXPECT_EQ(serve::SessionNumber(values, "n"), 42);
  EXPECT_EQ(serve::SessionNumber(values, "bad"), 0);
  EXPECT_EQ(serve::SessionNumber(values, "long"), -7);
  EXPECT_EQ(serve::SessionNumber(values, "missing"), 0);
  EXPECT_EQ(serve::SessionText(values, "long"), "-7");
  EXPECT_EQ(serve::SessionText(values, "missing"), "");
}

}  // namespace
}  // namespace zelto::testing
