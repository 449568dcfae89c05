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
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "chat/client_post.h"
#include "chat/polling.h"
#include "chat/user_post.h"
#include "page/page_context.h"
#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"
#include "platform/asp/in_memory_page.h"
#include "platform/win/codepage.h"

namespace {

namespace fs = std::filesystem;

const std::string kSource = ZELTO_SOURCE_DIR;
constexpr const char* kVisitor = "20240520091502731";  // conversation 1 of the demo data

std::map<std::string, std::string> ReadEnv(const std::string& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Where one engine's demo database is, as a page's session settings.
struct Target {
  std::string engine, server, catalog, user, password;
  bool ok = false;
};

class Databases {
 public:
  Databases() {
    sqlite_dir_ = fs::temp_directory_path() / ("zelto-mix-bench-" + std::to_string(getpid()));
    sqlite_ = Create("sqlite", sqlite_dir_.string(), "chat", "", "");
    const char* env = std::getenv("ZELTO_TEST_PG_ENV");
    std::string env_file = env && *env ? env : "";
    if (env_file.empty()) {
      own_state_ = (fs::temp_directory_path() / ("zelto-mix-pg-" + std::to_string(getpid())));
      std::string start = "bash " + kSource + "/scripts/pg-cluster.sh start " + own_state_.string();
      if (std::system(start.c_str()) == 0) env_file = own_state_.string() + "/cluster.env";
    }
    auto values = ReadEnv(env_file);
    if (!values["ZELTO_PG_SERVER"].empty()) {
      postgres_ = Create("postgresql", values["ZELTO_PG_SERVER"],
                         "zelto_mix_bench_" + std::to_string(getpid()), values["ZELTO_PG_USER"],
                         values["ZELTO_PG_PASSWORD"]);
    }
  }
  ~Databases() {
    zelto::ado::ConnectionPool::Instance().CloseIdle();
    fs::remove_all(sqlite_dir_);
    if (!own_state_.empty()) {
      std::string stop = "bash " + kSource + "/scripts/pg-cluster.sh stop " + own_state_.string();
      std::system(stop.c_str());
      fs::remove_all(own_state_);
    }
  }
  const Target& Get(bool postgres) const { return postgres ? postgres_ : sqlite_; }

 private:
  static Target Create(const std::string& engine, const std::string& server,
                       const std::string& catalog, const std::string& user,
                       const std::string& password) {
    Target t{engine, server, catalog, user, password, false};
    zelto::ado::SetDatabaseEngine(engine);
    std::string dir = kSource + "/db/schema/" + engine + "/";
    std::string script =
        ReadFile(dir + "chat.sql") + "\n" + ReadFile(kSource + "/db/schema/demo/chat.sql");
    zelto::ado::ConnectionString target;
    target.data_source = server;
    target.initial_catalog = catalog;
    target.user_id = user;
    target.password = password;
    std::string error;
    t.ok = zelto::ado::CreateDatabase(target, script, true, &error);
    if (!t.ok) std::fprintf(stderr, "pg_mix_bench: %s: %s\n", engine.c_str(), error.c_str());
    return t;
  }

  fs::path sqlite_dir_, own_state_;
  Target sqlite_, postgres_;
};

Databases& GetDatabases() {
  static Databases* databases = new Databases;
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
    state.SkipWithError("no database for this engine");
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
