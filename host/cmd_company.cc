// `zelto company add|list|set`: the site's companies (their names, the
// sites allowed to embed their chat, and how many chats one operator takes
// at once), on either engine.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "host/admin_command.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/serve/administration.h"
#include "host/site_database_options.h"

namespace zelto {
namespace {

struct CompanyOptions {
  SiteDatabaseOptions site;
  size_t id = 0;
  std::optional<std::string> name;
  std::optional<std::vector<std::string>> origins;
  size_t chat_limit = 0;  // 0: not given
  bool json = false;

  std::optional<LONG> ChatLimit() const {
    return chat_limit ? std::optional<LONG>(static_cast<LONG>(chat_limit)) : std::nullopt;
  }
};

// --origins "https://a.example,https://b.example" ("" for none).
CommandLine::Setter OriginsValue(std::optional<std::vector<std::string>>* out) {
  return [out](std::string_view name, const std::string& value) -> std::string {
    std::string refused;
    *out = serve::ParseOrigins(value, &refused);
    return *out ? "" : std::string(name) + ": " + refused;
  };
}

const std::string kChatLimitHelp =
    "the most chats one operator takes at once before new chats wait in the queue (default " +
    std::to_string(serve::kDefaultChatLimit) + ")";

CommandLine CompanyLine(const char* sub, const char* about, CompanyOptions* o, bool id,
                        bool fields) {
  CommandLine line(std::string("company ") + sub, "", about);
  if (id) line.Option("--id", "N", "the company's id", IntegerValue(&o->id, 1, 2147483647));
  if (fields) {
    line.Option("--name", "NAME", "the company's name", TextValue(&o->name))
        .Option("--origins", "LIST",
                "the sites allowed to embed the company's chat, separated by commas "
                "(https://www.example.com); empty for none",
                OriginsValue(&o->origins))
        .Option("--chat-limit", "N", kChatLimitHelp.c_str(),
                IntegerValue(&o->chat_limit, 1, serve::kMaxChatLimit));
  } else {
    line.Flag("--json", "print JSON for scripts", [o] { o->json = true; });
  }
  AddSiteDatabaseOptions(line, &o->site, "--db-password");
  line.Epilogue("Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 usage error.\n");
  return line;
}

int Parse(const CommandLine& line, const std::vector<std::string>& args,
          std::unique_ptr<serve::SiteDatabase>* db, const SiteDatabaseOptions& site) {
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  return OpenForCommand(line, site, db);
}

int Add(const std::vector<std::string>& args) {
  CompanyOptions o;
  const CommandLine line =
      CompanyLine("add", "Adds a company and prints its id.", &o, false, true);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (!o.name) return line.UsageError("--name NAME is required");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = OpenForCommand(line, o.site, &db); status >= 0) return status;
  const serve::AdminResult result =
      serve::Administration(*db).AddCompany(*o.name, o.origins.value_or(std::vector<std::string>{}),
                                            o.ChatLimit());
  return ChangeOutcome(line.command(), result, std::to_string(result.id));
}

int List(const std::vector<std::string>& args) {
  CompanyOptions o;
  const CommandLine line = CompanyLine("list", "Lists the companies.", &o, false, false);
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Parse(line, args, &db, o.site); status >= 0) return status;
  std::string error;
  const auto companies = serve::Administration(*db).Companies(&error);
  if (!error.empty()) {
    std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
    return 1;
  }
  auto joined = [](const std::vector<std::string>& origins) {
    std::string text;
    for (const auto& origin : origins) text += (text.empty() ? "" : ",") + origin;
    return text;
  };
  if (o.json) {
    boost::json::array rows;
    for (const auto& c : companies) {
      boost::json::array origins(c.origins.begin(), c.origins.end());
      rows.push_back(boost::json::object{
          {"id", c.id}, {"name", c.name}, {"origins", origins}, {"chatLimit", c.chat_limit}});
    }
    PrintJson(rows);
    return 0;
  }
  std::vector<std::vector<std::string>> table = {{"ID", "NAME", "CHAT LIMIT", "ORIGINS"}};
  for (const auto& c : companies)
    table.push_back({std::to_string(c.id), c.name, std::to_string(c.chat_limit), joined(c.origins)});
  std::fputs(AlignedTable(table).c_str(), stdout);
  return 0;
}

int Set(const std::vector<std::string>& args) {
  CompanyOptions o;
  const CommandLine line = CompanyLine(
      "set", "Changes a company's name, allowed sites or chat limit (those given).", &o, true,
      true);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (o.id == 0) return line.UsageError("--id N is required");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = OpenForCommand(line, o.site, &db); status >= 0) return status;
  return ChangeOutcome(line.command(),
                       serve::Administration(*db).SetCompany(static_cast<LONG>(o.id), o.name,
                                                             o.origins, o.ChatLimit()),
                       "");
}

}  // namespace

int RunCompany(const std::vector<std::string>& args) {
  static const std::vector<Subcommand> subcommands = {
      {"add", "add a company (prints its id)", Add},
      {"list", "list the companies, as a table or --json", List},
      {"set", "change a company's name, allowed sites or chat limit", Set},
  };
  return RunSubcommand("company", subcommands, args);
}

}  // namespace zelto
