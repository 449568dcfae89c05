#include "host/serve/administration.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <functional>

#include "db/sql_values.h"

namespace zelto::serve {
namespace {

constexpr const char* kRightNames[] = {"list", "invite", "monitor", "admin"};

bool* RightFlag(OperatorRights& rights, std::string_view name) {
  if (name == "list") return &rights.list;
  if (name == "invite") return &rights.invite;
  if (name == "monitor") return &rights.monitor;
  if (name == "admin") return &rights.admin;
  return nullptr;
}

size_t Utf8Characters(const std::string& text) {
  return std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; });
}

const char* Flag(bool on) { return on ? "1" : "0"; }

// Runs `change` in one transaction; a refusal it records in `refused`
// leaves nothing and becomes kRefused.
AdminResult Change(const SiteDatabase& db,
                   const std::function<bool(SqlSession&, AdminResult&)>& change) {
  AdminResult result;
  std::string error;
  if (db.Write(kChatCatalog, &error,
               [&](SqlSession& chat) { return change(chat, result) && result.kind == result.kDone; }))
    return result;
  if (result.kind == AdminResult::kRefused) return result;
  result.kind = AdminResult::kFailed;
  result.message = error.empty() ? "the change was not made" : error;
  return result;
}

bool Refuse(AdminResult& result, std::string why) {
  result.kind = AdminResult::kRefused;
  result.message = std::move(why);
  return false;
}

bool Exists(SqlSession& chat, const std::string& sql, bool* found) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query(sql, {"n"}, &rows)) return false;
  *found = !rows.empty() && rows[0][0] != "0";
  return true;
}

}  // namespace

// One more than the largest `column` of `table` (1 for an empty table);
// refused past the integer range.
bool NextId(SqlSession& chat, const char* table, const char* column, AdminResult& result) {
  std::vector<SqlSession::Row> rows;
  const std::string sql =
      std::string("select max(") + column + ") as top from " + table;
  if (!chat.Query(sql, {"top"}, &rows)) return false;
  const long long top = rows.empty() || rows[0][0].empty() ? 0 : std::stoll(rows[0][0]);
  if (top >= INT_MAX) return Refuse(result, std::string("no free id left in ") + table);
  result.id = static_cast<LONG>(top + 1);
  return true;
}

AdminResult AdminChange(const SiteDatabase& db,
                        const std::function<bool(SqlSession&, AdminResult&)>& change) {
  return Change(db, change);
}

bool RefuseChange(AdminResult& result, std::string why) { return Refuse(result, std::move(why)); }

bool CompanyExists(SqlSession& chat, LONG id, bool* found) {
  return Exists(chat, "select count(*) as n from Company where ID=" + SqlId(id), found);
}

