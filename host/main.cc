// zelto: registers the ZeltoCom module, creates its databases, runs one page
// request from the command line, and serves the chat site.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/command.h"

namespace zelto {

std::vector<Command>& MutableCommands() {
  static std::vector<Command> commands;
  return commands;
}

bool AddCommand(const Command& command) {
  MutableCommands().push_back(command);
  return true;
}

const std::vector<Command>& Commands() { return MutableCommands(); }

namespace {

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: zelto COMMAND [OPTIONS]\n\n"
               "ZeltoCom, the server side of a web live chat.\n\ncommands:\n");
  std::vector<Command> sorted = Commands();
  std::sort(sorted.begin(), sorted.end(),
            [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
  for (const Command& c : sorted) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  std::fprintf(out, "\n'zelto COMMAND --help' describes a command's options.\n");
}

}  // namespace
}  // namespace zelto

int main(int argc, char** argv) {
  if (argc < 2) {
    zelto::PrintHelp(stderr);
    return 2;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    zelto::PrintHelp(stdout);
    return 0;
  }
  for (const zelto::Command& c : zelto::Commands()) {
    if (name == c.name) return c.run(std::vector<std::string>(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "zelto: unknown command '%s'\n\n", name.c_str());
  zelto::PrintHelp(stderr);
  return 2;
}
