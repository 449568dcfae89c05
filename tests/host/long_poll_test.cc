// Held polls on a clock the test moves, with the io_context run by the test
// itself: each held poll ends exactly once, for the right reason; a post
// between a poll's select and its hold is not missed; the bound holds; and
// the host's "wait" parameter is taken out of a query whatever its spelling.
#include "host/serve/long_poll.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "tests/support/host/manual_clock.h"

namespace zelto::testing {
namespace {

using serve::LongPoll;
using Outcome = LongPoll::Outcome;
using std::chrono::milliseconds;
using std::chrono::seconds;

class LongPollTest : public ::testing::Test {
 protected:
  LongPollTest() : polls_(io_, 3, milliseconds(2000), clock_) {}

  // Holds a poll of `cid` for `wait`; its outcomes are counted under `name`.
  bool Hold(const std::string& name, LONG cid, serve::Duration wait,
            std::optional<uint64_t> since = std::nullopt,
            std::shared_ptr<serve::ClientWatch> watch = nullptr) {
    return polls_.Hold(
        cid, since.value_or(polls_.Sequence()), clock_.Now() + wait,
        [this, name](Outcome outcome) { ended_[name].push_back(outcome); }, watch);
  }
  void Advance(serve::Duration step) {
    clock_.Advance(step);
    Settle();
  }
  void Settle() {
    io_.restart();
    io_.poll();
  }
  std::vector<Outcome> Ended(const std::string& name) { return ended_[name]; }

