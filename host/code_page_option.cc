#include "host/code_page_option.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win/codepage.h"

namespace zelto {

void AddCodePageOption(CommandLine& line, std::optional<UINT>* code_page, UINT command_default) {
  const std::string help =
      "the component's ANSI code page: 65001 (utf-8), 936 (gbk) or another this system "
      "converts (default " +
      std::to_string(command_default) + ", or ZELTO_CODEPAGE when set)";
  line.Option("--codepage", "CP", help.c_str(),
              [code_page](std::string_view name, const std::string& value) -> std::string {
                const UINT parsed = ParseCodePage(value);
                if (parsed == 0)
                  return std::string(name) + " wants a code page this system converts (65001, " +
                         "936, utf-8, gbk), not '" + value + "'";
                *code_page = parsed;
                return "";
              });
}

void ApplyCodePage(std::optional<UINT> code_page, UINT command_default) {
  if (code_page) {
    SetAnsiCodePage(*code_page);
    return;
  }
  const char* from_environment = std::getenv("ZELTO_CODEPAGE");
  UINT chosen = command_default;
  if (from_environment && *from_environment) {
    if (const UINT named = ParseCodePage(from_environment)) {
      chosen = named;
    } else {
      std::fprintf(stderr,
                   "zelto: ZELTO_CODEPAGE=%s is not a code page this system can convert; "
                   "using %u\n",
                   from_environment, command_default);
    }
  }
  SetAnsiCodePage(chosen);
}

}  // namespace zelto
