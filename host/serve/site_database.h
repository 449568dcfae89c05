// SiteDatabase: where the site's chat and count databases are, and sessions
// on them (db/sql_session.h) for the web application's own reads and
// writes. Statements are UTF-8; values go in through SqlStringLiteral and
// well-formed integers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/sql_session.h"
#include "db/sql_values.h"

namespace zelto::serve {

inline constexpr char kChatCatalog[] = "chat";
inline constexpr char kCountCatalog[] = "count";

// An id as it goes into a statement.
inline std::string SqlId(LONG id) { return std::to_string(id); }
// An id field as read back; 0 when it is not a well-formed 32-bit integer.
inline LONG IdField(const std::string& field) { return ParseWellFormedInteger(field).value_or(0); }

class SiteDatabase {
 public:
  using Row = SqlSession::Row;

  // The databases are named `catalog` ("chat", "count") unless `names`
  // says otherwise ({chat name, count name}, for tests).
  SiteDatabase(std::string server, std::string user, std::string password,
               std::pair<std::string, std::string> names = {kChatCatalog, kCountCatalog});

  // A session on `catalog` (kChatCatalog, kCountCatalog); check is_open().
  SqlSession Open(std::string_view catalog) const {
    return SqlSession(login_, NameOf(catalog), fault_);
  }

  // One statement on a session of its own, for single reads and writes.
  // False, with `error`, when the database cannot be opened or the
  // statement fails.
  bool Query(std::string_view catalog, const std::string& sql,
             const std::vector<std::string>& columns, std::vector<Row>* rows,
             std::string* error) const;
  bool Execute(std::string_view catalog, const std::string& sql, LONG* affected,
               std::string* error) const;

  // Runs `change` in one write transaction on a session of `catalog`: all
  // of it stays when `change` returns true and the commit succeeds, nothing
  // otherwise. False with `error` = the session's error(): the reason when
  // the database failed (or `change` stopped with SqlSession::Fail), empty
  // when `change` returned false without a failure (a refusal it reports
  // itself).
  bool Write(std::string_view catalog, std::string* error,
             const std::function<bool(SqlSession&)>& change) const;

  // Brings both databases to the latest schema version; `message` gets one
  // line per step applied, or why it failed.
  bool Upgrade(std::string* message) const;

  // For fault tests: every session opened from now on asks `fault` first.
  // Set before the database is used by other threads.
  void SetFault(SqlFault fault) { fault_ = std::move(fault); }

  const SqlLogin& login() const { return login_; }

 private:
  const std::string& NameOf(std::string_view catalog) const {
    return catalog == kCountCatalog ? names_.second : names_.first;
  }

  SqlLogin login_;
  std::pair<std::string, std::string> names_;
  SqlFault fault_;
};

}  // namespace zelto::serve
