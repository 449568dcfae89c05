#include "host/serve/canned_responses.h"

#include <algorithm>
#include <map>

#include "host/serve/toolkit_rows.h"

namespace zelto::serve {
namespace {

CannedResponse FromRow(SqlSession::Row& row) {
  return CannedResponse{IdField(row[0]), IdField(row[1]), std::move(row[2]), std::move(row[3])};
}

const std::vector<std::string> kColumns = {"id", "operatorId", "keyword", "content"};

}  // namespace

std::string CannedResponses::KeywordProblem(const std::string& keyword) {
  if (keyword.empty()) return "a keyword is needed";
  if (keyword.size() > kCannedKeywordLimit) return "the keyword is too long";
  // Bytes from 0x80 up are other scripts' letters (UTF-8); ASCII only as
  // letters, digits, '_' and '-'.
  const bool plain = std::all_of(keyword.begin(), keyword.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x80 || std::isalnum(b) || b == '_' || b == '-';
  });
  return plain ? "" : "a keyword has only letters, digits, '_' and '-'";
}

std::vector<CannedResponse> CannedResponses::For(LONG company_id, LONG operator_id,
                                                 std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select id, operatorId, keyword, content from cannedResponse where companyId=" +
                SqlId(company_id) + " and operatorId in (0, " + SqlId(operator_id) +
                ") order by keyword, operatorId",
            kColumns, &rows, error);
  // One reply per keyword (case as written), the operator's own first.
  std::map<std::string, CannedResponse> by_keyword;
  for (auto& row : rows) {
    CannedResponse reply = FromRow(row);
    auto [at, added] = by_keyword.try_emplace(reply.keyword, reply);
    if (!added && reply.operator_id != 0) at->second = std::move(reply);
  }
  std::vector<CannedResponse> replies;
  for (auto& [keyword, reply] : by_keyword) replies.push_back(std::move(reply));
  return replies;
}

std::optional<LONG> CannedResponses::Save(LONG company_id, LONG owner, const std::string& keyword,
                                          const std::string& text, std::string* error) const {
  const std::string owned = " where companyId=" + SqlId(company_id) +
                            " and operatorId=" + SqlId(owner) +
                            " and keyword=" + SqlStringLiteral(keyword);
  std::optional<LONG> id;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query("select id from cannedResponse" + owned, {"id"}, &rows)) return false;
    if (rows.empty()) return true;  // a new one, below
    id = IdField(rows[0][0]);
    return chat.Execute("update cannedResponse set content=" + SqlStringLiteral(text) + owned);
  });
  if (!done) return std::nullopt;
  if (id) return id;
  return InsertNumbered(db_, "cannedResponse", "companyId, operatorId, keyword, content, createdAt",
                        SqlId(company_id) + ", " + SqlId(owner) + ", " +
                            SqlStringLiteral(keyword) + ", " + SqlStringLiteral(text) + ", " +
                            std::to_string(now_()),
                        error);
}

std::optional<CannedResponse> CannedResponses::Find(LONG company_id, LONG id,
                                                    std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select id, operatorId, keyword, content from cannedResponse where id=" +
                     SqlId(id) + " and companyId=" + SqlId(company_id),
                 kColumns, &rows, error) ||
      rows.empty())
    return std::nullopt;
  return FromRow(rows[0]);
}

bool CannedResponses::Remove(LONG company_id, LONG id, std::string* error) const {
  return db_.Execute(kChatCatalog,
                     "delete from cannedResponse where id=" + SqlId(id) +
                         " and companyId=" + SqlId(company_id),
                     nullptr, error);
}

}  // namespace zelto::serve
