// `zelto webhook add|list|remove` and `zelto apikey add|list|revoke`: what
// connects other systems to a company's chats (host/serve/webhooks.h,
// host/serve/api_keys.h), on either engine. A webhook's secret and an API
// key are printed once, when made; lists never show them.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "host/admin_command.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/serve/api_keys.h"
#include "host/serve/webhooks.h"
#include "host/site_database_options.h"

namespace zelto {
namespace {

namespace json = boost::json;

struct ConnectOptions {
  SiteDatabaseOptions site;
  size_t company = 0, id = 0;
  std::string url, events = "*", name;
  bool allow_http = false, json = false;
};

enum Fields : unsigned { kCompany = 1, kId = 2, kJson = 4 };

CommandLine ConnectLine(const std::string& command, const char* about, ConnectOptions* o,
                        unsigned fields) {
  CommandLine line(command, "", about);
  if (fields & kCompany)
    line.Option("--company", "N", "the company's id", IntegerValue(&o->company, 1, 2147483647));
  if (fields & kId) line.Option("--id", "N", "its id", IntegerValue(&o->id, 1, 2147483647));
  if (fields & kJson) line.Flag("--json", "print JSON for scripts", [o] { o->json = true; });
  AddSiteDatabaseOptions(line, &o->site, "--db-password");
  line.Epilogue("Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 usage error.\n");
  return line;
}

// Parses and opens the databases: -1 to go on, else the exit status.
int Open(const CommandLine& line, const std::vector<std::string>& args, ConnectOptions& o,
         bool needs_company, bool needs_id, std::unique_ptr<serve::SiteDatabase>* db) {
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (needs_company && o.company == 0) return line.UsageError("--company N is required");
  if (needs_id && o.id == 0) return line.UsageError("--id N is required");
  return OpenForCommand(line, o.site, db);
}

int ListFailed(const CommandLine& line, const std::string& error) {
  std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
  return 1;
}

std::string Date(int64_t seconds) {
  if (seconds == 0) return "-";
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &utc);
  return text;
}

// A list as JSON for scripts, else as a table; 0.
int PrintList(bool as_json, const json::array& rows,
              const std::vector<std::vector<std::string>>& table) {
  if (as_json) {
    PrintJson(rows);
  } else {
    std::fputs(AlignedTable(table).c_str(), stdout);
  }
  return 0;
}

// Prints what was made: the id and its secret, as JSON or as two lines.
int Made(const CommandLine& line, const serve::AdminResult& result, bool as_json,
         const char* secret_name, const std::string& secret) {
  if (!result) return ChangeOutcome(line.command(), result, "");
  if (as_json) {
    PrintJson(json::object{{"id", result.id}, {secret_name, secret}});
  } else {
    std::printf("id %d\n%s %s\n", static_cast<int>(result.id), secret_name, secret.c_str());
  }
  return 0;
}

int WebhookAdd(const std::vector<std::string>& args) {
  ConnectOptions o;
  CommandLine line = ConnectLine(
      "webhook add", "Adds a webhook and prints its id and secret (shown only now).", &o,
      kCompany | kJson);
  line.Option("--url", "URL", "where the events are posted (https://...)", TextValue(&o.url))
      .Option("--events", "LIST",
              "the events wanted, separated by commas: chat.started, message, chat.ended, "
              "offline_message, rating; * for all (default)",
              TextValue(&o.events))
      .Flag("--allow-http", "accept a plain http:// address (the site must allow it too)",
            [&o] { o.allow_http = true; });
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, true, false, &db); status >= 0) return status;
  if (o.url.empty()) return line.UsageError("--url URL is required");
  std::string secret;
  const auto result = serve::Webhooks(*db, serve::WallSecondsNow)
                          .Add(static_cast<LONG>(o.company), o.url, o.events, o.allow_http, &secret);
  return Made(line, result, o.json, "secret", secret);
}

