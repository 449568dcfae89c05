// `zelto backup` and `zelto restore`: copies of a SQLite site's databases
// and attachments (host/backup.h). A PostgreSQL site is backed up with
// pg_dump (docs/operations.md).
#include <cstdio>
#include <string>
#include <vector>

#include "host/backup.h"
#include "host/command.h"
#include "host/command_line.h"

namespace zelto {
namespace {

constexpr char kOnServer[] =
    "is for SQLite data folders; back up a PostgreSQL site with pg_dump of its chat and "
    "count databases (docs/operations.md)";

int Report(const char* command, const BackupResult& result) {
  if (!result.ok) {
    std::fprintf(stderr, "zelto %s: %s\n", command, result.message.c_str());
    return 1;
  }
  std::printf("%s\n", result.message.c_str());
  return 0;
}

// The options both commands share; false when --engine names a server.
bool SqliteOnly(const CommandLine& line, const std::string& engine, int* status) {
  if (engine.empty() || engine == "sqlite") return true;
  *status = line.UsageError(std::string("this command ") + kOnServer);
  return false;
}

}  // namespace

int RunBackup(const std::vector<std::string>& args) {
  std::string data = "./data", to, engine;
  CommandLine line("backup", "",
                   "Copies a SQLite site's databases (chat.db, count.db, with SQLite's online "
                   "backup, consistent while the site serves) and its attachments (files/) "
                   "into the new folder PATH, which is a data folder of its own.");
  line.Option("--data", "DIR", "the site's data folder (default ./data)",
              TextValue(&data, "a folder"))
      .Option("--to", "PATH", "the new folder for the copy (must not exist)",
              TextValue(&to, "a folder"))
      .Option("--engine", "NAME", "sqlite (the default); PostgreSQL sites use pg_dump",
              TextValue(&engine));
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  int status = 0;
  if (!SqliteOnly(line, engine, &status)) return status;
  if (to.empty()) return line.UsageError("--to PATH is needed");
  return Report("backup", MakeBackup(data, to));
}

int RunRestore(const std::vector<std::string>& args) {
  std::string data = "./data", from, engine;
  CommandLine line("restore", "",
                   "Puts a copy made by 'zelto backup' back into the data folder DIR of a "
                   "stopped site. The databases and attachments it replaces are kept in "
                   "DIR/replaced-TIME/.");
  line.Option("--from", "PATH", "the folder 'zelto backup' made", TextValue(&from, "a folder"))
      .Option("--data", "DIR", "the site's data folder (default ./data)",
              TextValue(&data, "a folder"))
      .Option("--engine", "NAME", "sqlite (the default); PostgreSQL sites use pg_restore",
              TextValue(&engine));
  line.Epilogue("Exit status: 0 restored, 1 refused (a site running on DIR, a damaged copy), "
                "2 usage error.\n");
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  int status = 0;
  if (!SqliteOnly(line, engine, &status)) return status;
  if (from.empty()) return line.UsageError("--from PATH is needed");
  return Report("restore", RestoreBackup(from, data));
}

}  // namespace zelto
