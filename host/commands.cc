#include <cstdio>
#include <string>
#include <vector>

#include "host/command.h"
#include "host/version.h"

namespace zelto {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"apikey", "keys of the read-only API of a company: add, list, revoke", RunApiKey},
      {"backup",
       "copy a SQLite site's databases and attachments, while it serves (--data DIR "
       "--to PATH)",
       RunBackup},
      {"call", "run one page request: METHOD of the component, output on stdout", RunCall},
      {"company", "the site's companies: add, list, set", RunCompany},
      {"init-db",
       "create the chat and count databases (--data DIR | --engine postgresql "
       "--server HOST[:PORT] --user U --password P|--password-file F) [--demo] [--force]",
       RunInitDb},
      {"operator", "the site's operators: add, list, set, passwd, remove", RunOperator},
      {"purge", "remove old ended conversations, visit tracks and address records "
       "(--retain-days N)", RunPurge},
      {"register", "register the ZeltoCom module (class, ProgIDs, type library)", RunRegister},
      {"restore", "put a backup back into a stopped site (--from PATH --data DIR)", RunRestore},
      {"serve", "serve the chat site over HTTP (--data DIR --listen ADDR:PORT)", RunServe},
      {"unregister", "remove the ZeltoCom module's registration", RunUnregister},
      {"visitor", "one visitor's data: forget LABEL|ADDRESS", RunVisitor},
      {"webhook", "where a company's chat events are posted: add, list, remove", RunWebhook},
  };
  return commands;
}

namespace {

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: zelto COMMAND [OPTIONS]\n\n"
               "ZeltoCom, the server side of a web live chat.\n\ncommands:\n");
  for (const Command& c : Commands()) std::fprintf(out, "  %-12s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\n'zelto COMMAND --help' describes a command's options; "
               "'zelto --version' says the version.\n");
}

}  // namespace

int RunZelto(const std::vector<std::string>& args) {
  if (args.empty()) {
    PrintHelp(stderr);
    return 2;
  }
  const std::string& name = args[0];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintHelp(stdout);
    return 0;
  }
  if (name == "--version" || name == "version") {
    std::printf("zelto %s\n", ProductVersion());
    return 0;
  }
  for (const Command& c : Commands()) {
    if (name == c.name) return c.run(std::vector<std::string>(args.begin() + 1, args.end()));
  }
  std::fprintf(stderr, "zelto: unknown command '%s'\n\n", name.c_str());
  PrintHelp(stderr);
  return 2;
}

}  // namespace zelto
