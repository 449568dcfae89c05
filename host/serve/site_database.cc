#include "host/serve/site_database.h"

#include "db/schema_versions.h"

namespace zelto::serve {

SiteDatabase::SiteDatabase(std::string server, std::string user, std::string password,
                           std::pair<std::string, std::string> names)
    : login_{std::move(server), std::move(user), std::move(password)}, names_(std::move(names)) {}

bool SiteDatabase::Query(std::string_view catalog, const std::string& sql,
                         const std::vector<std::string>& columns, std::vector<Row>* rows,
                         std::string* error) const {
  SqlSession session = Open(catalog);
  if (session.Query(sql, columns, rows)) return true;
  *error = session.unreported_error();
  return false;
}

bool SiteDatabase::Execute(std::string_view catalog, const std::string& sql, LONG* affected,
                           std::string* error) const {
  SqlSession session = Open(catalog);
  if (session.Execute(sql, affected)) return true;
  *error = session.unreported_error();
  return false;
}

bool SiteDatabase::Write(std::string_view catalog, std::string* error,
                         const std::function<bool(SqlSession&)>& change) const {
  SqlSession session = Open(catalog);
  SqlTransaction transaction(session);
  if (transaction.begun() && change(session) && transaction.Commit()) return true;
  *error = session.unreported_error();
  return false;
}

bool SiteDatabase::Upgrade(std::string* message) const {
  std::vector<std::string> applied;
  for (const char* catalog : {kChatCatalog, kCountCatalog}) {
    std::string error;
    if (!UpgradeSchema(login_, catalog, NameOf(catalog), &applied, &error, SchemaSteps(), fault_)) {
      *message = "cannot upgrade the databases' schema: " + error;
      return false;
    }
  }
  message->clear();
  for (const std::string& step : applied) {
    if (!message->empty()) *message += "\n";
    *message += "upgraded " + step;
  }
  return true;
}

}  // namespace zelto::serve
