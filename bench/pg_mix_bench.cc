// The chat's request mix through the component on each engine: one round is
// a visitor posting, the operator polling, the operator answering and the
// visitor polling, on a demo database whose conversation grows as it runs.
// SQLite and PostgreSQL run in the same process and the ratio is printed
// after the run; PostgreSQL also runs with two threads at once against one
// database (two hosts' worth of pages; the component keeps nothing between
// requests, so threads stand for hosts as far as the database is concerned).
//
// PostgreSQL: the cluster named by ZELTO_TEST_PG_ENV, else a throwaway one
// started here with scripts/pg-cluster.sh and removed at the end.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "chat/client_post.h"
#include "chat/polling.h"
#include "chat/user_post.h"
#include "page/page_context.h"
#include "platform/ado/engine.h"
#include "platform/asp/in_memory_page.h"
#include "platform/win/codepage.h"
#include "tests/support/database_setup.h"

namespace {

constexpr const char* kVisitor = "20240520091502731";  // conversation 1 of the demo data

using Target = zelto::testing::MadeDatabase;

// The demo database on each engine.
zelto::testing::DatabasesOnEveryEngine& GetDatabases() {
  static auto* databases = new zelto::testing::DatabasesOnEveryEngine("mix_bench", true, "", true);
  return *databases;
}

InMemoryPage BuildPage(const Target& t, const std::string& query) {
  return InMemoryPage::Builder()
      .QueryString(query)
      .SessionText("DBServer", t.server)
      .SessionText("DBName", t.catalog)
      .SessionText("DBUserName", t.user)
      .SessionText("DBPWD", t.password)
      .SessionText("timelabel", kVisitor)
      .ServerVariable("REMOTE_ADDR", "127.0.0.1")
      .Build();
}

template <typename Method>
bool RunPage(const Target& t, const std::string& query, Method method) {
  InMemoryPage page = BuildPage(t, query);
  PageContext context;
  if (context.Start(page.context()) != S_OK) return false;
  HRESULT hr = method(context);
  context.End();
  return SUCCEEDED(hr);
}

// Rounds and wall-clock seconds of the last run of each benchmark, measured
// here rather than taken from the library's per-thread accounting.
std::mutex g_mutex;
std::map<std::string, std::pair<double, double>> g_rates;

void Mix(benchmark::State& state, bool postgres) {
  const Target& t = GetDatabases().Get(postgres);
  if (!t.ok) {
    state.SkipWithError(t.why_not.c_str());
    return;
  }
  if (state.thread_index() == 0) zelto::ado::SetDatabaseEngine(t.engine);
  static std::atomic<int64_t> rounds{0};
  static std::chrono::steady_clock::time_point start;
  bool first = true;
  for (auto _ : state) {
    if (first && state.thread_index() == 0) {
      rounds = 0;
      start = std::chrono::steady_clock::now();
    }
    first = false;
    bool ok = RunPage(t, "cid=1&action=sub&msgContent=hello", DoClientMsg) &&
              RunPage(t, "cid=1", [](PageContext& p) { return GetUserMsg(p, 5); }) &&
              RunPage(t, "cid=1&action=sub&msgContent=answer",
                      [](PageContext& p) { return DoUserMsg(p, 5); }) &&
              RunPage(t, "cid=1", GetClientMsg);
    if (!ok) {
      state.SkipWithError("a request failed");
      break;
    }
    ++rounds;
  }
  state.SetItemsProcessed(state.iterations() * 4);
  if (state.thread_index() == 0) {
    // Thread 0 leaves the loop last but one at most; the library joins the
    // threads at the loop's end, so this is the run's wall time.
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::lock_guard lock(g_mutex);
    g_rates[std::string(postgres ? "postgresql" : "sqlite") + "/" + std::to_string(state.threads())] =
        {static_cast<double>(rounds.load()), seconds};
  }
}

void BM_MixSqlite(benchmark::State& state) { Mix(state, false); }
void BM_MixPostgres(benchmark::State& state) { Mix(state, true); }

BENCHMARK(BM_MixSqlite)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_MixPostgres)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_MixPostgres)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(2.0)->Threads(2);

void PrintRatios() {
  auto rate = [](const std::string& key) {
    auto it = g_rates.find(key);
    return it == g_rates.end() || it->second.second <= 0 ? 0.0
                                                         : it->second.first / it->second.second;
  };
  const double sqlite = rate("sqlite/1"), pg1 = rate("postgresql/1"), pg2 = rate("postgresql/2");
  std::printf("rounds/s (4 requests each): sqlite %.0f, postgresql %.0f, postgresql 2 threads %.0f\n",
              sqlite, pg1, pg2);
  if (sqlite > 0 && pg1 > 0) std::printf("postgresql / sqlite = %.2fx\n", pg1 / sqlite);
  if (pg1 > 0 && pg2 > 0) std::printf("postgresql 2 threads / 1 thread = %.2fx\n", pg2 / pg1);
}

}  // namespace

int main(int argc, char** argv) {
  SetAnsiCodePage(CP_GBK);
  benchmark::Initialize(&argc, argv);
  GetDatabases();
  benchmark::RunSpecifiedBenchmarks();
  PrintRatios();
  delete &GetDatabases();
  benchmark::Shutdown();
  return 0;
}
