// `zelto register [MODULE]` and `zelto unregister [MODULE]`: the module's
// self-registration, as regsvr32 does it on Windows.
#include <cstdio>
#include <string>
#include <vector>

#include "host/command.h"
#include "host/command_line.h"
#include "host/module_path.h"
#include "platform/com/registry.h"

namespace zelto {
namespace {

int Run(const std::vector<std::string>& args, bool unregister) {
  const char* verb = unregister ? "unregister" : "register";
  const CommandLine line(verb, "[MODULE]",
                         std::string(unregister ? "Unregisters" : "Registers") +
                             " the ZeltoCom module's class and type library in the registry (" +
                             RegistryFilePath() +
                             "). MODULE defaults to ZeltoCom.so beside the zelto program, else "
                             "the one installed with it (" +
                             DefaultModulePath() + " here).");
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (operands.size() > 1) return line.UsageError("too many arguments (at most one MODULE)");
  const std::string path = operands.empty() ? DefaultModulePath() : operands[0];
  std::string error;
  HRESULT hr = RegisterModule(path, unregister, &error);
  if (FAILED(hr)) {
    std::fprintf(stderr, "zelto %s: %s\n", verb, error.c_str());
    return 1;
  }
  std::printf("%s %s\n", unregister ? "unregistered" : "registered", path.c_str());
  return 0;
}

}  // namespace

int RunRegister(const std::vector<std::string>& args) { return Run(args, false); }
int RunUnregister(const std::vector<std::string>& args) { return Run(args, true); }

}  // namespace zelto
