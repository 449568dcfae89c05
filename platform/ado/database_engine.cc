// Engine selection. The provider name in the connection string stays
// "SQLOLEDB.1"; which engine serves it is a platform setting.
#include <atomic>
#include <cstdlib>
#include <string>

#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"

namespace zelto::ado {
namespace {

Engine* EngineByName(std::string_view name) {
  if (name.empty() || name == "sqlite") return SqliteEngine();
  if (name == "postgresql" || name == "postgres") return PostgresEngine();
  return nullptr;
}

std::atomic<Engine*> g_chosen{nullptr};

}  // namespace

bool SetDatabaseEngine(std::string_view name) {
  Engine* engine = EngineByName(name);
  if (!engine) return false;
  g_chosen = engine;
  return true;
}

Engine* GetDatabaseEngine() {
  if (Engine* chosen = g_chosen.load()) return chosen;
  const char* env = std::getenv("ZELTO_DB_ENGINE");
  return EngineByName(env ? env : "");
}

bool CreateDatabase(const ConnectionString& target, std::string_view script, bool replace,
                    std::string* error) {
  Engine* engine = GetDatabaseEngine();
  if (!engine) {
    *error = "unknown database engine in ZELTO_DB_ENGINE";
    return false;
  }
  if (!engine->CreateDatabase(target, script, replace, error)) return false;
  // Idle sessions may still point at a database that was just replaced.
  ConnectionPool::Instance().CloseIdle();
  return true;
}

bool CreateDatabase(const std::string& data_source, const std::string& catalog,
                    std::string_view script, bool replace, std::string* error) {
  ConnectionString target;
  target.data_source = data_source;
  target.initial_catalog = catalog;
  return CreateDatabase(target, script, replace, error);
}

}  // namespace zelto::ado
