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

#include "host/command.h"
#include "host/component_call.h"
#include "host/password_file.h"
#include "platform/ado/ado.h"
#include "platform/win/codepage.h"

namespace zelto {
namespace {

constexpr char kUsage[] =
    "usage: zelto call [--data DIR] [--query QUERY] [--session KEY=VALUE]...\n"
    "                  [--session KEY:int=N]... [--server-var KEY=VALUE]... [--no-session]\n"
    "                  [--charset utf-8|gbk] [--engine sqlite|postgresql]\n"
    "                  [--server HOST[:PORT] --user U --password P] METHOD [ARG]\n"
    "\n"
    "Runs one page request: creates ZeltoCom.CZeltoCom, starts the page, calls METHOD\n"
    "(with ARG as its text argument), ends the page.\n"
    "\n"
    "  --data DIR          database folder, the session's DBServer (default ./data)\n"
    "  --query QUERY       the page's query string, e.g. 'cid=1&action=sub'\n"
    "  --session K=V       a text value of the session (DBName=chat, DBCount=count,\n"
    "                      DBUserName and DBPWD empty unless given)\n"
    "  --session K:int=N   an integer value of the session\n"
    "  --server-var K=V    a server variable (REMOTE_ADDR defaults to 127.0.0.1)\n"
    "  --no-session        the page has no session object\n"
    "  --charset CS        charset of the query's escapes and of the output (utf-8)\n"
    "  --engine NAME       database engine (sqlite or postgresql)\n"
    "  --server HOST[:PORT] the PostgreSQL server (or its socket directory), the\n"
    "                      session's DBServer in place of --data\n"
    "  --user U, --password P  the session's DBUserName and DBPWD\n"
    "  --password-file FILE    DBPWD from FILE's first line (kept out of the process list)\n"
    "\n"
    "stdout: the response body. Last stderr line: hr=0x%08X end=0|1 [ret=N].\n"
    "Exit status: 0 S_OK, 1 S_FALSE, 3 failure, 2 usage error.\n";

struct CallOptions {
  std::string data_dir = "./data";
  std::optional<std::string> server;  // a database server in place of data_dir
  std::string query;
  std::vector<std::pair<std::string, std::string>> session_text;
  std::vector<std::pair<std::string, LONG>> session_long;
  std::vector<std::pair<std::string, std::string>> server_variables;
  bool no_session = false;
  PageCharset charset = PageCharset::kUtf8;
  std::optional<std::string> engine;
  std::string method;
  std::optional<std::string> argument;
};

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "zelto call: %s\n\n%s", reason.c_str(), kUsage);
  return 2;
}

std::optional<LONG> ParseLong(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<LONG>(value);
}

// Fills `options` from `args`; returns an error text, empty when all is well.
std::string ParseOptions(const std::vector<std::string>& args, CallOptions& options) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || !positional.empty()) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + i + 1, args.end());
      break;
    }
    std::optional<std::string> inline_value;
    if (const size_t eq = arg.find('='); eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    if (arg == "--no-session") {
      if (inline_value) return "--no-session takes no value";
      options.no_session = true;
      continue;
    }
    if (arg != "--data" && arg != "--query" && arg != "--session" && arg != "--server-var" &&
        arg != "--charset" && arg != "--engine" && arg != "--server" && arg != "--user" &&
        arg != "--password" && arg != "--password-file")
      return "unknown option " + arg;
    if (!inline_value && i + 1 >= args.size()) return arg + " needs a value";
    const std::string value = inline_value ? *inline_value : args[++i];

    if (arg == "--data") {
      if (value.empty()) return "--data needs a folder";
      options.data_dir = value;
    } else if (arg == "--query") {
      options.query = value;
    } else if (arg == "--charset") {
      std::optional<PageCharset> charset = PageCharsetFromName(value);
      if (!charset) return "unknown charset '" + value + "' (utf-8 or gbk)";
      options.charset = *charset;
    } else if (arg == "--engine") {
      options.engine = value;
    } else if (arg == "--server") {
      options.server = value;
    } else if (arg == "--user") {
      options.session_text.emplace(options.session_text.begin(), "DBUserName", value);
    } else if (arg == "--password") {
      options.session_text.emplace(options.session_text.begin(), "DBPWD", value);
    } else if (arg == "--password-file") {
      std::string password, error;
      if (!ReadPasswordFile(value, &password, &error)) return "--password-file: " + error;
      options.session_text.emplace(options.session_text.begin(), "DBPWD", password);
    } else {
      const size_t eq = value.find('=');
      if (eq == std::string::npos || eq == 0) return arg + " wants KEY=VALUE, not '" + value + "'";
      std::string key = value.substr(0, eq);
      const std::string text = value.substr(eq + 1);
      if (arg == "--server-var") {
        options.server_variables.emplace_back(key, text);
      } else if (key.size() > 4 && key.compare(key.size() - 4, 4, ":int") == 0) {
        key.resize(key.size() - 4);
        std::optional<LONG> number = ParseLong(text);
        if (!number) return "--session " + key + ":int wants a 32-bit integer, not '" + text + "'";
        options.session_long.emplace_back(key, *number);
      } else {
        options.session_text.emplace_back(key, text);
      }
    }
  }
  if (positional.empty()) return "METHOD is missing";
  if (positional.size() > 2) return "too many arguments (METHOD and at most one ARG)";
  options.method = positional[0];
  if (positional.size() == 2) options.argument = positional[1];
  return {};
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
  SetDefaultDatabaseSettings(*session, options.server
                                           ? *options.server
                                           : std::filesystem::absolute(options.data_dir).string());
  for (const auto& [key, value] : options.session_text) session->SetText(key, value);
  for (const auto& [key, value] : options.session_long) session->SetLong(key, value);
  return builder.Session(session).Build();
}

int RunCall(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  CallOptions options;
  if (std::string error = ParseOptions(args, options); !error.empty()) return UsageError(error);
  if (options.engine && !SetDatabaseEngine(options.engine->c_str()))
    return UsageError("unknown database engine '" + *options.engine + "'");

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

}  // namespace

ZELTO_COMMAND("call", "run one page request: METHOD of the component, output on stdout", RunCall);

}  // namespace zelto
