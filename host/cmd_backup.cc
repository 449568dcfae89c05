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

// What both commands are told: the data folder, the copy's folder (--to
// or --from) and the engine, which must be SQLite's.
struct CopyOptions {
  std::string data = "./data", copy, engine;
};

// Parses `args` into `options`; -1 when the command should run, else the
// exit status to end with.
int ParseCopyOptions(CommandLine& line, const char* copy_option, const char* copy_help,
                     const std::vector<std::string>& args, CopyOptions* options) {
  line.Option("--data", "DIR", "the site's data folder (default ./data)",
              TextValue(&options->data, "a folder"))
      .Option(copy_option, "PATH", copy_help, TextValue(&options->copy, "a folder"))
      .Option("--engine", "NAME", "sqlite (the default); PostgreSQL sites use pg_dump",
              TextValue(&options->engine));
  line.Epilogue("Exit status: 0 done, 1 refused (see the message), 2 usage error.\n");
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (!options->engine.empty() && options->engine != "sqlite")
    return line.UsageError(std::string("this command ") + kOnServer);
  if (options->copy.empty()) return line.UsageError(std::string(copy_option) + " PATH is needed");
  return -1;
}

int Report(const char* command, const BackupResult& result) {
  if (!result.ok) {
    std::fprintf(stderr, "zelto %s: %s\n", command, result.message.c_str());
    return 1;
  }
  std::printf("%s\n", result.message.c_str());
  return 0;
}

}  // namespace

int RunBackup(const std::vector<std::string>& args) {
  CommandLine line("backup", "",
                   "Copies a SQLite site's databases (chat.db, count.db, with SQLite's online "
                   "backup, consistent while the site serves) and its attachments (files/) "
                   "into the new folder PATH, which is a data folder of its own.");
  CopyOptions options;
  const int status = ParseCopyOptions(line, "--to", "the new folder for the copy (must not exist)",
                                      args, &options);
  return status >= 0 ? status : Report("backup", MakeBackup(options.data, options.copy));
}

int RunRestore(const std::vector<std::string>& args) {
  CommandLine line("restore", "",
                   "Puts a copy made by 'zelto backup' back into the data folder DIR of a "
                   "stopped site (a running one is refused). The databases and attachments it "
                   "replaces are kept in DIR/replaced-TIME/.");
  CopyOptions options;
  const int status =
      ParseCopyOptions(line, "--from", "the folder 'zelto backup' made", args, &options);
  return status >= 0 ? status : Report("restore", RestoreBackup(options.copy, options.data));
}

}  // namespace zelto