namespace {

// The operator's userinfo row exists and is not removed.
bool OperatorActive(SqlSession& chat, LONG id, bool* found) {
  return Exists(chat,
                "select count(*) as n from userinfo u left join operatorAccount a on a.id = u.ID "
                "where u.ID=" +
                    SqlId(id) + " and (a.removed is null or a.removed = 0)",
                found);
}

bool WriteAccount(SqlSession& chat, LONG id, const OperatorRights& rights, bool removed) {
  return chat.Execute("delete from operatorAccount where id=" + SqlId(id)) &&
         chat.Execute("insert into operatorAccount (id, isAdmin, canInvite, removed) values (" +
                      SqlId(id) + ", " + Flag(rights.admin) + ", " + Flag(rights.invite) + ", " +
                      Flag(removed) + ")");
}

bool WriteOrigins(SqlSession& chat, LONG company, const std::vector<std::string>& origins) {
  if (!chat.Execute("delete from companyOrigin where companyId=" + SqlId(company))) return false;
  std::vector<std::string> done;
  for (const std::string& origin : origins) {
    if (std::find(done.begin(), done.end(), origin) != done.end()) continue;
    done.push_back(origin);
    if (!chat.Execute("insert into companyOrigin (companyId, origin) values (" + SqlId(company) +
                      ", " + SqlStringLiteral(origin) + ")"))
      return false;
  }
  return true;
}

// The company's own limit of running chats per operator, or none (the default).
bool WriteChatLimit(SqlSession& chat, LONG company, std::optional<LONG> limit,
                    AdminResult& result) {
  if (!limit) return true;
  if (std::string why = RefusedChatLimit(*limit); !why.empty()) return Refuse(result, why);
  return chat.Execute("delete from chatSetting where companyId=" + SqlId(company)) &&
         chat.Execute("insert into chatSetting (companyId, maxChats) values (" + SqlId(company) +
                      ", " + SqlId(*limit) + ")");
}

bool CheckOrigins(const std::vector<std::string>& origins, AdminResult& result) {
  for (const std::string& origin : origins) {
    if (!NormalOrigin(origin) || *NormalOrigin(origin) != origin)
      return Refuse(result, "'" + origin + "' is not a site address like https://www.example.com");
  }
  return true;
}

constexpr const char* kOperatorSelect =
    "select u.ID as ID, u.name as name, u.CompanyID as CompanyID, u.Popedom as Popedom, "
    "u.Invite as Invite, u.conview as conview, u.pwdHash as pwdHash, a.isAdmin as isAdmin, "
    "a.canInvite as canInvite, a.removed as removed "
    "from userinfo u left join operatorAccount a on a.id = u.ID";

OperatorAccount AccountOf(const SqlSession::Row& row) {
  OperatorAccount op;
  op.id = IdField(row[0]);
  op.name = row[1];
  op.company_id = IdField(row[2]);
  const LONG popedom = IdField(row[3]);
  const bool level = popedom == 1 || popedom == 2;
  op.rights.list = level || IdField(row[4]) != 0;
  op.rights.monitor = level || IdField(row[5]) != 0;
  op.can_log_in = !row[6].empty();
  op.rights.admin = IdField(row[7]) != 0;
  op.rights.invite = row[8].empty() || IdField(row[8]) != 0;
  op.removed = IdField(row[9]) != 0;
  return op;
}

const std::vector<std::string> kOperatorColumns = {
    "ID", "name", "CompanyID", "Popedom", "Invite", "conview", "pwdHash", "isAdmin", "canInvite",
    "removed"};

}  // namespace

std::optional<OperatorRights> ParseRights(const std::string& text) {
  OperatorRights rights;
  if (text.empty() || text == "none") return rights;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    bool* flag = RightFlag(rights, std::string_view(text).substr(start, end - start));
    if (!flag) return std::nullopt;
    *flag = true;
    start = end + 1;
  }
  return rights;
}

std::string RightsText(const OperatorRights& rights) {
  std::string text;
  OperatorRights copy = rights;
  for (const char* name : kRightNames) {
    if (!*RightFlag(copy, name)) continue;
    if (!text.empty()) text += ",";
    text += name;
  }
  return text.empty() ? "none" : text;
}

std::string RefusedName(const std::string& name) {
  if (name.empty()) return "the name is empty";
  if (Utf8Characters(name) > kMaxNameCharacters)
    return "the name is longer than " + std::to_string(kMaxNameCharacters) + " characters";
  if (std::any_of(name.begin(), name.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
    return "the name holds a control character";
  return "";
}

std::string RefusedPassword(const std::string& password) {
  if (Utf8Characters(password) < kMinPasswordLength)
    return "the password must be at least " + std::to_string(kMinPasswordLength) +
           " characters long";
  if (password.find('\0') != std::string::npos) return "the password holds a NUL character";
  return "";
}

std::string RefusedChatLimit(LONG limit) {
  if (limit >= 1 && limit <= kMaxChatLimit) return "";
  return "the chat limit must be between 1 and " + std::to_string(kMaxChatLimit);
}

std::optional<std::string> NormalOrigin(const std::string& text) {
  std::string origin = text;
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  std::transform(origin.begin(), origin.end(), origin.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  size_t host;
  if (origin.rfind("https://", 0) == 0) {
    host = 8;
  } else if (origin.rfind("http://", 0) == 0) {
    host = 7;
  } else {
    return std::nullopt;
  }
  if (host == origin.size() || origin.size() > 255) return std::nullopt;
  const bool allowed = std::all_of(origin.begin() + host, origin.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
  });
  if (!allowed) return std::nullopt;
  return origin;
}

std::optional<std::vector<std::string>> ParseOrigins(const std::string& text,
                                                     std::string* refused) {
  std::vector<std::string> origins;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find_first_of(", \t\r\n", start), text.size());
    const std::string one = text.substr(start, end - start);
    start = end + 1;
    if (one.empty()) continue;
    const auto origin = NormalOrigin(one);
    if (!origin) {
      *refused = "'" + one + "' is not a site address like https://www.example.com";
      return std::nullopt;
    }
    origins.push_back(*origin);
  }
  return origins;
}

