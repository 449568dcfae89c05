// `zelto operator add|list|set|passwd|remove`: the site's operators, on
// either engine, with the database options of `zelto call` (the database
// password as --db-password, since --password-file is the operator's).
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
#include "host/serve/password.h"
#include "host/site_database_options.h"

namespace zelto {
namespace {

using serve::AdminResult;
using serve::OperatorRights;

struct OperatorOptions {
  SiteDatabaseOptions site;
  std::optional<size_t> id, company;
  std::optional<std::string> name, password_file;
  std::optional<OperatorRights> rights;
  bool json = false;
};

constexpr size_t kMaxId = 2147483647;

CommandLine::Setter OptionalInteger(std::optional<size_t>* out) {
  return [out](std::string_view name, const std::string& value) {
    size_t n = 0;
    std::string refused = IntegerValue(&n, 1, kMaxId)(name, value);
    if (refused.empty()) *out = n;
    return refused;
  };
}

CommandLine::Setter RightsValue(std::optional<OperatorRights>* out) {
  return [out](std::string_view name, const std::string& value) -> std::string {
    *out = serve::ParseRights(value);
    if (*out) return "";
    return std::string(name) + " takes list, invite, monitor and admin separated by commas, or "
                               "none; not '" + value + "'";
  };
}

// The command line of `operator SUB`, with the options `fields` names.
CommandLine OperatorLine(const char* sub, const char* about, OperatorOptions* o,
                         const std::string& fields) {
  CommandLine line(std::string("operator ") + sub, "", about);
  auto has = [&fields](const char* f) { return fields.find(f) != std::string::npos; };
  if (has("id"))
    line.Option("--id", "N", "the operator's id (the number it logs in with)",
                OptionalInteger(&o->id));
  if (has("name")) line.Option("--name", "NAME", "the operator's name", TextValue(&o->name));
  if (has("company"))
    line.Option("--company", "N", "the operator's company (zelto company list)",
                OptionalInteger(&o->company));
  if (has("rights"))
    line.Option("--rights", "LIST",
                "list (the visitor list), invite (invite visitors), monitor (the "
                "conversation monitor), admin (the administration page), separated by "
                "commas; none for none",
                RightsValue(&o->rights));
  if (has("password"))
    line.Option("--password-file", "FILE",
                "the operator's password from FILE's first line; else asked for twice on a "
                "terminal, else read from standard input",
                TextValue(&o->password_file, "FILE"));
  if (has("json")) line.Flag("--json", "print JSON for scripts", [o] { o->json = true; });
  AddSiteDatabaseOptions(line, &o->site, "--db-password");
  line.Epilogue("Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 usage error.\n");
  return line;
}

// Parses and opens the databases; -1 to go on, else the exit status.
int Prepare(const CommandLine& line, const std::vector<std::string>& args, OperatorOptions& o,
            std::unique_ptr<serve::SiteDatabase>* db, const char* required = "") {
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  for (const char* r = required; *r; ++r) {
    if (*r == 'i' && !o.id) return line.UsageError("--id N is required");
    if (*r == 'n' && !o.name) return line.UsageError("--name NAME is required");
    if (*r == 'c' && !o.company) return line.UsageError("--company N is required");
  }
  return OpenForCommand(line, o.site, db);
}

// The operator's new password as a crypt(3) hash; nullopt after saying why.
std::optional<std::string> NewPasswordHash(const CommandLine& line, const OperatorOptions& o) {
  std::string password, error;
  if (!ReadNewPassword(o.password_file, &password, &error)) {
    std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
    return std::nullopt;
  }
  std::string hash = serve::HashPassword(password);
  if (hash.empty()) std::fprintf(stderr, "zelto %s: cannot hash the password\n",
                                 line.command().c_str());
  if (hash.empty()) return std::nullopt;
  return hash;
}

int Add(const std::vector<std::string>& args) {
  OperatorOptions o;
  const CommandLine line = OperatorLine(
      "add", "Adds an operator to a company and prints its id (the next free one without --id).",
      &o, "id name company rights password");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Prepare(line, args, o, &db, "nc"); status >= 0) return status;
  const auto hash = NewPasswordHash(line, o);
  if (!hash) return 1;
  serve::NewOperator op;
  if (o.id) op.id = static_cast<LONG>(*o.id);
  op.name = *o.name;
  op.company_id = static_cast<LONG>(*o.company);
  op.rights = o.rights.value_or(OperatorRights{true, true, false, false});
  op.password_hash = *hash;
  const AdminResult result = serve::Administration(*db).AddOperator(op);
  return ChangeOutcome(line.command(), result, std::to_string(result.id));
}

std::string State(const serve::OperatorAccount& op) {
  if (op.removed) return "removed";
  return op.can_log_in ? "active" : "no password";
}

int List(const std::vector<std::string>& args) {
  OperatorOptions o;
  const CommandLine line =
      OperatorLine("list", "Lists the operators (of one company with --company).", &o,
                   "company json");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Prepare(line, args, o, &db); status >= 0) return status;
  std::string error;
  std::optional<LONG> company;
  if (o.company) company = static_cast<LONG>(*o.company);
  const auto operators = serve::Administration(*db).Operators(company, &error);
  if (!error.empty()) {
    std::fprintf(stderr, "zelto %s: %s\n", line.command().c_str(), error.c_str());
    return 1;
  }
  if (o.json) {
    boost::json::array rows;
    for (const auto& op : operators)
      rows.push_back(boost::json::object{{"id", op.id},
                                         {"name", op.name},
                                         {"company", op.company_id},
                                         {"rights", serve::RightsText(op.rights)},
                                         {"state", State(op)}});
    PrintJson(rows);
    return 0;
  }
  std::vector<std::vector<std::string>> table = {{"ID", "NAME", "COMPANY", "RIGHTS", "STATE"}};
  for (const auto& op : operators)
    table.push_back({std::to_string(op.id), op.name, std::to_string(op.company_id),
                     serve::RightsText(op.rights), State(op)});
  std::fputs(AlignedTable(table).c_str(), stdout);
  return 0;
}

