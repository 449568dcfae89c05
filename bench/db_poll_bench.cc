// The operator poll's select (part of every chat page's refresh) through the
// whole database session (CDbConnection, CDbRecordset, the ADO stand-in, the
// T-SQL translation and VARIANT values) against the same select run as a raw
// SQLite prepared statement. Both read the nine fields of every unread row.
// The closing line prints the ratio of the two, measured in this run, by CPU
// time (wall time on a shared machine mostly measures the neighbours).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>

#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "platform/ado/ado.h"
#include "platform/ado/connection_pool.h"
#include "tests/support/database_setup.h"

namespace {

constexpr int kMessages = 200;  // in the polled conversation
constexpr int kUnread = 10;     // of them not yet read by operator 12
const char* const kPoll =
    "select * from msg where conid=1001 and userID_send<>12 and CHARINDEX(',12,',readFlag)=0";

// A scratch chat database with one busy conversation and some others.
class Fixture {
 public:
  Fixture() {
    using namespace zelto::testing;
    std::string script, error;
    folder_ = MakeScratchFolder("bench", &error);
    if (folder_.empty() || !ReadSchemaScript("sqlite", "chat", false, &script, &error)) {
      std::fprintf(stderr, "cannot make the benchmark database: %s\n", error.c_str());
      std::exit(1);
    }
    for (int conid : {1001, 1002, 1003}) {
      for (int i = 0; i < kMessages; ++i) {
        bool unread = conid == 1001 && i >= kMessages - kUnread;
        char row[512];
        std::snprintf(
            row, sizeof row,
            "\ninsert into msg(conid,userID_send,cstLabel,nickName,msgContent,msgApp,"
            "msgTime,IP,readFlag) values(%d,%d,'%s','%s','消息 %d: 您好，请问价格是多少？',"
            "'','2024-05-20 09:%02d:%02d','123.118.4.21','%s');",
            conid, i % 2 ? 5 : 0, i % 2 ? "" : "20240520091502731", i % 2 ? "" : "访客731", i,
            i / 60 % 60, i % 60, unread ? "" : ",5,,12,");
        script += row;
      }
    }
    if (!CreateDatabaseFromScript(DatabaseTarget::Sqlite(folder_), script, &error)) {
      std::fprintf(stderr, "cannot make the benchmark database: %s\n", error.c_str());
      std::exit(1);
    }
  }
  ~Fixture() {
    zelto::ado::ConnectionPool::Instance().CloseIdle();
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

std::map<std::string, double>& Timings() {
  static std::map<std::string, double> timings;
  return timings;
}

void BM_PollThroughDbSession(benchmark::State& state) {
  CDbConnection connection;
  if (!connection.Connect(Data().folder(), "chat", "", "", adOptionUnspecified)) {
    state.SkipWithError("cannot open the database");
    return;
  }
  size_t rows = 0;
  for (auto _ : state) {
    CDbRecordset rs;
    ComPtr<_Recordset>::Adopt(rs.Attach(connection.Execute(kPoll)));
    if (rs.IsEOF() || rs.IsBOF()) continue;
    while (!rs.IsEOF()) {
      LONG issystem, id, sender;
      std::string time, content, app, flag, label, nick;
      rs.GetFieldLong("issystem", issystem);
      rs.GetFieldLong("msgID", id);
      rs.GetFieldText("msgtime", time);
      rs.GetFieldText("msgContent", content);
      rs.GetFieldLong("userid_send", sender);
      rs.GetFieldText("msgapp", app);
      rs.GetFieldText("readFlag", flag);
      rs.GetFieldText("cstLabel", label);
      rs.GetFieldText("nickname", nick);
      benchmark::DoNotOptimize(content.data());
      ++rows;
      if (!rs.MoveNext()) break;
    }
  }
  if (rows != static_cast<size_t>(state.iterations()) * kUnread) {
    state.SkipWithError("unexpected row count");
  }
}

void BM_PollThroughRawSqlite(benchmark::State& state) {
  sqlite3* db = nullptr;
  std::string path = Data().folder() + "/chat.db";
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db,
                         "select * from msg where conid=? and userID_send<>? and "
                         "instr(readFlag, ?)=?",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_close(db);
    return;
  }
  // Columns by name once, as a hand-written reader would.
  std::map<std::string, int> column;
  for (int i = 0; i < sqlite3_column_count(stmt); ++i) column[sqlite3_column_name(stmt, i)] = i;
  const int issystem = column["issystem"], id = column["msgID"], time = column["msgTime"],
            content = column["msgContent"], sender = column["userID_send"], app = column["msgApp"],
            flag = column["readFlag"], label = column["cstLabel"], nick = column["nickName"];
  auto text = [&](int c) {
    const unsigned char* t = sqlite3_column_text(stmt, c);
    return std::string(t ? reinterpret_cast<const char*>(t) : "", sqlite3_column_bytes(stmt, c));
  };
  size_t rows = 0;
  for (auto _ : state) {
    sqlite3_bind_int(stmt, 1, 1001);
    sqlite3_bind_int(stmt, 2, 12);
    sqlite3_bind_text(stmt, 3, ",12,", -1, SQLITE_STATIC);
    sqlite3_bind_int(stmt, 4, 0);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      benchmark::DoNotOptimize(sqlite3_column_int(stmt, issystem));
      benchmark::DoNotOptimize(sqlite3_column_int(stmt, id));
      benchmark::DoNotOptimize(sqlite3_column_int(stmt, sender));
      std::string t = text(time), c = text(content), a = text(app), f = text(flag), l = text(label),
                  n = text(nick);
      benchmark::DoNotOptimize(c.data());
      ++rows;
    }
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  if (rows != static_cast<size_t>(state.iterations()) * kUnread) {
    state.SkipWithError("unexpected row count");
  }
}

// ZELTO_BENCH_ITERATIONS=n runs each benchmark exactly n times, so that an
// instruction count (bench/callgrind_ratio.sh) compares equal work.
void Register() {
  const char* fixed = std::getenv("ZELTO_BENCH_ITERATIONS");
  using Function = void (*)(benchmark::State&);
  const std::pair<const char*, Function> kBenchmarks[] = {
      {"BM_PollThroughDbSession", BM_PollThroughDbSession},
      {"BM_PollThroughRawSqlite", BM_PollThroughRawSqlite}};
  for (auto [name, function] : kBenchmarks) {
    auto* b = benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kMicrosecond);
    if (fixed && std::atoi(fixed) > 0) b->Iterations(std::atoi(fixed));
  }
}

// Collects each benchmark's time per iteration for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the output is read from logs as often as from a terminal.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        Timings()[run.benchmark_name()] = run.GetAdjustedCPUTime();
      }
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  Data();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto& t = Timings();
  auto session = t.find("BM_PollThroughDbSession");
  auto raw = t.find("BM_PollThroughRawSqlite");
  if (session != t.end() && raw != t.end() && raw->second > 0) {
    std::printf(
        "operator poll, database session / raw sqlite3 (CPU time): %.2fx (goal at most 1.5x)\n",
        session->second / raw->second);
  }
  benchmark::Shutdown();
  return 0;
}
