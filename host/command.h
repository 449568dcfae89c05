// The subcommands of `zelto`. Each lives in its own cmd_<name>.cc and adds
// itself to the table with ZELTO_COMMAND, so main.cc never changes when one
// is added.
#pragma once

#include <string>
#include <vector>

namespace zelto {

struct Command {
  const char* name;     // "register", "init-db", ...
  const char* summary;  // one line for `zelto --help`
  // Receives the arguments after the subcommand's name. Returns the exit
  // status; prints its own usage on `--help`.
  int (*run)(const std::vector<std::string>& args);
};

// Adds a command; called by ZELTO_COMMAND during static initialisation.
bool AddCommand(const Command& command);
const std::vector<Command>& Commands();

}  // namespace zelto

#define ZELTO_COMMAND(name, summary, fn) \
  static const bool zelto_command_registered_##fn = ::zelto::AddCommand({name, summary, fn})
