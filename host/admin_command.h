// What the administration commands (`zelto operator`, `zelto company`)
// share: choosing the subcommand, printing a change's outcome, and lists
// as an aligned table or as JSON.
#pragma once

#include <boost/json/value.hpp>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/serve/administration.h"
#include "host/site_database_options.h"

namespace zelto {

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

// Runs the subcommand named by args[0]; its usage for none or --help.
int RunSubcommand(const char* command, const std::vector<Subcommand>& subcommands,
                  const std::vector<std::string>& args);

// 0 for a change made (printing `done` when not empty), 1 otherwise with
// the reason on stderr as "zelto COMMAND: REASON".
int ChangeOutcome(const std::string& command, const serve::AdminResult& result,
                  const std::string& done);

// Rows under a header row, each column as wide as its widest cell (in
// terminal columns: East Asian wide characters take two), two spaces
// between columns.
std::string AlignedTable(const std::vector<std::vector<std::string>>& rows);

// Opens the site's databases for `line`'s command: -1 when open, else the
// exit status after saying why (2 for an option's fault, 1 otherwise).
int OpenForCommand(const CommandLine& line, const SiteDatabaseOptions& options,
                   std::unique_ptr<serve::SiteDatabase>* db);

// Prints `value` as one line of JSON on stdout.
void PrintJson(const boost::json::value& value);

}  // namespace zelto
