// The failure log on a clock the test moves: a failure is written once
// with its cause, its repeats as counts at most once per interval, its end
// once it has not been seen for an interval; endlessly varied failures
// cannot grow it.
#include "host/serve/failure_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "tests/support/host/manual_clock.h"

namespace zelto::testing {
namespace {

using std::chrono::seconds;

class FailureLogTest : public ::testing::Test {
 protected:
  FailureLogTest() : file_(std::tmpfile()), log_(file_, seconds(60), "host: ", clock_) {}
  ~FailureLogTest() override { std::fclose(file_); }

  // The lines written since the last call.
  std::string Written() {
    std::fflush(file_);
    std::string all;
    std::rewind(file_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) all.append(buffer, n);
    std::string fresh = all.substr(seen_);
    seen_ = all.size();
    return fresh;
  }

  ManualClock clock_;
  FILE* file_;
  serve::FailureLog log_;
  size_t seen_ = 0;
};

TEST_F(FailureLogTest, OnceWithItsCauseThenCountsThenItsEnd) {
  log_.Failed("chat database", "disk full");
  EXPECT_EQ(Written(), "host: chat database: disk full\n");
  for (int i = 0; i < 5; ++i) log_.Failed("chat database", "disk full");
  log_.Flush();
  EXPECT_EQ(Written(), "") << "counts wait for the interval";

  clock_.Advance(seconds(30));
  log_.Failed("chat database", "disk full");
  clock_.Advance(seconds(30));
  log_.Flush();
  EXPECT_EQ(Written(), "host: chat database: disk full (6 more times in the last 60 s)\n");
  log_.Flush();
  EXPECT_EQ(Written(), "");

  clock_.Advance(seconds(29));
  log_.Flush();
  EXPECT_EQ(Written(), "") << "seen 59 s ago: not over yet";
  clock_.Advance(seconds(1));
  log_.Flush();
  EXPECT_EQ(Written(), "host: chat database: disk full: not seen for 60 s (7 times in all)\n");
  EXPECT_EQ(log_.tracked(), 0u);

  log_.Failed("chat database", "disk full");
  EXPECT_EQ(Written(), "host: chat database: disk full\n") << "a new episode is new again";
}

TEST_F(FailureLogTest, CausesAreOneLineAndDifferentCausesAreDifferentFailures) {
  log_.Failed("fetch", "timed out\nafter 30 s\r");
  log_.Failed("fetch", "refused");
  log_.Failed("fetch", "refused");
  EXPECT_EQ(Written(), "host: fetch: timed out after 30 s \nhost: fetch: refused\n");
  log_.Summarize();
  EXPECT_EQ(Written(), "host: fetch: refused (1 more times)\n");
  EXPECT_EQ(log_.tracked(), 0u);
}

TEST_F(FailureLogTest, EndlesslyVariedFailuresAreCountedUnderOneEntry) {
  const size_t limit = serve::FailureLog::kMaxTracked;
  for (size_t i = 0; i < limit + 500; ++i) log_.Failed("page", "cause " + std::to_string(i));
  EXPECT_EQ(log_.tracked(), limit + 1);
  const std::string written = Written();
  EXPECT_EQ(static_cast<size_t>(std::count(written.begin(), written.end(), '\n')), limit + 1);
  EXPECT_NE(written.find("other failures: kinds of failure beyond the first 256"),
            std::string::npos);
  clock_.Advance(seconds(60));
  log_.Flush();
  EXPECT_NE(Written().find("other failures: kinds of failure beyond the first 256: not seen for "
                           "60 s (500 times in all)"),
            std::string::npos);
}

}  // namespace
}  // namespace zelto::testing
