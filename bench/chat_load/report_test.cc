// The report's verdict and the RESULT lines bench/run.sh gathers.
#include "bench/chat_load/report.h"

#include <gtest/gtest.h>

#include <sstream>

namespace chatload {
namespace {

struct Outcome {
  int status;
  std::vector<std::vector<std::string>> results;  // the fields of each RESULT line
  std::string text;
};

Outcome Report(LoadRun& run, const Options& options, asio::io_context& io) {
  UsageWatch usage(io, options);
  std::ostringstream out;
  Outcome outcome{WriteReport(out, run, usage, {"1.00 1.00 1.00", "2.00 2.00 2.00"}), {}, out.str()};
  std::istringstream lines(outcome.text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("RESULT|", 0) != 0) continue;
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '|');) fields.push_back(field);
    outcome.results.push_back(fields);
  }
  return outcome;
}

Options Parsed(std::vector<std::string> args) {
  args.insert(args.begin(), {"--host", "127.0.0.1:9", "--label", "scenario x", "--result-row", "9"});
  return *ParseOptions(args).options;
}

TEST(ChatLoadReport, FailsOnErrorsAndOnMessagesAnOpenWindowNeverSaw) {
  struct Case {
    const char* what;
    bool error;
    bool unseen_reply;       // stored, the visitor's window never saw it
    bool unseen_unattended;  // stored in a chat no operator window was on
    int status;
  };
  const Case cases[] = {
      {"clean", false, false, false, 0},
      {"an error", true, false, false, 1},
      {"a reply lost", false, true, false, 1},
      {"a message no operator could see yet", false, false, true, 0},
  };
  for (const Case& c : cases) {
    asio::io_context io;
    const Options options = Parsed({});
    LoadRun run(io, options);
    const Clock::time_point now = Clock::now();
    run.ChatPickedUp(7);
    const uint64_t seen = run.book().Posting(kToOperator, 7, now);
    run.book().Stored(seen);
    run.book().Seen(kToOperator, 7, "zlm" + std::to_string(seen) + "z", now, now);
    if (c.error) run.Error("visitor poll", "HTTP 503");
    if (c.unseen_reply) run.book().Stored(run.book().Posting(kToVisitor, 7, now));
    if (c.unseen_unattended) run.book().Stored(run.book().Posting(kToOperator, 8, now));
    const Outcome outcome = Report(run, options, io);
    EXPECT_EQ(outcome.status, c.status) << c.what << "\n" << outcome.text;
    if (c.error) {
      EXPECT_NE(outcome.text.find("1  visitor poll: HTTP 503"), std::string::npos);
    }
    if (c.unseen_unattended) {
      EXPECT_NE(outcome.text.find("1 waiting for an operator"), std::string::npos) << outcome.text;
    }
  }
}

TEST(ChatLoadReport, ResultLinesHaveTheTablesSevenFields) {
  asio::io_context io;
  const Options options = Parsed({});
  LoadRun run(io, options);
  run.Error("page view", "Connection refused");
  const Outcome outcome = Report(run, options, io);
  ASSERT_GE(outcome.results.size(), 4u) << outcome.text;
  for (const auto& fields : outcome.results) {
    ASSERT_EQ(fields.size(), 7u) << outcome.text;
    EXPECT_EQ(fields[1], "9");
    EXPECT_EQ(fields[2].rfind("scenario x: ", 0), 0u) << fields[2];
  }
  bool errors_row = false;
  for (const auto& fields : outcome.results) {
    if (fields[2] != "scenario x: errors") continue;
    errors_row = true;
    EXPECT_EQ(fields[3], "1");
    EXPECT_EQ(fields[6], "<1");
  }
  EXPECT_TRUE(errors_row) << outcome.text;
}

}  // namespace
}  // namespace chatload