AdminResult Administration::AddCompany(const std::string& name,
                                       const std::vector<std::string>& origins,
                                       std::optional<LONG> chat_limit) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    if (std::string why = RefusedName(name); !why.empty()) return Refuse(result, why);
    if (!CheckOrigins(origins, result) || !NextId(chat, "Company", "ID", result)) return false;
    return chat.Execute("insert into Company (ID, CompanyName) values (" + SqlId(result.id) + ", " +
                        SqlStringLiteral(name) + ")") &&
           WriteOrigins(chat, result.id, origins) &&
           WriteChatLimit(chat, result.id, chat_limit, result);
  });
}

AdminResult Administration::SetCompany(
    LONG id, const std::optional<std::string>& name,
    const std::optional<std::vector<std::string>>& origins,
    std::optional<LONG> chat_limit) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    bool found = false;
    if (!CompanyExists(chat, id, &found)) return false;
    if (!found) return Refuse(result, "no company " + SqlId(id));
    if (name) {
      if (std::string why = RefusedName(*name); !why.empty()) return Refuse(result, why);
      if (!chat.Execute("update Company set CompanyName=" + SqlStringLiteral(*name) +
                        " where ID=" + SqlId(id)))
        return false;
    }
    if (origins && (!CheckOrigins(*origins, result) || !WriteOrigins(chat, id, *origins)))
      return false;
    if (!WriteChatLimit(chat, id, chat_limit, result)) return false;
    result.id = id;
    return true;
  });
}

std::vector<CompanyRecord> Administration::Companies(std::string* error) const {
  std::vector<SiteDatabase::Row> rows, origins;
  std::vector<CompanyRecord> companies;
  if (!db_.Query(kChatCatalog,
                 "select c.ID as ID, c.CompanyName as CompanyName, s.maxChats as maxChats "
                 "from Company c left join chatSetting s on s.companyId=c.ID order by c.ID",
                 {"ID", "CompanyName", "maxChats"}, &rows, error) ||
      !db_.Query(kChatCatalog, "select companyId, origin from companyOrigin order by origin",
                 {"companyId", "origin"}, &origins, error))
    return companies;
  for (auto& row : rows) {
    CompanyRecord& company = companies.emplace_back();
    company.id = IdField(row[0]);
    company.name = std::move(row[1]);
    if (!row[2].empty()) company.chat_limit = IdField(row[2]);
    for (const auto& origin : origins) {
      if (IdField(origin[0]) == company.id) company.origins.push_back(origin[1]);
    }
  }
  return companies;
}

std::optional<CompanyRecord> Administration::FindCompany(LONG id, std::string* error) const {
  for (CompanyRecord& company : Companies(error)) {
    if (company.id == id) return std::move(company);
  }
  return std::nullopt;
}

AdminResult Administration::AddOperator(const NewOperator& op) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    if (std::string why = RefusedName(op.name); !why.empty()) return Refuse(result, why);
    bool found = false;
    if (!CompanyExists(chat, op.company_id, &found)) return false;
    if (!found) return Refuse(result, "no company " + SqlId(op.company_id));
    if (op.id) {
      if (*op.id <= 0) return Refuse(result, "an operator id is a positive number");
      if (!Exists(chat, "select count(*) as n from userinfo where ID=" + SqlId(*op.id), &found))
        return false;
      if (found) return Refuse(result, "operator " + SqlId(*op.id) + " exists already");
      result.id = *op.id;
    } else if (!NextId(chat, "userinfo", "ID", result)) {
      return false;
    }
    return chat.Execute(
               "insert into userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) "
               "values (" +
               SqlId(result.id) + ", " + SqlStringLiteral(op.name) + ", " + SqlId(op.company_id) +
               ", 0, " + Flag(op.rights.list) + ", " + Flag(op.rights.monitor) + ", " +
               SqlStringLiteral(op.password_hash) + ")") &&
           WriteAccount(chat, result.id, op.rights, false);
  });
}

