#include "tests/support/seeded_database.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"

namespace zelto::testing {
namespace {

std::string ValueText(const ado::SqlValue& v) {
  switch (v.kind) {
    case ado::SqlValue::Kind::kInteger:
      return std::to_string(v.integer);
    case ado::SqlValue::Kind::kReal: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", v.real);
      return buf;
    }
    case ado::SqlValue::Kind::kNull:
      return "";
    default:
      return v.bytes;
  }
}

}  // namespace

std::vector<TestEngine> AllTestEngines() { return {TestEngine::kSqlite, TestEngine::kPostgres}; }

std::string TestEngineName(const ::testing::TestParamInfo<TestEngine>& info) {
  return info.param == TestEngine::kSqlite ? "Sqlite" : "Postgres";
}

const char* EngineSettingName(TestEngine engine) {
  return engine == TestEngine::kSqlite ? "sqlite" : "postgresql";
}

void PrintTo(TestEngine engine, std::ostream* out) { *out << EngineSettingName(engine); }

bool SeededColumnLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

SeededDatabase::SeededDatabase(TestEngine engine, bool demo, std::string_view schema_folder)
    : engine_(engine) {
  if (engine == TestEngine::kSqlite) {
    folder_ = MakeScratchFolder("db", &why_);
    if (folder_.empty()) {
      ADD_FAILURE() << why_;
      return;
    }
  } else {
    auto cluster = FindTestCluster(&why_);
    if (!cluster) return;
    static std::atomic<int> counter{0};
    folder_ = cluster->server;
    user_ = cluster->user;
    password_ = cluster->password;
    prefix_ = "zt" + std::to_string(getpid()) + "_" + std::to_string(++counter) + "_";
  }
  ado::SetDatabaseEngine(EngineSettingName(engine));
  available_ = true;
  for (const char* name : {"chat", "count"}) {
    std::string script, error;
    if (!ReadSchemaScript(EngineSettingName(engine), name, demo, &script, &error, schema_folder) ||
        !ado::CreateDatabase(Target(name).ConnectionString(), script, false, &error)) {
      ADD_FAILURE() << error;
    }
  }
}

SeededDatabase::~SeededDatabase() {
  if (!available_) return;
  // Pooled sessions would keep the removed databases open.
  ado::ConnectionPool::Instance().CloseIdle();
  if (engine_ == TestEngine::kSqlite) {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  } else {
    DropPostgresDatabases();
  }
  ado::SetDatabaseEngine("sqlite");
}

DatabaseTarget SeededDatabase::Target(std::string_view name) const {
  return {EngineSettingName(engine_), folder_, catalog(name), user_, password_};
}

void SeededDatabase::DropPostgresDatabases() {
  DatabaseTarget admin_target = Target("");
  admin_target.catalog = "postgres";
  std::string error;
  auto admin = ado::PostgresEngine()->Connect(admin_target.ConnectionString(), &error);
  ado::ResultSet ignored;
  for (const char* name : {"chat", "count"}) {
    if (!admin ||
        !admin->Execute("DROP DATABASE IF EXISTS " + catalog(name) + " WITH (FORCE)", &ignored,
                        &error)) {
      ADD_FAILURE() << "cannot drop " << catalog(name) << ": " << error;
    }
  }
}

std::string SeededDatabase::catalog(std::string_view name) const {
  return prefix_ + std::string(name);
}

std::string SeededDatabase::ConnectionString(std::string_view name) const {
  return "Provider=SQLOLEDB.1; Data Source=" + folder_ + "; Initial Catalog=" + catalog(name) +
         "; User ID=" + user_ + "; PWD=" + password_;
}

bool SeededDatabase::Run(std::string_view name, std::string_view sql, void* out) {
  auto* result = static_cast<ado::ResultSet*>(out);
  if (!available_) {
    ADD_FAILURE() << "the " << EngineSettingName(engine_) << " database is not available";
    return false;
  }
  std::string error;
  // This fixture's engine, also while another fixture has set another one.
  ado::Engine* engine =
      engine_ == TestEngine::kSqlite ? ado::SqliteEngine() : ado::PostgresEngine();
  auto connection = engine->Connect(Target(name).ConnectionString(), &error);
  if (!connection || !connection->Execute(sql, result, &error)) {
    ADD_FAILURE() << "on " << name << ": " << error << "\nin: " << sql;
    return false;
  }
  return true;
}

void SeededDatabase::Execute(std::string_view name, std::string_view sql) {
  ado::ResultSet result;
  Run(name, sql, &result);
}

std::vector<SeededRow> SeededDatabase::Query(std::string_view name, std::string_view sql) {
  ado::ResultSet result;
  std::vector<SeededRow> rows;
  if (!Run(name, sql, &result)) return rows;
  for (size_t r = 0; r < result.RowCount(); ++r) {
    SeededRow row;
    // The first column of a name wins, as field lookup by name does.
    for (size_t c = 0; c < result.columns.size(); ++c) {
      row.emplace(result.columns[c].name, ValueText(result.At(r, c)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string SeededDatabase::Scalar(std::string_view name, std::string_view sql) {
  ado::ResultSet result;
  if (!Run(name, sql, &result) || result.RowCount() == 0) return "";
  return ValueText(result.At(0, 0));
}

void SeededDatabase::RefuseInserts(const std::string& table) {
  if (engine_ == TestEngine::kSqlite) {
    // A trigger whose body names a missing table makes every insert fail to
    // run. (No literals: statements pass through the T-SQL translation,
    // which binds literals as parameters.)
    Execute("chat", "create trigger refuse_" + table + " before insert on " + table +
                        " begin delete from refused_" + table + "_missing; end");
  } else {
    // A check no row passes, not applied to the rows already there.
    Execute("chat", "alter table " + table + " add constraint refuse_" + table +
                        " check (false) not valid");
  }
}

}  // namespace zelto::testing
