// SiteDatabase: the web application's own reads and writes of the chat and
// count databases (visitors, conversations, logins), through the platform's
// "ADODB.Connection" like every other page of the site, never an engine
// directly. SQL text is UTF-8 here; values pasted into it go through
// SqlText (quotes doubled) or are integers the caller has already validated.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"

namespace zelto::serve {

inline constexpr char kChatCatalog[] = "chat";
inline constexpr char kCountCatalog[] = "count";

// 'text' with every ' doubled: a safe T-SQL string literal.
std::string SqlText(std::string_view text);
// A decimal 32-bit integer with nothing around it ("12", "-3"); nullopt for
// anything else ("12a", " 1", "", "99999999999").
std::optional<LONG> ParseId(std::string_view text);

class SiteDatabase {
 public:
  using Row = std::vector<std::string>;  // fields as text, "" for NULL

  SiteDatabase(std::string server, std::string user, std::string password);

  // Runs `sql` on `catalog` and reads `columns` of every row. False (with
  // `error`) when the database cannot be opened or the statement fails.
  bool Query(std::string_view catalog, const std::string& sql,
             const std::vector<std::string>& columns, std::vector<Row>* rows,
             std::string* error) const;
  // A statement without rows; `affected` (may be null) gets the changed rows.
  bool Execute(std::string_view catalog, const std::string& sql, LONG* affected,
               std::string* error) const;

  const std::string& server() const { return server_; }

 private:
  std::string ConnectionString(std::string_view catalog) const;
  bool Run(std::string_view catalog, const std::string& sql,
           const std::vector<std::string>& columns, std::vector<Row>* rows, LONG* affected_rows,
           std::string* error) const;

  std::string server_, user_, password_;
};

// The current local time as "YYYY-MM-DD HH:MM:SS", the form every stored
// time of the site takes.
std::string NowText();

}  // namespace zelto::serve
