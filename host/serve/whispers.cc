#include "host/serve/whispers.h"

#include "host/serve/toolkit_rows.h"

namespace zelto::serve {

std::optional<LONG> Whispers::Say(LONG cid, LONG operator_id, const std::string& text,
                                  std::string* error) const {
  return InsertNumbered(db_, "whisper", "cid, operatorId, content, createdAt",
                        SqlId(cid) + ", " + SqlId(operator_id) + ", " + SqlStringLiteral(text) +
                            ", " + std::to_string(now_()),
                        error);
}

std::vector<Whisper> Whispers::Of(LONG cid, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select w.id, w.operatorId, u.name, w.content, w.createdAt from whisper w left join "
            "userinfo u on u.ID=w.operatorId where w.cid=" +
                SqlId(cid) + " order by w.id",
            {"id", "operatorId", "name", "content", "createdAt"}, &rows, error);
  std::vector<Whisper> whispers;
  for (auto& row : rows) {
    whispers.push_back(Whisper{IdField(row[0]), IdField(row[1]), std::move(row[2]),
                               std::move(row[3]), std::strtoll(row[4].c_str(), nullptr, 10)});
  }
  return whispers;
}

}  // namespace zelto::serve
