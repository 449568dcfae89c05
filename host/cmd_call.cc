// zelto call: one page request from the command line. The body goes to
// stdout exactly as written (in the page's charset); the last line on stderr
// is "hr=0x%08X end=0|1", with " ret=N" for a method with a result value.
// Exit status: 0 for S_OK, 1 for S_FALSE, 3 for a failure, 2 for bad usage.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/code_page_option.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/component_call.h"
#include "host/database_login.h"
#include "platform/ado/ado.h"
#include "platform/win/codepage.h"

namespace zelto {
namespace {

struct CallOptions {
  std::string data_dir = "./data";
  serve::DatabaseLogin login;  // --server stands in for --data
  std::string query;
  std::vector<std::pair<std::string, std::string>> session_text;
  std::vector<std::pair<std::string, LONG>> session_long;
  std::vector<std::pair<std::string, std::string>> server_variables;
  bool no_session = false;
  PageCharset charset = PageCharset::kUtf8;
  std::optional<UINT> code_page;  // --codepage; ZELTO_CODEPAGE or 936 without it
  std::string method;
  std::optional<std::string> argument;
};

std::optional<LONG> ParseLong(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<LONG>(value);
}

// "KEY=VALUE" into `key` and `value`; false for anything else.
bool SplitPair(const std::string& text, std::string* key, std::string* value) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  *key = text.substr(0, eq);
  *value = text.substr(eq + 1);
  return true;
}

std::string SessionValue(CallOptions* options, std::string_view name, const std::string& text) {
  std::string key, value;
  if (!SplitPair(text, &key, &value))
    return std::string(name) + " wants KEY=VALUE, not '" + text + "'";
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ":int") == 0) {
    key.resize(key.size() - 4);
    std::optional<LONG> number = ParseLong(value);
    if (!number) return "--session " + key + ":int wants a 32-bit integer, not '" + value + "'";
    options->session_long.emplace_back(key, *number);
  } else {
    options->session_text.emplace_back(key, value);
  }
  return "";
}

CommandLine CallCommandLine(CallOptions* options) {
  CommandLine line(
      "call", "METHOD [ARG]",
      "Runs one page request: creates ZeltoCom.CZeltoCom, starts the page, calls METHOD "
      "(with ARG as its text argument), ends the page. On a PostgreSQL server "
      "(--engine postgresql --server HOST[:PORT]) the server is the session's "
      "DBServer in place of --data, and --user and the password its DBUserName and "
      "DBPWD; a --session value of the same name wins.");
  line.Option("--data", "DIR", "database folder, the session's DBServer (default ./data)",
              TextValue(&options->data_dir, "a folder"))
      .Option("--query", "QUERY", "the page's query string, e.g. 'cid=1&action=sub'",
              TextValue(&options->query))
      .Option("--session", "KEY=VALUE",
              "a text value of the session (DBName=chat, DBCount=count, "
              "DBUserName and DBPWD empty unless given); KEY:int=N an "
              "integer value; may be given again and again",
              [options](std::string_view name, const std::string& value) {
                return SessionValue(options, name, value);
              })
      .Option("--server-var", "KEY=VALUE",
              "a server variable (REMOTE_ADDR defaults to 127.0.0.1); may be given again",
              [options](std::string_view name, const std::string& text) -> std::string {
                std::string key, value;
                if (!SplitPair(text, &key, &value))
                  return std::string(name) + " wants KEY=VALUE, not '" + text + "'";
                options->server_variables.emplace_back(key, value);
                return "";
              })
      .Flag("--no-session", "the page has no session object",
            [options] { options->no_session = true; })
      .Option("--charset", "CS", "charset of the query's escapes and of the output (utf-8, or gbk)",
              [options](std::string_view, const std::string& value) -> std::string {
                std::optional<PageCharset> charset = PageCharsetFromName(value);
                if (!charset) return "unknown charset '" + value + "' (utf-8 or gbk)";
                options->charset = *charset;
                return "";
              });
  AddCodePageOption(line, &options->code_page, CP_GBK);
  AddDatabaseLoginOptions(line, &options->login);
  line.Epilogue(
      "stdout: the response body. Last stderr line: hr=0x%08X end=0|1 [ret=N].\n"
      "Exit status: 0 S_OK, 1 S_FALSE, 3 failure, 2 usage error.\n");
  return line;
}

InMemoryPage BuildPage(const CallOptions& options) {
  InMemoryPage::Builder builder;
  builder.QueryString(options.query, options.charset);
  bool has_remote_addr = false;
  for (const auto& [key, value] : options.server_variables) {
    builder.ServerVariable(key, value);
    if (KeysEqual(Utf8ToWide(key), u"REMOTE_ADDR")) has_remote_addr = true;
  }
  if (!has_remote_addr) builder.ServerVariable("REMOTE_ADDR", "127.0.0.1");
  if (options.no_session) return builder.NoSession().Build();

  auto session = std::make_shared<SessionValues>();
  SetDefaultDatabaseSettings(*session, options.login.server
                                           ? *options.login.server
                                           : std::filesystem::absolute(options.data_dir).string());
  if (options.login.user) session->SetText("DBUserName", *options.login.user);
  if (options.login.password) session->SetText("DBPWD", *options.login.password);
  for (const auto& [key, value] : options.session_text) session->SetText(key, value);
  for (const auto& [key, value] : options.session_long) session->SetLong(key, value);
  return builder.Session(session).Build();
}

}  // namespace

int RunCall(const std::vector<std::string>& args) {
  CallOptions options;
  const CommandLine line = CallCommandLine(&options);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (operands.empty()) return line.UsageError("METHOD is missing");
  if (operands.size() > 2)
    return line.UsageError("too many arguments (METHOD and at most one ARG)");
  options.method = operands[0];
  if (operands.size() == 2) options.argument = operands[1];
  if (options.login.engine && !SetDatabaseEngine(options.login.engine->c_str()))
    return line.UsageError("unknown database engine '" + *options.login.engine + "'");

  ApplyCodePage(options.code_page, CP_GBK);
  const InMemoryPage page = BuildPage(options);
  std::optional<std::u16string> argument;
  if (options.argument) argument = Utf8ToWide(*options.argument);
  const ComponentCall call = CallComponent(page, options.method, argument);

  const std::string body = EncodePageBody(page.body(), options.charset);
  std::fwrite(body.data(), 1, body.size(), stdout);
  std::fflush(stdout);

  if (!call.error.empty()) std::fprintf(stderr, "zelto call: %s\n", call.error.c_str());
  std::string status = "hr=";
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(call.hr));
  status += code;
  status += page.ended() ? " end=1" : " end=0";
  if (call.result.get().vt != VT_EMPTY) {
    VARIANT text;
    VariantInit(&text);
    if (SUCCEEDED(VariantChangeType(&text, &call.result.get(), 0, VT_BSTR)))
      status += " ret=" + WideToUtf8(BstrView(text.bstrVal));
    VariantClear(&text);
  }
  std::fprintf(stderr, "%s\n", status.c_str());

  if (call.hr == S_OK) return 0;
  if (SUCCEEDED(call.hr)) return 1;
  return 3;
}

}  // namespace zelto