int WebhookList(const std::vector<std::string>& args) {
  ConnectOptions o;
  const CommandLine line = ConnectLine(
      "webhook list", "Lists the webhooks (of one company with --company).", &o, kCompany | kJson);
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, false, false, &db); status >= 0) return status;
  std::string error;
  const auto hooks =
      serve::Webhooks(*db, serve::WallSecondsNow).List(static_cast<LONG>(o.company), &error);
  if (!error.empty()) return ListFailed(line, error);
  std::vector<std::vector<std::string>> table = {
      {"ID", "COMPANY", "URL", "EVENTS", "PENDING", "FAILED", "CREATED"}};
  json::array rows;
  for (const auto& h : hooks) {
    rows.push_back(json::object{{"id", h.id},           {"companyId", h.company_id},
                                {"url", h.url},         {"events", h.events},
                                {"createdAt", h.created_at}, {"pending", h.pending},
                                {"failed", h.failed}});
    table.push_back({std::to_string(h.id), std::to_string(h.company_id), h.url, h.events,
                     std::to_string(h.pending), std::to_string(h.failed), Date(h.created_at)});
  }
  return PrintList(o.json, rows, table);
}

int WebhookRemove(const std::vector<std::string>& args) {
  ConnectOptions o;
  const CommandLine line =
      ConnectLine("webhook remove", "Removes a webhook and its queued deliveries.", &o, kId);
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, false, true, &db); status >= 0) return status;
  return ChangeOutcome(line.command(),
                       serve::Webhooks(*db, serve::WallSecondsNow).Remove(static_cast<LONG>(o.id), 0),
                       "");
}

int ApiKeyAdd(const std::vector<std::string>& args) {
  ConnectOptions o;
  CommandLine line = ConnectLine(
      "apikey add", "Makes an API key for a company and prints it (shown only now).", &o,
      kCompany | kJson);
  line.Option("--name", "TEXT", "what the key is for (at most 100 bytes)", TextValue(&o.name));
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, true, false, &db); status >= 0) return status;
  std::string key;
  const auto result = serve::ApiKeys(*db, serve::WallSecondsNow)
                          .Create(static_cast<LONG>(o.company), o.name, &key);
  return Made(line, result, o.json, "key", key);
}

int ApiKeyList(const std::vector<std::string>& args) {
  ConnectOptions o;
  const CommandLine line = ConnectLine(
      "apikey list", "Lists the API keys (of one company with --company).", &o, kCompany | kJson);
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, false, false, &db); status >= 0) return status;
  std::string error;
  const auto keys =
      serve::ApiKeys(*db, serve::WallSecondsNow).List(static_cast<LONG>(o.company), &error);
  if (!error.empty()) return ListFailed(line, error);
  std::vector<std::vector<std::string>> table = {
      {"ID", "COMPANY", "NAME", "STARTS", "CREATED", "REVOKED"}};
  json::array rows;
  for (const auto& k : keys) {
    rows.push_back(json::object{{"id", k.id},         {"companyId", k.company_id},
                                {"name", k.name},     {"prefix", k.prefix},
                                {"createdAt", k.created_at}, {"revokedAt", k.revoked_at}});
    table.push_back({std::to_string(k.id), std::to_string(k.company_id), k.name, k.prefix + "...",
                     Date(k.created_at), Date(k.revoked_at)});
  }
  return PrintList(o.json, rows, table);
}

int ApiKeyRevoke(const std::vector<std::string>& args) {
  ConnectOptions o;
  const CommandLine line =
      ConnectLine("apikey revoke", "Revokes an API key: it opens nothing from now on.", &o, kId);
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Open(line, args, o, false, true, &db); status >= 0) return status;
  return ChangeOutcome(line.command(),
                       serve::ApiKeys(*db, serve::WallSecondsNow).Revoke(static_cast<LONG>(o.id), 0),
                       "");
}

}  // namespace

int RunWebhook(const std::vector<std::string>& args) {
  static const std::vector<Subcommand> subcommands = {
      {"add", "add a webhook of a company (prints its id and secret)", WebhookAdd},
      {"list", "list the webhooks with their queued and given-up deliveries", WebhookList},
      {"remove", "remove a webhook and its queued deliveries", WebhookRemove},
  };
  return RunSubcommand("webhook", subcommands, args);
}

int RunApiKey(const std::vector<std::string>& args) {
  static const std::vector<Subcommand> subcommands = {
      {"add", "make an API key of a company (prints it once)", ApiKeyAdd},
      {"list", "list the API keys (never the keys themselves)", ApiKeyList},
      {"revoke", "revoke an API key", ApiKeyRevoke},
  };
  return RunSubcommand("apikey", subcommands, args);
}

}  // namespace zelto
