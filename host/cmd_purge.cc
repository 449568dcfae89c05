// `zelto purge` (old ended conversations, visit tracks and address records,
// for a timer to run) and `zelto visitor forget` (one visitor's data), on
// either engine.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/admin_command.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/serve/retention.h"
#include "host/site_database_options.h"

namespace zelto {
namespace {

struct RetentionOptions {
  SiteDatabaseOptions site;
  double days = 0;
  size_t batch = serve::Retention::kDefaultBatch;
};

void AddRetentionOptions(CommandLine& line, RetentionOptions* o) {
  line.Option("--batch", "N",
              "conversations (or tracks' visitors) removed per transaction (default 200): "
              "the site's own writes wait at most one batch",
              IntegerValue(&o->batch, 1, 100000));
  AddSiteDatabaseOptions(line, &o->site, "--db-password");
  line.Epilogue(
      "Attachments are removed from DIR/files (--data DIR; with a database server, the "
      "folder the site's --data names).\n"
      "Exit status: 0 done, 1 failed (the reason on stderr; what was removed before stays "
      "removed), 2 usage error.\n");
}

serve::Retention RetentionOf(const serve::SiteDatabase& db, const RetentionOptions& o) {
  return serve::Retention(db, std::filesystem::path(o.site.data_dir) / "files", o.batch);
}

int Finish(const CommandLine& line, bool done, const serve::PurgeCounts& counts,
           const std::string& error) {
  std::printf("removed %s\n", counts.Summary().c_str());
  if (done) return 0;
  std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
  return 1;
}

}  // namespace

int RunPurge(const std::vector<std::string>& args) {
  RetentionOptions o;
  CommandLine line("purge", "",
                   "Removes the ended conversations older than --retain-days (their messages, "
                   "members, read marks, invitations and attachments), and the visit tracks and "
                   "address records older than that, in short transactions while the site "
                   "serves. 'zelto serve --retain-days N' does the same every hour.");
  line.Option("--retain-days", "N", "keep this many days (decimals allowed; required)",
              DecimalValue(
                  &o.days, [](double d) { return d > 0 && d <= 100 * 366; },
                  "days above 0 (at most 100 years)"));
  AddRetentionOptions(line, &o);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (o.days == 0) return line.UsageError("--retain-days N is required");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = OpenForCommand(line, o.site, &db); status >= 0) return status;
  serve::PurgeCounts counts;
  std::string error;
  const bool done = RetentionOf(*db, o).Purge(
      serve::CutoffText(std::chrono::system_clock::now(), o.days), &counts, &error);
  return Finish(line, done, counts, error);
}

namespace {

int Forget(const std::vector<std::string>& args) {
  RetentionOptions o;
  CommandLine line("visitor forget", "LABEL|ADDRESS",
                   "Removes one visitor's data: their conversations (with every message and "
                   "attachment), the pages they viewed, their row on the site and their "
                   "address records. ADDRESS: every visitor seen from that address.");
  AddRetentionOptions(line, &o);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (operands.size() != 1 || operands[0].empty())
    return line.UsageError("give one visitor label or address");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = OpenForCommand(line, o.site, &db); status >= 0) return status;
  serve::PurgeCounts counts;
  std::string error;
  const bool done = RetentionOf(*db, o).Forget(operands[0], &counts, &error);
  return Finish(line, done, counts, error);
}

}  // namespace

int RunVisitor(const std::vector<std::string>& args) {
  static const std::vector<Subcommand> subcommands = {
      {"forget", "remove one visitor's data (by label or address)", Forget},
  };
  return RunSubcommand("visitor", subcommands, args);
}

}  // namespace zelto
