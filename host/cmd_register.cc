// `zelto register [MODULE]` and `zelto unregister [MODULE]`: the module's
// self-registration, as regsvr32 does it on Windows.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/command.h"
#include "host/module_path.h"
#include "platform/com/registry.h"

namespace zelto {
namespace {

void PrintUsage(FILE* out, const char* verb) {
  std::fprintf(out,
               "usage: zelto %s [MODULE]\n\n"
               "%s the ZeltoCom module's class and type library in the registry\n"
               "(%s). MODULE defaults to ZeltoCom.so beside the zelto\n"
               "program, else /usr/local/lib/zelto/ZeltoCom.so.\n",
               verb, std::strcmp(verb, "register") == 0 ? "Registers" : "Unregisters",
               RegistryFilePath().c_str());
}

int Run(const std::vector<std::string>& args, bool unregister) {
  const char* verb = unregister ? "unregister" : "register";
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    PrintUsage(stdout, verb);
    return 0;
  }
  if (args.size() > 1 || (!args.empty() && args[0].rfind("-", 0) == 0)) {
    PrintUsage(stderr, verb);
    return 2;
  }
  const std::string path = args.empty() ? DefaultModulePath() : args[0];
  std::string error;
  HRESULT hr = RegisterModule(path, unregister, &error);
  if (FAILED(hr)) {
    std::fprintf(stderr, "zelto %s: %s\n", verb, error.c_str());
    return 1;
  }
  std::printf("%s %s\n", unregister ? "unregistered" : "registered", path.c_str());
  return 0;
}

int RunRegister(const std::vector<std::string>& args) { return Run(args, false); }
int RunUnregister(const std::vector<std::string>& args) { return Run(args, true); }

}  // namespace

ZELTO_COMMAND("register", "register the ZeltoCom module (class, ProgIDs, type library)",
              RunRegister);
ZELTO_COMMAND("unregister", "remove the ZeltoCom module's registration", RunUnregister);

}  // namespace zelto