  ManualClock clock_;  // outlives the timers, which the io_context may still hold
  boost::asio::io_context io_;
  LongPoll polls_;
  std::map<std::string, std::vector<Outcome>> ended_;
};

TEST_F(LongPollTest, AWakeEndsTheHeldPollsOfItsConversationOnly) {
  ASSERT_TRUE(Hold("a", 7, seconds(25)));
  ASSERT_TRUE(Hold("b", 7, seconds(25)));
  ASSERT_TRUE(Hold("other", 8, seconds(25)));
  Settle();
  polls_.Wake(7);
  Settle();
  EXPECT_EQ(Ended("a"), std::vector<Outcome>{Outcome::kWoken});
  EXPECT_EQ(Ended("b"), std::vector<Outcome>{Outcome::kWoken});
  EXPECT_TRUE(Ended("other").empty());
  EXPECT_EQ(polls_.held(), 1u);
  polls_.Wake(7);  // nothing held there any more: nothing happens twice
  Advance(seconds(30));
  EXPECT_EQ(Ended("a").size(), 1u);
  EXPECT_EQ(Ended("other"), std::vector<Outcome>{Outcome::kTimeUp});
}

TEST_F(LongPollTest, TimeUpExactlyAtTheDeadline) {
  ASSERT_TRUE(Hold("poll", 7, seconds(25)));
  Advance(seconds(25) - milliseconds(1));
  EXPECT_TRUE(Ended("poll").empty());
  Advance(milliseconds(1));
  EXPECT_EQ(Ended("poll"), std::vector<Outcome>{Outcome::kTimeUp});
  EXPECT_EQ(polls_.held(), 0u);
  EXPECT_EQ(clock_.waiting(), 0u) << "no timer left behind";
}

// The poll selects, finds nothing, and only then holds: a post in between
// must wake it at once, one in another conversation must not.
TEST_F(LongPollTest, APostBetweenTheSelectAndTheHoldIsNotMissed) {
  const uint64_t before_select = polls_.Sequence();
  polls_.Wake(8);
  ASSERT_TRUE(Hold("elsewhere", 7, seconds(25), before_select));
  polls_.Wake(7);
  const uint64_t after_post = polls_.Sequence();
  polls_.Wake(7);
  ASSERT_TRUE(Hold("missed", 7, seconds(25), after_post));
  Settle();
  EXPECT_EQ(Ended("missed"), std::vector<Outcome>{Outcome::kWoken});
  EXPECT_EQ(Ended("elsewhere"), std::vector<Outcome>{Outcome::kWoken})
      << "woken by the second post while held";

  const uint64_t quiet = polls_.Sequence();
  polls_.Wake(9);
  ASSERT_TRUE(Hold("unrelated", 7, seconds(25), quiet));
  Settle();
  EXPECT_TRUE(Ended("unrelated").empty());
  // A `since` older than every wake remembered: run the poll once more.
  for (int i = 0; i < 5000; ++i) polls_.Wake(9);
  ASSERT_TRUE(Hold("ancient", 7, seconds(25), quiet));
  Settle();
  EXPECT_EQ(Ended("ancient"), std::vector<Outcome>{Outcome::kWoken});
}

TEST_F(LongPollTest, TheBoundRefusesAndAnEndedPollFreesItsPlace) {
  auto watch = std::make_shared<serve::ClientWatch>();
  ASSERT_TRUE(Hold("gone", 1, seconds(25), std::nullopt, watch));
  ASSERT_TRUE(Hold("b", 2, seconds(25)));
  ASSERT_TRUE(Hold("c", 3, seconds(25)));
  EXPECT_FALSE(Hold("refused", 4, seconds(25)));
  Settle();
  watch->Gone();  // the client closed its connection
  Settle();
  EXPECT_EQ(Ended("gone"), std::vector<Outcome>{Outcome::kGone});
  EXPECT_TRUE(Ended("refused").empty()) << "a refused hold never calls back";
  EXPECT_TRUE(Hold("next", 4, seconds(25)));
}

TEST_F(LongPollTest, StopEndsEveryHeldPollAndRefusesNewOnes) {
  ASSERT_TRUE(Hold("a", 1, seconds(25)));
  ASSERT_TRUE(Hold("b", 2, seconds(5)));
  Settle();
  polls_.Stop();
  Settle();
  EXPECT_EQ(Ended("a"), std::vector<Outcome>{Outcome::kStopped});
  EXPECT_EQ(Ended("b"), std::vector<Outcome>{Outcome::kStopped});
  EXPECT_FALSE(Hold("late", 1, seconds(25)));
  Advance(seconds(30));
  EXPECT_EQ(Ended("b").size(), 1u) << "its timer is gone with it";
}

// While notifications from other hosts may be missed, a held poll runs
// again every recheck interval, but never past its deadline.
TEST_F(LongPollTest, UnreliableNotificationsMeanRechecks) {
  ASSERT_TRUE(Hold("before", 1, seconds(25)));
  Settle();
  polls_.SetNotificationsReliable(false);
  Settle();
  EXPECT_EQ(Ended("before"), std::vector<Outcome>{Outcome::kWoken}) << "runs under the new rule";

  ASSERT_TRUE(Hold("long", 1, seconds(25)));
  ASSERT_TRUE(Hold("short", 2, milliseconds(1500)));
  Settle();
  Advance(milliseconds(1500));
  EXPECT_EQ(Ended("short"), std::vector<Outcome>{Outcome::kTimeUp});
  EXPECT_TRUE(Ended("long").empty());
  Advance(milliseconds(500));
  EXPECT_EQ(Ended("long"), std::vector<Outcome>{Outcome::kWoken});

  ASSERT_TRUE(Hold("again", 1, seconds(25)));
  Settle();
  polls_.SetNotificationsReliable(true);
  Settle();
  EXPECT_EQ(Ended("again"), std::vector<Outcome>{Outcome::kWoken});
  ASSERT_TRUE(Hold("reliable", 1, seconds(25)));
  Advance(seconds(24));
  EXPECT_TRUE(Ended("reliable").empty()) << "no rechecks while notifications are reliable";
}

TEST_F(LongPollTest, AWakeAndTheDeadlineTogetherEndThePollOnce) {
  ASSERT_TRUE(Hold("poll", 7, seconds(1)));
  Settle();
  clock_.Advance(seconds(1));
  polls_.Wake(7);
  Settle();
  EXPECT_EQ(Ended("poll").size(), 1u);
}

TEST(WaitParameterTest, TakenOutWhateverItsSpelling) {
  const struct {
    std::string query;
    std::optional<int> wait;
    std::string rest;
  } cases[] = {
      {"cid=1", std::nullopt, "cid=1"},
      {"", std::nullopt, ""},
      {"wait=5&cid=1", 5, "cid=1"},
      {"cid=1&WAIT=5", 5, "cid=1"},
      {"cid=1&w%61it=5", 5, "cid=1"},
      {"cid=1&W%41IT=5&x=2", 5, "cid=1&x=2"},
      {"cid=1&wait=999", 25, "cid=1"},
      {"cid=1&wait=abc", 0, "cid=1"},
      {"cid=1&wait=-1", 0, "cid=1"},
      {"cid=1&wait", 0, "cid=1"},
      {"cid=1&wait=1&wait=2", 1, "cid=1"},
      {"wait=3", 3, ""},
      {"cid=1&waiting=3", std::nullopt, "cid=1&waiting=3"},
      {"cid=1&%77ait%=3", std::nullopt, "cid=1&%77ait%=3"},
      {"cid=1&&wait=2&", 2, "cid=1&&"},
  };
  for (const auto& c : cases) {
    std::string query = c.query;
    EXPECT_EQ(serve::TakeWaitParameter(&query), c.wait) << c.query;
    EXPECT_EQ(query, c.rest) << c.query;
  }
}

}  // namespace
}  // namespace zelto::testing
