#include "host/serve/operators.h"

#include "db/sql_values.h"
#include "host/serve/password.h"

namespace zelto::serve {
std::optional<OperatorInfo> Operators::FindOperator(LONG id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select ID, name, CompanyID, Popedom, conview from userinfo where ID=" + SqlId(id),
                 {"ID", "name", "CompanyID", "Popedom", "conview"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  const LONG popedom = IdField(rows[0][3]);
  return OperatorInfo{id, rows[0][1], IdField(rows[0][2]),
                      popedom == 1 || popedom == 2 || IdField(rows[0][4]) != 0};
}

std::optional<OperatorInfo> Operators::Login(LONG id, const std::string& password,
                                             std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog, "select pwdHash from userinfo where ID=" + SqlId(id), {"pwdHash"},
                 &rows, error))
    return std::nullopt;
  // An unknown id still pays for one hash, so timing does not tell ids apart.
  static const std::string kDummy = HashPassword("not a password");
  const std::string& hash = rows.empty() || rows[0][0].empty() ? kDummy : rows[0][0];
  if (!CheckPassword(password, hash) || rows.empty() || rows[0][0].empty()) return std::nullopt;
  return FindOperator(id, error);
}

std::vector<ConversationRow> Operators::ConversationsOf(LONG operator_id,
                                                        std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select distinct c.cid as cid, c.cstlabel as cstlabel, o.NickName as NickName "
            "from conversation c inner join C_members m on m.cid = c.cid "
            "left join onlineCst o on o.cstLabel = c.cstlabel "
            "where m.serid=" +
                SqlId(operator_id) + " and m.IsChat=1 order by c.cid",
            {"cid", "cstlabel", "NickName"}, &rows, error);
  std::vector<ConversationRow> result;
  for (auto& row : rows) result.push_back({IdField(row[0]), std::move(row[1]), std::move(row[2])});
  return result;
}

std::vector<OperatorRow> Operators::OperatorsOf(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select ID, name from userinfo where CompanyID=" + SqlId(company_id) + " order by ID",
            {"ID", "name"}, &rows, error);
  std::vector<OperatorRow> result;
  for (auto& row : rows) result.push_back({IdField(row[0]), std::move(row[1])});
  return result;
}

}  // namespace zelto::serve
