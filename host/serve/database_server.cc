#include "host/serve/database_server.h"

#include <vector>

#include "db/schema/schema_scripts.h"
#include "platform/ado/engine.h"

namespace zelto::serve {
namespace {

constexpr const char* kCatalogs[] = {kChatCatalog, kCountCatalog};

ado::ConnectionString Target(const DatabaseServer& server, const char* catalog) {
  ado::ConnectionString target;
  target.data_source = server.address;
  target.initial_catalog = catalog;
  target.user_id = server.user;
  target.password = server.password;
  return target;
}

}  // namespace

DataFolderResult PrepareDatabaseServer(const DatabaseServer& server, bool demo,
                                       std::string* message) {
  ado::Engine* engine = ado::GetDatabaseEngine();
  if (!engine) {
    *message = "no database engine";
    return DataFolderResult::kRefused;
  }
  // A connection proves both the server and the database; a missing database
  // and an unreachable server look alike here, and creating tells them apart.
  std::vector<const char*> missing;
  std::string error;
  for (const char* catalog : kCatalogs) {
    if (!engine->Connect(Target(server, catalog), &error)) missing.push_back(catalog);
  }
  if (missing.empty())
    return UseExistingDatabases(SiteDatabase(server.address, server.user, server.password),
                                "using the chat and count databases on " + server.address, message);
  if (missing.size() == 1) {
    *message = engine->DatabaseLocation(Target(server, missing[0])) +
               " is missing (or cannot be opened: " + error +
               "); create both with 'zelto init-db --engine " + std::string(engine->Name()) +
               " --server " + server.address + " --user U --password P --force'";
    return DataFolderResult::kRefused;
  }
  std::string created;
  for (const char* catalog : kCatalogs) {
    std::string script;
    if (!DatabaseScript(engine->Name(), catalog, demo, &script, message)) return DataFolderResult::kRefused;
    const ado::ConnectionString target = Target(server, catalog);
    if (!ado::CreateDatabase(target, script, false, &error)) {
      *message = "cannot use the database server " + server.address + ": " + error;
      return DataFolderResult::kRefused;
    }
    created += (created.empty() ? "" : " and ") + engine->DatabaseLocation(target);
  }
  *message = "created " + created + (demo ? " with demo data" : "");
  return DataFolderResult::kCreated;
}

}  // namespace zelto::serve
