// `zelto init-db`: creates the chat and count databases with the schema (and
// the demo data set) through the platform's database engine, all or nothing.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/schema/schema_scripts.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/database_login.h"
#include "host/serve/data_folder.h"
#include "platform/ado/engine.h"

namespace zelto {
namespace {

constexpr const char* kCatalogs[] = {"chat", "count"};

struct InitDbOptions {
  std::optional<std::string> data;
  serve::DatabaseLogin login;
  bool demo = false;
  bool force = false;
};

CommandLine InitDbCommandLine(InitDbOptions* options) {
  CommandLine line("init-db", "",
                   "Creates the chat and count databases on the configured database engine "
                   "(--engine, else ZELTO_DB_ENGINE, else sqlite): DIR/chat.db and DIR/count.db "
                   "in the data folder (created when missing), or the databases chat and count "
                   "on a PostgreSQL server.");
  line.Option("--data", "DIR", "the data folder: the DBServer setting of the site",
              TextValue(&options->data, "a folder"))
      .Flag("--demo",
            "add a small demo data set (company 1, operators 5, 12, 7, "
            "visitors on the site, conversation 1)",
            [options] { options->demo = true; })
      .Flag("--force", "replace databases that already exist",
            [options] { options->force = true; });
  AddDatabaseLoginOptions(line, &options->login);
  return line;
}

// The engine's script for `catalog`, with the demo rows appended on request.
bool Script(ado::Engine* engine, const char* catalog, bool demo, std::string* script) {
  std::string error;
  if (DatabaseScript(engine->Name(), catalog, demo, script, &error)) return true;
  std::fprintf(stderr, "zelto init-db: %s\n", error.c_str());
  return false;
}

int CreateDatabases(ado::Engine* engine, const InitDbOptions& options) {
  std::vector<ado::ConnectionString> targets;
  for (const char* catalog : kCatalogs) {
    ado::ConnectionString& target = targets.emplace_back();
    target.data_source = options.login.server.value_or(options.data.value_or(""));
    target.initial_catalog = catalog;
    target.user_id = options.login.user.value_or("");
    target.password = options.login.password.value_or("");
  }
  // Refuse before touching anything, so no run leaves one database made and
  // the other not.
  std::vector<std::string> scripts;
  for (size_t i = 0; i < targets.size(); ++i) {
    if (!options.force && engine->DatabaseExists(targets[i])) {
      std::fprintf(stderr, "zelto init-db: %s already exists (use --force to replace it)\n",
                   engine->DatabaseLocation(targets[i]).c_str());
      return 1;
    }
    if (!Script(engine, kCatalogs[i], options.demo, &scripts.emplace_back())) return 1;
  }
  for (size_t i = 0; i < scripts.size(); ++i) {
    std::string error;
    if (!ado::CreateDatabase(targets[i], scripts[i], options.force, &error)) {
      std::fprintf(stderr, "zelto init-db: %s\n", error.c_str());
      return 1;
    }
    std::printf("created %s%s\n", engine->DatabaseLocation(targets[i]).c_str(),
                options.demo ? " with demo data" : "");
  }
  return 0;
}

}  // namespace

int RunInitDb(const std::vector<std::string>& args) {
  InitDbOptions options;
  const CommandLine line = InitDbCommandLine(&options);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (options.data && options.login.server)
    return line.UsageError("give --data DIR or --server HOST[:PORT], not both");
  if (!options.data && !options.login.server)
    return line.UsageError("--data DIR (or --server HOST[:PORT]) is required");
  if (options.login.engine && !ado::SetDatabaseEngine(*options.login.engine))
    return line.UsageError("unknown database engine '" + *options.login.engine + "'");
  ado::Engine* engine = ado::GetDatabaseEngine();
  if (!engine) {
    std::fprintf(stderr, "zelto init-db: unknown database engine in ZELTO_DB_ENGINE\n");
    return 1;
  }
  // Never under a site that serves the folder (--force would pull its
  // databases away).
  std::unique_ptr<serve::DataFolderLock> lock;
  std::error_code ec;
  if (options.data && std::filesystem::is_directory(*options.data, ec)) {
    std::string error;
    lock = serve::DataFolderLock::Take(*options.data, &error);
    if (!lock) {
      std::fprintf(stderr, "zelto init-db: %s; stop the site first\n", error.c_str());
      return 1;
    }
  }
  return CreateDatabases(engine, options);
}

}  // namespace zelto
