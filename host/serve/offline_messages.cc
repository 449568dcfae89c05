#include "host/serve/offline_messages.h"

namespace zelto::serve {
namespace {

constexpr char kColumns[] =
    "id, cstLabel, name, contact, content, createdAt, handled, handledBy, IP, sourcepage, "
    "searchkey, visittime";

OfflineMessage FromRow(SqlSession::Row& row) {
  OfflineMessage m;
  m.id = IdField(row[0]);
  m.label = std::move(row[1]);
  m.name = std::move(row[2]);
  m.contact = std::move(row[3]);
  m.text = std::move(row[4]);
  m.created_at = std::strtoll(row[5].c_str(), nullptr, 10);
  m.handled = IdField(row[6]) != 0;
  m.handled_by = IdField(row[7]);
  m.address = std::move(row[8]);
  m.source_page = std::move(row[9]);
  m.search_words = std::move(row[10]);
  m.visit_time = std::move(row[11]);
  return m;
}

}  // namespace

std::optional<LONG> OfflineMessages::Leave(const std::string& label, LONG company_id,
                                           const std::string& name,
                                           const std::string& contact, const std::string& text,
                                           std::string* error) const {
  LONG id = 0;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query("select max(id) as top from offlineMessage", {"top"}, &rows)) return false;
    id = (rows.empty() ? 0 : IdField(rows[0][0])) + 1;
    if (!chat.Query("select IP, sourcepage, searchkey, visittime from onlineCst where cstLabel=" +
                        SqlStringLiteral(label),
                    {"IP", "sourcepage", "searchkey", "visittime"}, &rows))
      return false;
    SqlSession::Row visit = rows.empty() ? SqlSession::Row(4) : rows[0];
    return chat.Execute(std::string("insert into offlineMessage (") + kColumns +
                        ", companyId, handledAt) values (" + SqlId(id) + ", " +
                        SqlStringLiteral(label) + ", " + SqlStringLiteral(name) + ", " +
                        SqlStringLiteral(contact) + ", " + SqlStringLiteral(text) + ", " +
                        std::to_string(now_()) + ", 0, 0, " + SqlStringLiteral(visit[0]) + ", " +
                        SqlStringLiteral(visit[1]) + ", " + SqlStringLiteral(visit[2]) + ", " +
                        SqlStringLiteral(visit[3]) + ", " + SqlId(company_id) + ", 0)");
  });
  if (!done) return std::nullopt;
  return id;
}

std::vector<OfflineMessage> OfflineMessages::ListOf(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            std::string("select ") + kColumns +
                " from offlineMessage where companyId=" + SqlId(company_id) + " order by id desc",
            {"id", "cstLabel", "name", "contact", "content", "createdAt", "handled", "handledBy",
             "IP", "sourcepage", "searchkey", "visittime"},
            &rows, error);
  std::vector<OfflineMessage> messages;
  for (auto& row : rows) messages.push_back(FromRow(row));
  return messages;
}

LONG OfflineMessages::UnreadCount(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select count(*) as n from offlineMessage where companyId=" + SqlId(company_id) +
                     " and handled=0",
                 {"n"}, &rows, error) ||
      rows.empty())
    return 0;
  return IdField(rows[0][0]);
}

bool OfflineMessages::MarkHandled(LONG company_id, LONG id, LONG operator_id,
                                  std::string* error) const {
  LONG affected = 0;
  return db_.Execute(kChatCatalog,
                     "update offlineMessage set handled=1, handledBy=" + SqlId(operator_id) +
                         ", handledAt=" + std::to_string(now_()) + " where id=" + SqlId(id) +
                         " and companyId=" + SqlId(company_id),
                     &affected, error) &&
         affected > 0;
}

}  // namespace zelto::serve
