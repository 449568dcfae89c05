// One operator poll (GetUserMsg) through the whole stack the host uses (the
// component created by its ProgID, OnStartPage on a fresh page, the method
// called by name through IDispatch, OnEndPage) against the same statements
// sent as raw prepared statements on the same engine: the select alone when
// nothing is unread, the select and one mark update per message when ten are
// unread. SQLite runs in this process; PostgreSQL in a throwaway cluster
// (ZELTO_TEST_PG_ENV, else scripts/pg-cluster.sh), skipped with the reason
// when there is none.
//
// SQLite is compared by CPU time (the engine runs here), PostgreSQL by wall
// time (the server's work is in another process). After the run the program
// prints one "RESULT|row|what|figure|reference|ratio|goal" line per
// comparison for bench/run.sh.
//
// ZELTO_BENCH_ITERATIONS=n runs each benchmark exactly n times and
// ZELTO_BENCH_ENGINES=sqlite leaves PostgreSQL out (bench/callgrind_ratio.sh
// counts the instructions of ComponentPollOnce and RawSqlitePollOnce).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/component_call.h"
#include "platform/ado/engine.h"
#include "platform/asp/in_memory_page.h"
#include "tests/support/database_setup.h"

namespace {

namespace fs = std::filesystem;

constexpr int kConversation = 1;
constexpr int kMessages = 200;  // in the polled conversation, msgID 1..200
constexpr int kUnread = 10;     // the last ten when a run wants unread messages
constexpr const char* kOperator = "5";

// The polled conversation first (so that its messages are msgID 1..200, all
// from its visitor and read by operator 5), then 5000 messages of others.
std::string Rows() {
  char rows[2048];
  std::snprintf(rows, sizeof rows,
                "\nWITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %d) "
                "INSERT INTO msg (conid, userID_send, cstLabel, nickName, msgContent, msgApp, "
                "msgTime, IP, readFlag) SELECT %d, 0, '20240520091502731', 'guest', "
                "'message ' || x || ' #link#http://a/#link_mid#a#link_end# :#1#', '', "
                "'2024-05-20 09:17:25', '123.118.4.21', ',%s,' FROM n;\n"
                "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 5000) "
                "INSERT INTO msg (conid, userID_send, cstLabel, nickName, msgContent, msgApp, "
                "msgTime, IP, readFlag) SELECT 2 + x %% 50, 0, 'V' || x, 'guest', 'hello', '', "
                "'2024-05-20 09:17:25', '', '' FROM n;\n",
                kMessages, kConversation, kOperator);
  return rows;
}

// Sets the read marks of the conversation's last ten messages: read by the
// operator or not. Run outside the measured code.
std::string MarkSql(bool unread) {
  return std::string("update msg set readFlag = '") + (unread ? "" : "," + std::string(kOperator) + ",") +
         "' where conid = " + std::to_string(kConversation) +
         " and msgID > " + std::to_string(kMessages - kUnread);
}

using Target = zelto::testing::MadeDatabase;

// The polled database on each engine; PostgreSQL unless ZELTO_BENCH_ENGINES
// leaves it out.
zelto::testing::DatabasesOnEveryEngine& GetDatabases() {
  const char* engines = std::getenv("ZELTO_BENCH_ENGINES");
  static auto* databases = new zelto::testing::DatabasesOnEveryEngine(
      "component_poll", false, Rows(),
      !engines || std::string(engines).find("postgresql") != std::string::npos);
  return *databases;
}

// The raw side: the same statements, prepared once, values bound.
class RawSession {
 public:
  virtual ~RawSession() = default;
  virtual bool ok() const = 0;
  // The poll's select and, per row, the read mark; the number of rows.
  virtual int Poll() = 0;
  virtual void Run(const std::string& sql) = 0;
};

class RawSqlite : public RawSession {
 public:
  explicit RawSqlite(const Target& t) {
    std::string path = t.server + "/" + t.catalog + ".db";
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return;
    sqlite3_busy_timeout(db_, 5000);
    ok_ = sqlite3_prepare_v2(db_,
                             "select * from msg where conid=? and userID_send<>? and "
                             "instr(readFlag, ?)=?",
                             -1, &select_, nullptr) == SQLITE_OK &&
          sqlite3_prepare_v2(db_, "update msg set readFlag = readFlag || ? where msgID=?", -1,
                             &mark_, nullptr) == SQLITE_OK;
    if (!ok_) return;
    std::map<std::string, int> column;  // by name once, as a hand-written reader would
    for (int i = 0; i < sqlite3_column_count(select_); ++i) {
      column[sqlite3_column_name(select_, i)] = i;
    }
    issystem_ = column["issystem"], id_ = column["msgID"], time_ = column["msgTime"];
    content_ = column["msgContent"], sender_ = column["userID_send"], app_ = column["msgApp"];
    label_ = column["cstLabel"], nick_ = column["nickName"];
  }
  ~RawSqlite() override {
    sqlite3_finalize(select_);
    sqlite3_finalize(mark_);
    sqlite3_close(db_);
  }
  bool ok() const override { return ok_; }

