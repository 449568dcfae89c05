#include "tests/support/database_setup.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"

namespace zelto::testing {
namespace {

bool ReadSourceFile(const std::string& path, std::string* text, std::string* error) {
  std::ifstream in(std::string(ZELTO_SOURCE_DIR) + "/" + path);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  std::stringstream content;
  content << in.rdbuf();
  *text = content.str();
  return true;
}

std::map<std::string, std::string> ReadEnvFile(const std::string& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return values;
}

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
}

}  // namespace

std::string MakeScratchFolder(std::string_view prefix, std::string* why) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp && *tmp ? tmp : "/tmp") + "/zelto-" + std::string(prefix) + "-XXXXXX";
  if (mkdtemp(pattern.data())) return pattern;
  *why = "cannot make a scratch folder from " + pattern;
  return {};
}

bool ReadSchemaScript(std::string_view engine, std::string_view catalog, bool demo,
                      std::string* script, std::string* error, std::string_view folder) {
  const std::string file = std::string(catalog) + ".sql";
  const std::string root(folder);
  if (!ReadSourceFile(root + "/" + std::string(engine) + "/" + file, script, error)) return false;
  if (!demo) return true;
  std::string rows;
  if (!ReadSourceFile(root + "/demo/" + file, &rows, error)) return false;
  *script += "\n" + rows;
  return true;
}

std::optional<TestCluster> ReadTestCluster(const std::string& env_file, std::string* why) {
  auto values = ReadEnvFile(env_file);
  if (values["ZELTO_PG_SERVER"].empty()) {
    *why = "no PostgreSQL test cluster: " + env_file +
           " is missing (no server binaries? see scripts/pg-cluster.sh)";
    return std::nullopt;
  }
  return TestCluster{values["ZELTO_PG_SERVER"], values["PGHOST"] + ":" + values["PGPORT"],
                     values["ZELTO_PG_USER"], values["ZELTO_PG_PASSWORD"], env_file};
}

std::optional<TestCluster> FindTestCluster(std::string* why) {
  const char* env = std::getenv("ZELTO_TEST_PG_ENV");
  if (!env || !*env) {
    *why = "no PostgreSQL test cluster: run through ctest (make test), or start one with "
           "scripts/pg-cluster.sh start DIR and set ZELTO_TEST_PG_ENV=DIR/cluster.env";
    return std::nullopt;
  }
  return ReadTestCluster(env, why);
}

bool RunPgClusterScript(const std::string& action, const std::string& state_dir) {
  const std::string command = "bash " ZELTO_SOURCE_DIR "/scripts/pg-cluster.sh " + action + " " +
                              state_dir + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

ScratchPgCluster::ScratchPgCluster() : state_(MakeScratchFolder("pgown", &why_)) {
  if (state_.empty()) return;
  if (!RunPgClusterScript("start", state_)) {
    why_ = "cannot start a private PostgreSQL cluster";
    return;
  }
  settings_ = ReadTestCluster(state_ + "/cluster.env", &why_);
}

ScratchPgCluster::~ScratchPgCluster() {
  if (state_.empty()) return;
  RunPgClusterScript("stop", state_);  // also after a failed start: stops what did start
  RemoveFolder(state_);
}

bool ScratchPgCluster::Halt() { return available() && RunPgClusterScript("halt", state_); }

bool ScratchPgCluster::Resume() { return available() && RunPgClusterScript("resume", state_); }

AnyPgCluster::AnyPgCluster() {
  if (std::getenv("ZELTO_TEST_PG_ENV")) {
    settings_ = FindTestCluster(&why_);
    return;
  }
  own_ = std::make_unique<ScratchPgCluster>();
  if (own_->available()) {
    settings_ = own_->settings();
  } else {
    why_ = own_->unavailable_reason();
  }
}

AnyPgCluster::~AnyPgCluster() = default;

ado::ConnectionString DatabaseTarget::ConnectionString() const {
  ado::ConnectionString target;
  target.provider = "SQLOLEDB.1";
  target.data_source = server;
  target.initial_catalog = catalog;
  target.user_id = user;
  target.password = password;
  return target;
}

bool CreateDatabaseFromScript(const DatabaseTarget& target, std::string_view script,
                              std::string* error) {
  if (!ado::SetDatabaseEngine(target.engine)) {
    *error = "no database engine " + target.engine;
    return false;
  }
  return ado::CreateDatabase(target.ConnectionString(), script, true, error);
}

namespace {

// The chat database at `target` from its engine's schema, the demo rows when
// `demo`, then `rows`.
MadeDatabase MakeChatDatabase(DatabaseTarget target, bool demo, const std::string& rows) {
  MadeDatabase made;
  static_cast<DatabaseTarget&>(made) = std::move(target);
  std::string script;
  made.ok = ReadSchemaScript(made.engine, "chat", demo, &script, &made.why_not) &&
            CreateDatabaseFromScript(made, script + rows, &made.why_not);
  if (!made.ok) made.why_not = "cannot create the database: " + made.why_not;
  return made;
}

}  // namespace

DatabasesOnEveryEngine::DatabasesOnEveryEngine(const std::string& name, bool demo,
                                               const std::string& rows, bool with_postgres) {
  folder_ = MakeScratchFolder(name, &sqlite_.why_not);
  if (!folder_.empty()) sqlite_ = MakeChatDatabase(DatabaseTarget::Sqlite(folder_), demo, rows);
  if (!with_postgres) {
    postgres_.why_not = "PostgreSQL left out";
    return;
  }
  cluster_ = std::make_unique<AnyPgCluster>();
  if (!cluster_->available()) {
    postgres_.why_not = cluster_->unavailable_reason();
    return;
  }
  const TestCluster& cluster = cluster_->settings();
  const std::string catalog = "zelto_" + name + "_" + std::to_string(getpid());
  postgres_ = MakeChatDatabase(
      {"postgresql", cluster.server, catalog, cluster.user, cluster.password}, demo, rows);
}

DatabasesOnEveryEngine::~DatabasesOnEveryEngine() {
  // Pooled sessions would keep the removed databases open.
  ado::ConnectionPool::Instance().CloseIdle();
  RemoveFolder(folder_);
}

}  // namespace zelto::testing
