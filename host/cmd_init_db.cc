// `zelto init-db --data DIR [--demo] [--force]` (SQLite) or `zelto init-db
// --engine postgresql --server HOST[:PORT] --user U (--password P |
// --password-file FILE) [--demo]
// [--force]`: creates the chat and count databases with the schema (and the
// demo data set) through the platform's database engine, all or nothing.
#include <cstdio>
#include <string>
#include <vector>

#include "db/schema/schema_scripts.h"
#include "host/command.h"
#include "host/password_file.h"
#include "platform/ado/engine.h"

namespace zelto {
namespace {

constexpr const char* kCatalogs[] = {"chat", "count"};

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: zelto init-db --data DIR [--demo] [--force]\n\n"
               "Creates the chat and count databases in DIR (created when missing) on the\n"
               "configured database engine (ZELTO_DB_ENGINE, default sqlite: DIR/chat.db\n"
               "and DIR/count.db).\n\n"
               "  --data DIR   the data folder: the DBServer setting of the site\n"
               "  --demo       add a small demo data set (company 1, operators 5, 12, 7,\n"
               "               visitors on the site, conversation 1)\n"
               "  --force      replace databases that already exist\n\n"
               "On a PostgreSQL server: --engine postgresql --server HOST[:PORT] --user U\n"
               "and --password P, or --password-file FILE (its first line; the password\n"
               "then never shows in the process list).\n");
}

struct Options {
  std::string data;  // --data or --server: the Data Source
  std::string engine;
  std::string user;
  std::string password;
  bool demo = false;
  bool force = false;
};

// "--name VALUE" or "--name=VALUE" at args[i]; advances i past the value.
bool Value(const std::vector<std::string>& args, size_t& i, const char* name, std::string* out) {
  const std::string& a = args[i];
  const std::string prefix = std::string(name) + "=";
  if (a == name && i + 1 < args.size()) {
    *out = args[++i];
    return true;
  }
  if (a.rfind(prefix, 0) == 0) {
    *out = a.substr(prefix.size());
    return true;
  }
  return false;
}

// False (after printing why) on a bad command line.
bool Parse(const std::vector<std::string>& args, Options* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--demo") {
      options->demo = true;
    } else if (a == "--force") {
      options->force = true;
    } else if (Value(args, i, "--data", &options->data) ||
               Value(args, i, "--server", &options->data) ||
               Value(args, i, "--engine", &options->engine) ||
               Value(args, i, "--user", &options->user) ||
               Value(args, i, "--password", &options->password)) {
    } else if (std::string file; Value(args, i, "--password-file", &file)) {
      std::string error;
      if (!ReadPasswordFile(file, &options->password, &error)) {
        std::fprintf(stderr, "zelto init-db: --password-file: %s\n", error.c_str());
        return false;
      }
    } else {
      std::fprintf(stderr, "zelto init-db: unexpected argument '%s'\n", a.c_str());
      return false;
    }
  }
  if (options->data.empty()) {
    std::fprintf(stderr, "zelto init-db: --data DIR (or --server HOST[:PORT]) is required\n");
    return false;
  }
  return true;
}

// The engine's script for `catalog`, with the demo rows appended on request.
bool Script(ado::Engine* engine, const char* catalog, bool demo, std::string* script) {
  std::string error;
  if (DatabaseScript(engine->Name(), catalog, demo, script, &error)) return true;
  std::fprintf(stderr, "zelto init-db: %s\n", error.c_str());
  return false;
}

int Run(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      PrintUsage(stdout);
      return 0;
    }
  }
  Options options;
  if (!Parse(args, &options)) {
    PrintUsage(stderr);
    return 2;
  }
  if (!options.engine.empty() && !ado::SetDatabaseEngine(options.engine)) {
    std::fprintf(stderr, "zelto init-db: unknown database engine '%s'\n", options.engine.c_str());
    return 2;
  }
  ado::Engine* engine = ado::GetDatabaseEngine();
  if (!engine) {
    std::fprintf(stderr, "zelto init-db: unknown database engine in ZELTO_DB_ENGINE\n");
    return 1;
  }
  std::vector<ado::ConnectionString> targets;
  for (const char* catalog : kCatalogs) {
    ado::ConnectionString& target = targets.emplace_back();
    target.data_source = options.data;
    target.initial_catalog = catalog;
    target.user_id = options.user;
    target.password = options.password;
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

ZELTO_COMMAND("init-db",
              "create the chat and count databases (--data DIR | --engine postgresql "
              "--server HOST[:PORT] --user U --password P|--password-file F) [--demo] [--force]",
              Run);

}  // namespace zelto
