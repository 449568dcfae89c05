// Cost of one operator poll (GetUserMsg) as the message table grows: the same
// conversation polled with 1 thousand and with 1 million messages of other
// conversations in msg, once with nothing unread and once with ten unread
// messages. The goal is that 1 million rows cost at most 1.2x what 1 thousand
// cost; the ratios (CPU time: the engine runs in this process) are printed
// after the run, from this one run's figures, with one
// "RESULT|3|what|figure|reference|ratio|goal" line each for bench/run.sh.
//
// Under callgrind (bench/callgrind_ratio.sh, --instr-atstart=no) the
// instrumentation starts once the database is made, and
// ZELTO_BENCH_ITERATIONS=n fixes the iterations.
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "chat/polling.h"
#include "db/db_statement.h"
#include "page/page_context.h"
#include "platform/asp/in_memory_page.h"
#include "tests/support/database_setup.h"

namespace {

constexpr LONG kOperator = 5;
constexpr int kPolledConversation = 1;
constexpr int kUnread = 10;

// A scratch chat database with `other_rows` messages spread over other
// conversations, and ten messages of the polled conversation (half from its
// visitor, half from operator 12) already read by the polling operator.
class PollDatabase {
 public:
  explicit PollDatabase(int other_rows) {
    using namespace zelto::testing;
    std::string script, error;
    dir_ = MakeScratchFolder("poll-bench-" + std::to_string(other_rows), &error);
    if (dir_.empty() || !ReadSchemaScript("sqlite", "chat", false, &script, &error)) {
      std::fprintf(stderr, "poll_bench: %s\n", error.c_str());
      return;
    }
    script += "INSERT INTO userinfo (ID, name) VALUES (12, 'Op12');\n";
    char seed[1024];
    std::snprintf(seed, sizeof seed,
                  "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %d) "
                  "INSERT INTO msg (conid, userID_send, cstLabel, nickName, msgContent, msgTime, "
                  "readFlag) SELECT 2 + x %% 5000, 0, 'V' || x, 'guest', 'hello :#3# there', "
                  "'2024-05-20 09:17:25', '' FROM n;\n"
                  "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %d) "
                  "INSERT INTO msg (conid, userID_send, cstLabel, nickName, msgContent, msgTime, "
                  "readFlag) SELECT %d, CASE WHEN x %% 2 = 0 THEN 12 ELSE 0 END, "
                  "CASE WHEN x %% 2 = 0 THEN '' ELSE 'V1' END, 'guest', "
                  "'message ' || x || ' #link#http://a/#link_mid#a#link_end# :#1#', "
                  "'2024-05-20 09:17:25', ',5,' FROM n;\n",
                  other_rows, kUnread, kPolledConversation);
    script += seed;
    ok_ = CreateDatabaseFromScript(DatabaseTarget::Sqlite(dir_), script, &error);
    if (!ok_) std::fprintf(stderr, "poll_bench: cannot create the database: %s\n", error.c_str());
  }
  ~PollDatabase() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  bool ok() const { return ok_; }

  // A page of the polled conversation on this database.
  InMemoryPage BuildPage() const {
    return InMemoryPage::Builder()
        .QueryString("cid=" + std::to_string(kPolledConversation))
        .SessionText("DBServer", dir_)
        .SessionText("DBName", "chat")
        .Build();
  }

 private:
  std::string dir_;
  bool ok_ = false;
};

PollDatabase& Database(int other_rows) {
  static std::map<int, std::unique_ptr<PollDatabase>> databases;
  auto& db = databases[other_rows];
  if (!db) db = std::make_unique<PollDatabase>(other_rows);
  return *db;
}

void SetMarks(PageContext& page, const char* read_flag) {
  RunStatement(page.connection(), std::string("update msg set readFlag = '") + read_flag +
                                      "' where conid=" + std::to_string(kPolledConversation));
}

// The measured call, apart so that callgrind can count it alone.
__attribute__((noinline)) HRESULT PollOnce(PageContext& context) {
  return GetUserMsg(context, kOperator);
}

void Poll(benchmark::State& state, bool unread) {
  PollDatabase& db = Database(static_cast<int>(state.range(0)));
  if (!db.ok()) {
    state.SkipWithError("no database");
    return;
  }
  CALLGRIND_START_INSTRUMENTATION;
  HRESULT expected = unread ? S_OK : S_FALSE;
  for (auto _ : state) {
    state.PauseTiming();
    InMemoryPage page = db.BuildPage();
    auto context = std::make_unique<PageContext>();
    context->Start(page.context());
    SetMarks(*context, unread ? "" : ",5,");
    state.ResumeTiming();
    HRESULT hr = PollOnce(*context);
    state.PauseTiming();
    if (hr != expected) state.SkipWithError("unexpected poll result");
    context.reset();
    state.ResumeTiming();
  }
}

void BM_PollNothingUnread(benchmark::State& state) { Poll(state, false); }
void BM_PollTenUnread(benchmark::State& state) { Poll(state, true); }

void Register() {
  const char* fixed = std::getenv("ZELTO_BENCH_ITERATIONS");
  const int iterations = fixed ? std::atoi(fixed) : 0;
  for (auto* b : {benchmark::RegisterBenchmark("BM_PollNothingUnread", BM_PollNothingUnread),
                  benchmark::RegisterBenchmark("BM_PollTenUnread", BM_PollTenUnread)}) {
    b->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
    if (iterations > 0) b->Iterations(iterations);
  }
}

// Console output as usual, and each run's time kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the output is read from logs as often as from a terminal.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    for (const char* name : {"BM_PollNothingUnread", "BM_PollTenUnread"}) {
      auto small = times_.find(std::string(name) + "/1000");
      auto large = times_.find(std::string(name) + "/1000000");
      if (small == times_.end() || large == times_.end() || small->second <= 0) continue;
      double ratio = large->second / small->second;
      std::printf("%s: 1M rows / 1K rows = %.2fx (goal <= 1.20x)%s\n", name, ratio,
                  ratio <= 1.2 ? "" : "  OVER GOAL");
      std::printf("RESULT|3|operator poll, %s, SQLite (CPU): 1 million rows in msg vs 1 thousand|"
                  "%.1f us|%.1f us|%.2f|<=1.2\n",
                  std::string(name) == "BM_PollTenUnread" ? "ten unread" : "nothing unread",
                  large->second, small->second, ratio);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
