// The history page, its search and the statistics page on a chat database
// of a million messages (50,000 ended chats of 20 messages over 100 days),
// against the plain message select of one conversation (what every poll
// reads) on the same database, all through the host's own database
// sessions (SiteDatabase, the ADO stand-in, SQLite). The closing lines
// print each figure as a ratio to the plain select, measured in this run,
// by CPU time.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "host/serve/chat_history.h"
#include "host/serve/chat_statistics.h"
#include "platform/ado/connection_pool.h"
#include "tests/support/database_setup.h"

namespace {

using zelto::serve::ChatHistory;
using zelto::serve::ChatStatistics;
using zelto::serve::HistoryFilter;
using zelto::serve::SiteDatabase;

constexpr int kChats = 50'000;
constexpr int kPerChat = 20;
constexpr int64_t kFirstDay = 1'790'000'000;
constexpr int64_t kDay = 86'400;
constexpr int64_t kChatSpacing = 100 * kDay / kChats;  // 100 days of chats

// Every message: a visitor's (even) or the operator's (odd). Words to find:
// "refund" in every 7th, "退款政策" in every 13th, "价格" in every 11th.
const char* const kRows = R"(
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 999999)
INSERT INTO msg (conid, userID_send, cstLabel, nickName, msgContent, msgTime, issystem)
SELECT 10000 + i / 20, CASE WHEN i % 2 = 1 THEN 5 ELSE 0 END,
       CASE WHEN i % 2 = 0 THEN 'v' || (i / 20) ELSE '' END, '',
       'message ' || i || ' about order ' || (i % 977) ||
         CASE WHEN i % 7 = 0 THEN ' refund please' ELSE '' END ||
         CASE WHEN i % 13 = 0 THEN ' 退款政策是什么' ELSE '' END ||
         CASE WHEN i % 11 = 0 THEN ' 请问价格' ELSE ' 您好' END,
       datetime(1790000000 + (i / 20) * 172 + (i % 20) * 15, 'unixepoch'), 0
FROM n;
WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 49999)
INSERT INTO chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, assignedAt,
                       endedAt, endedBy, endedById)
SELECT 10000 + i, 1, 'v' || i, CASE i % 3 WHEN 0 THEN 5 WHEN 1 THEN 12 ELSE 7 END, 'ended', 1790000000 + i * 172,
       1790000000 + i * 172 + (i % 5) * 10, 1790000000 + i * 172 + 300 + (i % 9) * 20,
       'visitor', 0
FROM c;
WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 49999)
INSERT INTO C_members (cid, serid, cstlabel, addtime, IsChat)
SELECT 10000 + i, CASE i % 3 WHEN 0 THEN 5 WHEN 1 THEN 12 ELSE 7 END, '', datetime(1790000000 + i * 172, 'unixepoch'), 0 FROM c;
WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 49999)
INSERT INTO chatRating (cid, companyId, score, comment, ratedAt)
SELECT 10000 + i, 1, 1 + i % 5, '', 1790000000 + i * 172 + 400 FROM c WHERE i % 3 = 0;
)";

class Fixture {
 public:
  Fixture() {
    using namespace zelto::testing;
    std::string script, error;
    folder_ = MakeScratchFolder("records-bench", &error);
    std::fprintf(stderr, "making %d messages...\n", kChats * kPerChat);
    if (folder_.empty() || !ReadSchemaScript("sqlite", "chat", true, &script, &error) ||
        !CreateDatabaseFromScript(DatabaseTarget::Sqlite(folder_), script + kRows, &error)) {
      std::fprintf(stderr, "cannot make the benchmark database: %s\n", error.c_str());
      std::exit(1);
    }
    db_ = std::make_unique<SiteDatabase>(folder_, "", "");
  }
  ~Fixture() {
    db_.reset();
    zelto::ado::ConnectionPool::Instance().CloseIdle();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const SiteDatabase& db() const { return *db_; }

 private:
  std::string folder_;
  std::unique_ptr<SiteDatabase> db_;
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

void Fail(benchmark::State& state, const std::string& error) {
  if (!error.empty()) state.SkipWithError(error.c_str());
}

// The reference: one conversation's messages, as a poll selects them.
void BM_PlainMessageSelect(benchmark::State& state) {
  std::string error;
  int cid = 10000;
  for (auto _ : state) {
    std::vector<SiteDatabase::Row> rows;
    Data().db().Query("chat",
                      "select msgID, msgContent, msgTime, cstLabel, nickName from msg where "
                      "conid=" + std::to_string(cid) + " order by msgID",
                      {"msgID", "msgContent", "msgTime", "cstLabel", "nickName"}, &rows, &error);
    if (rows.size() != kPerChat) error = "expected a chat's messages";
    cid = 10000 + (cid - 10000 + 7919) % kChats;
  }
  Fail(state, error);
}

void History(benchmark::State& state, const char* text) {
  std::string error;
  HistoryFilter filter;
  filter.text = text;
  size_t found = 0;
  for (auto _ : state) found = ChatHistory(Data().db()).List(1, filter, &error).size();
  state.counters["listed"] = static_cast<double>(found);
  Fail(state, error);
}

void BM_HistoryFirstPage(benchmark::State& state) { History(state, ""); }
void BM_HistorySearchEnglish(benchmark::State& state) { History(state, "refund"); }
void BM_HistorySearchChinese(benchmark::State& state) { History(state, "退款政策"); }
void BM_HistorySearchShortChinese(benchmark::State& state) { History(state, "价格"); }
void BM_HistorySearchNoMatch(benchmark::State& state) { History(state, "invoice"); }
void BM_HistorySearchShortNoMatch(benchmark::State& state) { History(state, "发票"); }

void Statistics(benchmark::State& state, int64_t days) {
  std::string error;
  const int64_t from = kFirstDay + (100 - days) * kDay;
  for (auto _ : state) {
    auto figures = ChatStatistics(Data().db()).Compute(1, {from, from + days * kDay, 0}, &error);
    if (!figures) break;
    state.counters["chats"] = static_cast<double>(figures->chats);
  }
  Fail(state, error);
}

void BM_StatisticsWeek(benchmark::State& state) { Statistics(state, 7); }
void BM_StatisticsAllHundredDays(benchmark::State& state) { Statistics(state, 100); }

BENCHMARK(BM_PlainMessageSelect);
BENCHMARK(BM_HistoryFirstPage);
BENCHMARK(BM_HistorySearchEnglish);
BENCHMARK(BM_HistorySearchChinese);
BENCHMARK(BM_HistorySearchShortChinese);
BENCHMARK(BM_HistorySearchNoMatch);
BENCHMARK(BM_HistorySearchShortNoMatch);
BENCHMARK(BM_StatisticsWeek)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatisticsAllHundredDays)->Unit(benchmark::kMillisecond);

// Collects CPU time per iteration by name, for the closing ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (!run.error_occurred && run.iterations > 0)
        cpu_[run.benchmark_name()] = run.GetAdjustedCPUTime() * UnitSeconds(run.time_unit);
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto reference = cpu_.find("BM_PlainMessageSelect");
    if (reference == cpu_.end() || reference->second <= 0) return;
    for (const auto& [name, seconds] : cpu_)
      std::printf("ratio %-32s %10.1f x the plain message select (%.3f ms)\n", name.c_str(),
                  seconds / reference->second, seconds * 1e3);
  }

 private:
  static double UnitSeconds(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond: return 1e-9;
      case benchmark::kMicrosecond: return 1e-6;
      case benchmark::kMillisecond: return 1e-3;
      default: return 1;
    }
  }
  std::map<std::string, double> cpu_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Data();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
