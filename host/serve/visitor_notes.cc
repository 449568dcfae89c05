#include "host/serve/visitor_notes.h"

#include "host/serve/toolkit_rows.h"

namespace zelto::serve {

std::vector<VisitorNote> VisitorNotes::Of(LONG company_id, const std::string& label,
                                          std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select n.id, n.operatorId, u.name, n.content, n.createdAt from visitorNote n left "
            "join userinfo u on u.ID=n.operatorId where n.companyId=" +
                SqlId(company_id) + " and n.cstLabel=" + SqlStringLiteral(label) +
                " order by n.id",
            {"id", "operatorId", "name", "content", "createdAt"}, &rows, error);
  std::vector<VisitorNote> notes;
  for (auto& row : rows) {
    notes.push_back(VisitorNote{IdField(row[0]), IdField(row[1]), std::move(row[2]),
                                std::move(row[3]), std::strtoll(row[4].c_str(), nullptr, 10)});
  }
  return notes;
}

std::optional<LONG> VisitorNotes::Add(LONG company_id, const std::string& label, LONG operator_id,
                                      const std::string& text, std::string* error) const {
  return InsertNumbered(db_, "visitorNote", "companyId, cstLabel, operatorId, content, createdAt",
                        SqlId(company_id) + ", " + SqlStringLiteral(label) + ", " +
                            SqlId(operator_id) + ", " + SqlStringLiteral(text) + ", " +
                            std::to_string(now_()),
                        error);
}

std::optional<LONG> VisitorNotes::AuthorOf(LONG company_id, LONG id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select operatorId from visitorNote where id=" + SqlId(id) +
                     " and companyId=" + SqlId(company_id),
                 {"operatorId"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  return IdField(rows[0][0]);
}

bool VisitorNotes::Remove(LONG company_id, LONG id, std::string* error) const {
  return db_.Execute(kChatCatalog,
                     "delete from visitorNote where id=" + SqlId(id) +
                         " and companyId=" + SqlId(company_id),
                     nullptr, error);
}

}  // namespace zelto::serve
