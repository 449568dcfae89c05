// The subcommands of `zelto`: one table (commands.cc) of the commands, each
// living in its own cmd_<name>.cc. Adding a command is its file and one
// line of the table.
#pragma once

#include <string>
#include <vector>

#include "host/command_line.h"

namespace zelto {
namespace serve {
struct SiteOptions;
}  // namespace serve

// Each takes the arguments after the command's name and gives the exit
// status; each prints its own usage on --help.
using CommandFunction = int (*)(const std::vector<std::string>& args);

struct Command {
  const char* name;     // "register", "init-db", ...
  const char* summary;  // one line for `zelto --help`
  CommandFunction run;
};

// In the order `zelto --help` lists them.
const std::vector<Command>& Commands();

int RunBackup(const std::vector<std::string>& args);
int RunCall(const std::vector<std::string>& args);
int RunCompany(const std::vector<std::string>& args);
int RunInitDb(const std::vector<std::string>& args);
int RunOperator(const std::vector<std::string>& args);
int RunPurge(const std::vector<std::string>& args);
int RunRegister(const std::vector<std::string>& args);
int RunRestore(const std::vector<std::string>& args);
int RunServe(const std::vector<std::string>& args);
int RunUnregister(const std::vector<std::string>& args);
int RunVisitor(const std::vector<std::string>& args);
int RunWebhook(const std::vector<std::string>& args);
int RunApiKey(const std::vector<std::string>& args);

// The options of `zelto serve`, filling `options`; tests read the same
// options for the sites they run in their own process.
CommandLine ServeCommandLine(serve::SiteOptions* options);

// The whole program: `args` are those after its name.
int RunZelto(const std::vector<std::string>& args);

}  // namespace zelto
