#include "host/serve/toolkit_rows.h"

#include <climits>

namespace zelto::serve {

std::optional<LONG> InsertNumbered(const SiteDatabase& db, const char* table,
                                   const std::string& columns, const std::string& values,
                                   std::string* error) {
  LONG id = 0;
  const bool done = db.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query(std::string("select max(id) as top from ") + table, {"top"}, &rows))
      return false;
    const long long top = rows.empty() ? 0 : ParseWellFormedInteger(rows[0][0]).value_or(0);
    if (top >= INT_MAX) return chat.Fail(std::string("no free id left in ") + table);
    id = static_cast<LONG>(top + 1);
    return chat.Execute(std::string("insert into ") + table + " (id, " + columns + ") values (" +
                        SqlId(id) + ", " + values + ")");
  });
  if (!done) return std::nullopt;
  return id;
}

bool IsBlank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

}  // namespace zelto::serve
