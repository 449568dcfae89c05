// Administration: the site's companies and operators, as the `zelto
// operator` and `zelto company` commands and the administration page change
// them. Each change is one write transaction: all of it or nothing.
//
// Rights live where their readers look: the visitor list and the monitor in
// userinfo (Invite, conview; Popedom is set to 0 so that only these count),
// the invitation and administrator rights in operatorAccount. An operator
// without an operatorAccount row may invite and is no administrator, as
// before that table existed.
//
// A removed operator keeps its userinfo row (its past messages still show
// its name) with an empty password hash, and is marked removed: it cannot
// log in, its sessions are refused at their next request (IsActive), and
// lists leave it out. Every call may block on the database.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

struct OperatorRights {
  bool list = false, invite = false, monitor = false, admin = false;
  bool operator==(const OperatorRights&) const = default;
};

// "list,invite,monitor,admin" (any of them, any order, "" or "none" for
// none); nullopt for an unknown name.
std::optional<OperatorRights> ParseRights(const std::string& text);
std::string RightsText(const OperatorRights& rights);  // "list,invite" or "none"

struct OperatorAccount {
  LONG id = 0;
  std::string name;
  LONG company_id = 0;
  OperatorRights rights;
  bool removed = false;
  bool can_log_in = false;  // has a password
};

// How many running chats one operator of a company takes at most before new
// chats wait in the queue, when the company has not said (chatSetting).
inline constexpr LONG kDefaultChatLimit = 4;
inline constexpr LONG kMaxChatLimit = 100;

struct CompanyRecord {
  LONG id = 0;
  std::string name;
  std::vector<std::string> origins;  // sites allowed to embed the chat
  LONG chat_limit = kDefaultChatLimit;  // running chats per operator
};

// What a change did: kDone, kRefused (`message` says why, for the person
// asking: no such operator, a name too long), kFailed (`message` is the
// database's reason).
struct AdminResult {
  enum Kind { kDone, kRefused, kFailed } kind = kDone;
  std::string message;
  LONG id = 0;  // the id made by an add
  explicit operator bool() const { return kind == kDone; }
};

// Runs `change` in one write transaction of the chat database; a refusal
// it records with RefuseChange (always false) leaves nothing and becomes
// kRefused, a failed statement kFailed.
AdminResult AdminChange(const SiteDatabase& db,
                        const std::function<bool(SqlSession&, AdminResult&)>& change);
bool RefuseChange(AdminResult& result, std::string why);
// Inside a write transaction on the chat database: one more than the
// largest `column` of `table` (refused in `result` past the integer range),
// and whether company `id` exists. False on a failed statement or refusal.
bool NextId(SqlSession& chat, const char* table, const char* column, AdminResult& result);
bool CompanyExists(SqlSession& chat, LONG id, bool* found);

// The checks of the values people type, shared by the commands and the page.
inline constexpr size_t kMinPasswordLength = 8;
inline constexpr size_t kMaxNameCharacters = 50;
std::string RefusedName(const std::string& name);          // "" when fine
std::string RefusedPassword(const std::string& password);  // "" when fine
std::string RefusedChatLimit(LONG limit);                  // "" when fine
// An origin is scheme://host[:port] with http or https, nothing after it;
// it comes back lower-cased without a trailing slash.
std::optional<std::string> NormalOrigin(const std::string& text);
// Origins separated by commas, spaces or line breaks, each made normal;
// nullopt with `refused` naming the first that is not one.
std::optional<std::vector<std::string>> ParseOrigins(const std::string& text,
                                                     std::string* refused);

struct NewOperator {
  std::optional<LONG> id;  // else the next free one
  std::string name;
  LONG company_id = 0;
  OperatorRights rights;
  std::string password_hash;  // crypt(3); empty: cannot log in yet
};

struct OperatorChange {
  std::optional<std::string> name;
  std::optional<LONG> company_id;
  std::optional<OperatorRights> rights;
};

class Administration {
 public:
  explicit Administration(const SiteDatabase& db) : db_(db) {}

  // Without a chat limit the company takes the default.
  AdminResult AddCompany(const std::string& name, const std::vector<std::string>& origins,
                         std::optional<LONG> chat_limit = std::nullopt) const;
  // `name`, `origins` and `chat_limit` only when given.
  AdminResult SetCompany(LONG id, const std::optional<std::string>& name,
                         const std::optional<std::vector<std::string>>& origins,
                         std::optional<LONG> chat_limit = std::nullopt) const;
  std::vector<CompanyRecord> Companies(std::string* error) const;
  std::optional<CompanyRecord> FindCompany(LONG id, std::string* error) const;

  AdminResult AddOperator(const NewOperator& op) const;
  AdminResult SetOperator(LONG id, const OperatorChange& change) const;
  AdminResult SetPasswordHash(LONG id, const std::string& hash) const;
  AdminResult RemoveOperator(LONG id) const;
  // Every operator (of `company_id` when given), removed ones too.
  std::vector<OperatorAccount> Operators(std::optional<LONG> company_id, std::string* error) const;
  std::optional<OperatorAccount> FindOperator(LONG id, std::string* error) const;
  // The operator exists and was not removed; nullopt when the database
  // cannot tell (`error`).
  std::optional<bool> IsActive(LONG id, std::string* error) const;
  // Operator "Administrator" with every right and the password `hash`, in
  // the first company (company 1, "My company", made when there is none);
  // its id in `id`. An empty hash is refused.
  AdminResult AddFirstAdministrator(const std::string& password_hash) const;
  // True when no operator can log in yet (a new site's first start).
  std::optional<bool> NoLogins(std::string* error) const;

 private:
  const SiteDatabase& db_;
};

}  // namespace zelto::serve