AdminResult Administration::SetOperator(LONG id, const OperatorChange& change) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    bool found = false;
    if (!OperatorActive(chat, id, &found)) return false;
    if (!found) return Refuse(result, "no operator " + SqlId(id));
    result.id = id;
    std::vector<std::string> sets;
    if (change.name) {
      if (std::string why = RefusedName(*change.name); !why.empty()) return Refuse(result, why);
      sets.push_back("name=" + SqlStringLiteral(*change.name));
    }
    if (change.company_id) {
      if (!CompanyExists(chat, *change.company_id, &found)) return false;
      if (!found) return Refuse(result, "no company " + SqlId(*change.company_id));
      sets.push_back("CompanyID=" + SqlId(*change.company_id));
    }
    if (change.rights) {
      sets.push_back("Popedom=0");
      sets.push_back(std::string("Invite=") + Flag(change.rights->list));
      sets.push_back(std::string("conview=") + Flag(change.rights->monitor));
      if (!WriteAccount(chat, id, *change.rights, false)) return false;
    }
    std::string sql = "update userinfo set ";
    for (size_t i = 0; i < sets.size(); ++i) sql += (i ? ", " : "") + sets[i];
    return sets.empty() || chat.Execute(sql + " where ID=" + SqlId(id));
  });
}

AdminResult Administration::SetPasswordHash(LONG id, const std::string& hash) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    bool found = false;
    if (!OperatorActive(chat, id, &found)) return false;
    if (!found) return Refuse(result, "no operator " + SqlId(id));
    result.id = id;
    return chat.Execute("update userinfo set pwdHash=" + SqlStringLiteral(hash) +
                        " where ID=" + SqlId(id));
  });
}

AdminResult Administration::RemoveOperator(LONG id) const {
  return Change(db_, [&](SqlSession& chat, AdminResult& result) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query(std::string(kOperatorSelect) + " where u.ID=" + SqlId(id), kOperatorColumns,
                    &rows))
      return false;
    if (rows.empty() || AccountOf(rows[0]).removed)
      return Refuse(result, "no operator " + SqlId(id));
    result.id = id;
    // Its conversations go on without it; its past messages keep its name.
    return chat.Execute("update userinfo set pwdHash='' where ID=" + SqlId(id)) &&
           chat.Execute("update C_members set IsChat=0 where serid=" + SqlId(id)) &&
           WriteAccount(chat, id, AccountOf(rows[0]).rights, true);
  });
}

AdminResult Administration::AddFirstAdministrator(const std::string& password_hash) const {
  if (password_hash.empty()) return {AdminResult::kFailed, "cannot hash the password", 0};
  LONG company = 0;
  const AdminResult made = Change(db_, [&](SqlSession& chat, AdminResult& result) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query("select min(ID) as first from Company", {"first"}, &rows)) return false;
    company = rows.empty() ? 0 : IdField(rows[0][0]);
    if (company == 0) {
      company = 1;
      if (!chat.Execute("insert into Company (ID, CompanyName) values (1, 'My company')"))
        return false;
    }
    return NextId(chat, "userinfo", "ID", result) &&
           chat.Execute(
               "insert into userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) "
               "values (" +
               SqlId(result.id) + ", 'Administrator', " + SqlId(company) + ", 0, 1, 1, " +
               SqlStringLiteral(password_hash) + ")") &&
           WriteAccount(chat, result.id, OperatorRights{true, true, true, true}, false);
  });
  return made;
}

std::vector<OperatorAccount> Administration::Operators(std::optional<LONG> company_id,
                                                       std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  std::string sql = kOperatorSelect;
  if (company_id) sql += " where u.CompanyID=" + SqlId(*company_id);
  std::vector<OperatorAccount> result;
  if (!db_.Query(kChatCatalog, sql + " order by u.ID", kOperatorColumns, &rows, error))
    return result;
  for (const auto& row : rows) result.push_back(AccountOf(row));
  return result;
}

std::optional<OperatorAccount> Administration::FindOperator(LONG id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog, std::string(kOperatorSelect) + " where u.ID=" + SqlId(id),
                 kOperatorColumns, &rows, error) ||
      rows.empty())
    return std::nullopt;
  return AccountOf(rows[0]);
}

std::optional<bool> Administration::IsActive(LONG id, std::string* error) const {
  error->clear();
  auto op = FindOperator(id, error);
  if (!error->empty()) return std::nullopt;
  return op && !op->removed;
}

std::optional<bool> Administration::NoLogins(std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog, "select count(*) as n from userinfo where pwdHash <> ''", {"n"},
                 &rows, error))
    return std::nullopt;
  return rows.empty() || rows[0][0] == "0";
}

}  // namespace zelto::serve