int Set(const std::vector<std::string>& args) {
  OperatorOptions o;
  const CommandLine line = OperatorLine(
      "set", "Changes an operator's name, company or rights (those given).", &o,
      "id name company rights");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Prepare(line, args, o, &db, "i"); status >= 0) return status;
  serve::OperatorChange change;
  change.name = o.name;
  if (o.company) change.company_id = static_cast<LONG>(*o.company);
  change.rights = o.rights;
  return ChangeOutcome(line.command(),
                       serve::Administration(*db).SetOperator(static_cast<LONG>(*o.id), change),
                       "");
}

int Passwd(const std::vector<std::string>& args) {
  OperatorOptions o;
  const CommandLine line = OperatorLine(
      "passwd", "Sets an operator's password (asked for twice on a terminal).", &o,
      "id password");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Prepare(line, args, o, &db, "i"); status >= 0) return status;
  const auto hash = NewPasswordHash(line, o);
  if (!hash) return 1;
  return ChangeOutcome(
      line.command(),
      serve::Administration(*db).SetPasswordHash(static_cast<LONG>(*o.id), *hash), "");
}

int Remove(const std::vector<std::string>& args) {
  OperatorOptions o;
  const CommandLine line = OperatorLine(
      "remove",
      "Removes an operator: it can no longer log in, its sessions are refused at their next "
      "request, and its past messages keep its name.",
      &o, "id");
  std::unique_ptr<serve::SiteDatabase> db;
  if (const int status = Prepare(line, args, o, &db, "i"); status >= 0) return status;
  return ChangeOutcome(line.command(),
                       serve::Administration(*db).RemoveOperator(static_cast<LONG>(*o.id)), "");
}

}  // namespace

int RunOperator(const std::vector<std::string>& args) {
  static const std::vector<Subcommand> subcommands = {
      {"add", "add an operator (prints its id)", Add},
      {"list", "list the operators, as a table or --json", List},
      {"set", "change an operator's name, company or rights", Set},
      {"passwd", "set an operator's password", Passwd},
      {"remove", "remove an operator (its past messages stay)", Remove},
  };
  return RunSubcommand("operator", subcommands, args);
}

}  // namespace zelto