  int Poll() override;

  void Run(const std::string& sql) override {
    sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  }

 private:
  std::string Text(int c) {
    const unsigned char* t = sqlite3_column_text(select_, c);
    return std::string(t ? reinterpret_cast<const char*>(t) : "", sqlite3_column_bytes(select_, c));
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* select_ = nullptr;
  sqlite3_stmt* mark_ = nullptr;
  int issystem_ = 0, id_ = 0, time_ = 0, content_ = 0, sender_ = 0, app_ = 0, label_ = 0, nick_ = 0;
  bool ok_ = false;
};

__attribute__((noinline)) int RawSqlitePollOnce(RawSqlite& raw) { return raw.Poll(); }

int RawSqlite::Poll() {
  const std::string mark = "," + std::string(kOperator) + ",";
  sqlite3_bind_int(select_, 1, kConversation);
  sqlite3_bind_int(select_, 2, std::atoi(kOperator));
  sqlite3_bind_text(select_, 3, mark.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_int(select_, 4, 0);
  std::vector<int> ids;
  int rows = 0;
  while (sqlite3_step(select_) == SQLITE_ROW) {
    benchmark::DoNotOptimize(sqlite3_column_int(select_, issystem_));
    benchmark::DoNotOptimize(sqlite3_column_int(select_, sender_));
    std::string t = Text(time_), c = Text(content_), a = Text(app_), l = Text(label_),
                n = Text(nick_);
    benchmark::DoNotOptimize(c.data());
    ids.push_back(sqlite3_column_int(select_, id_));
    ++rows;
  }
  sqlite3_reset(select_);
  for (int msg_id : ids) {
    sqlite3_bind_text(mark_, 1, mark.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(mark_, 2, msg_id);
    sqlite3_step(mark_);
    sqlite3_reset(mark_);
  }
  return rows;
}

class RawPostgres : public RawSession {
 public:
  explicit RawPostgres(const Target& t) {
    std::string host = t.server, port = "5432";
    if (size_t colon = host.rfind(':'); colon != std::string::npos) {
      port = host.substr(colon + 1);
      host.resize(colon);
    }
    const char* keys[] = {"host", "port", "dbname", "user", "password", nullptr};
    const char* values[] = {host.c_str(),   port.c_str(),       t.catalog.c_str(),
                            t.user.c_str(), t.password.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 0);
    if (PQstatus(conn_) != CONNECTION_OK) return;
    ok_ = Prepare("poll",
                  "select * from msg where conid=$1 and userID_send<>$2 and "
                  "strpos(readFlag, $3)=$4") &&
          Prepare("mark", "update msg set readFlag = readFlag || $1 where msgID=$2");
  }
  ~RawPostgres() override { PQfinish(conn_); }
  bool ok() const override { return ok_; }

  int Poll() override {
    const std::string mark = "," + std::string(kOperator) + ",";
    const std::string conversation = std::to_string(kConversation);
    const char* params[] = {conversation.c_str(), kOperator, mark.c_str(), "0"};
    PGresult* result = PQexecPrepared(conn_, "poll", 4, params, nullptr, nullptr, 0);
    const int rows = PQntuples(result);
    std::vector<std::string> ids;
    if (rows > 0) {
      const int issystem = PQfnumber(result, "issystem"), id = PQfnumber(result, "msgid"),
                time = PQfnumber(result, "msgtime"), content = PQfnumber(result, "msgcontent"),
                sender = PQfnumber(result, "userid_send"), app = PQfnumber(result, "msgapp"),
                label = PQfnumber(result, "cstlabel"), nick = PQfnumber(result, "nickname");
      for (int r = 0; r < rows; ++r) {
        benchmark::DoNotOptimize(std::atoi(PQgetvalue(result, r, issystem)));
        benchmark::DoNotOptimize(std::atoi(PQgetvalue(result, r, sender)));
        std::string t = PQgetvalue(result, r, time), c = PQgetvalue(result, r, content),
                    a = PQgetvalue(result, r, app), l = PQgetvalue(result, r, label),
                    n = PQgetvalue(result, r, nick);
        benchmark::DoNotOptimize(c.data());
        ids.emplace_back(PQgetvalue(result, r, id));
      }
    }
    PQclear(result);
    for (const std::string& msg_id : ids) {
      const char* mark_params[] = {mark.c_str(), msg_id.c_str()};
      PQclear(PQexecPrepared(conn_, "mark", 2, mark_params, nullptr, nullptr, 0));
    }
    return rows;
  }

  void Run(const std::string& sql) override { PQclear(PQexec(conn_, sql.c_str())); }

 private:
  bool Prepare(const char* name, const char* sql) {
    PGresult* result = PQprepare(conn_, name, sql, 0, nullptr);
    const bool prepared = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    return prepared;
  }

  PGconn* conn_ = nullptr;
  bool ok_ = false;
};

InMemoryPage BuildPage(const Target& t) {
  return InMemoryPage::Builder()
      .QueryString("cid=" + std::to_string(kConversation))
      .ServerVariable("REMOTE_ADDR", "127.0.0.1")
      .SessionText("DBServer", t.server)
      .SessionText("DBName", t.catalog)
      .SessionText("DBUserName", t.user)
      .SessionText("DBPWD", t.password)
      .SessionText("DBCount", "count")
      .Build();
}

// What the host does for one request of /operator/GetUserMsg.asp.
__attribute__((noinline)) HRESULT ComponentPollOnce(const Target& t) {
  InMemoryPage page = BuildPage(t);
  const ComponentCall call = CallComponent(page, "GetUserMsg", u"5");
  benchmark::DoNotOptimize(page.body().data());
  return call.hr;
}

std::map<std::string, double>& Times() {
  static std::map<std::string, double> times;
  return times;
}

std::string Key(bool postgres, bool unread, bool raw) {
  return std::string(postgres ? "postgresql" : "sqlite") + (unread ? "/ten" : "/none") +
         (raw ? "/raw" : "/component");
}

void Record(benchmark::State& state, const std::string& key, double seconds) {
  if (state.iterations() > 0) Times()[key] = seconds / static_cast<double>(state.iterations());
}

double ProcessSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}
double WallSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Times only the polls (the marks are reset between them, untimed); SQLite by
// this process's CPU time, PostgreSQL by wall time.
template <typename PollOnce>
void Measure(benchmark::State& state, bool postgres, bool unread, bool raw, RawSession& marks,
             PollOnce poll_once) {
  const std::string reset = MarkSql(unread);
  double spent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (unread) marks.Run(reset);
    const double start = postgres ? WallSeconds() : ProcessSeconds();
    state.ResumeTiming();
    const bool right = poll_once();
    state.PauseTiming();
    spent += (postgres ? WallSeconds() : ProcessSeconds()) - start;
    state.ResumeTiming();
    if (!right) {
      state.SkipWithError("the poll did not give what was expected");
      return;
    }
  }
  Record(state, Key(postgres, unread, raw), spent);
}

std::unique_ptr<RawSession> OpenRaw(const Target& t, bool postgres) {
  if (postgres) return std::make_unique<RawPostgres>(t);
  return std::make_unique<RawSqlite>(t);
}

void Poll(benchmark::State& state, bool postgres, bool unread, bool raw) {
  const Target& t = GetDatabases().Get(postgres);
  if (!t.ok) {
    state.SkipWithError(t.why_not.c_str());
    return;
  }
  zelto::ado::SetDatabaseEngine(t.engine);
  std::unique_ptr<RawSession> session = OpenRaw(t, postgres);
  if (!session->ok()) {
    state.SkipWithError("cannot open the raw session");
    return;
  }
  session->Run(MarkSql(false));
  // Registers and loads the module and fills the pools; not ComponentPollOnce,
  // whose calls callgrind counts.
  InMemoryPage first = BuildPage(t);
  if (CallComponent(first, "GetUserMsg", u"5").hr != S_FALSE) {
    state.SkipWithError("the component's poll failed");
    return;
  }
  const int expected_rows = unread ? kUnread : 0;
  if (raw) {
    Measure(state, postgres, unread, raw, *session, [&] {
      return (postgres ? session->Poll() : RawSqlitePollOnce(static_cast<RawSqlite&>(*session))) ==
             expected_rows;
    });
  } else {
    const HRESULT expected = unread ? S_OK : S_FALSE;
    Measure(state, postgres, unread, raw, *session,
            [&] { return ComponentPollOnce(t) == expected; });
  }
  session->Run(MarkSql(false));
}

void Register() {
  const char* fixed = std::getenv("ZELTO_BENCH_ITERATIONS");
  const int iterations = fixed ? std::atoi(fixed) : 0;
  for (bool postgres : {false, true}) {
    for (bool unread : {false, true}) {
      for (bool raw : {false, true}) {
        auto* b = benchmark::RegisterBenchmark(Key(postgres, unread, raw).c_str(),
                                               [=](benchmark::State& s) {
                                                 Poll(s, postgres, unread, raw);
                                               })
                      ->Unit(benchmark::kMicrosecond);
        if (iterations > 0) b->Iterations(iterations);
      }
    }
  }
}

void PrintResults() {
  for (bool postgres : {false, true}) {
    const Target& t = GetDatabases().Get(postgres);
    const char* engine = postgres ? "PostgreSQL" : "SQLite";
    for (bool unread : {false, true}) {
      const char* row = unread ? "2" : "1";
      const char* goal = unread ? "<=2" : "<=1.5";
      const std::string what = std::string("operator poll, ") +
                               (unread ? "ten unread" : "nothing unread") + ", " + engine +
                               (postgres ? " (wall)" : " (CPU)") +
                               ": component by ProgID vs raw prepared statement";
      auto component = Times().find(Key(postgres, unread, false));
      auto raw = Times().find(Key(postgres, unread, true));
      if (!t.ok || component == Times().end() || raw == Times().end() || raw->second <= 0) {
        std::printf("RESULT|%s|%s|skipped: %s|-|-|%s\n", row, what.c_str(),
                    t.ok ? "not measured" : t.why_not.c_str(), goal);
        continue;
      }
      std::printf("RESULT|%s|%s|%.1f us|%.1f us|%.2f|%s\n", row, what.c_str(),
                  component->second * 1e6, raw->second * 1e6, component->second / raw->second,
                  goal);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!std::getenv("ZELTO_REGISTRY")) {
    static std::string registry =
        (fs::temp_directory_path() / ("zelto-component-poll-registry-" + std::to_string(getpid())))
            .string();
    setenv("ZELTO_REGISTRY", registry.c_str(), 1);
  }
  GetDatabases();
  Register();
  benchmark::RunSpecifiedBenchmarks();
  PrintResults();
  delete &GetDatabases();
  if (const char* registry = std::getenv("ZELTO_REGISTRY");
      registry && std::string(registry).find("zelto-component-poll-registry-") != std::string::npos) {
    fs::remove(registry);
    fs::remove(std::string(registry) + ".lock");  // the registry's lock file beside it
  }
  benchmark::Shutdown();
  return 0;
}
