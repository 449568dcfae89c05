#include "host/serve/seen_receipts.h"

namespace zelto::serve {

std::optional<SeenState> SeenReceipts::LastOf(
    LONG cid, const std::string& sender, const std::function<bool(const std::string&)>& seen,
    std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select top 1 msgID, readFlag from msg where conid=" + SqlId(cid) + " and " +
                     sender + " order by msgID desc",
                 {"msgID", "readFlag"}, &rows, error))
    return std::nullopt;
  if (rows.empty()) return SeenState{};
  return SeenState{IdField(rows[0][0]), seen(rows[0][1])};
}

std::optional<SeenState> SeenReceipts::OfVisitor(LONG cid, const std::string& label,
                                                 std::string* error) const {
  // Any operator's mark: ",ID," with ID a number.
  return LastOf(cid, "userID_send=0 and cstLabel=" + SqlStringLiteral(label),
                [](const std::string& marks) { return !marks.empty(); }, error);
}

std::optional<SeenState> SeenReceipts::OfOperator(LONG cid, LONG operator_id,
                                                  std::string* error) const {
  // The visitor's mark is their label; operators' marks are numbers.
  // Its label: the chat's record, or for an invitation the conversation row.
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog, "select cstLabel from chatState where cid=" + SqlId(cid),
                 {"cstLabel"}, &rows, error) ||
      (rows.empty() &&
       !db_.Query(kChatCatalog, "select cstlabel from conversation where cid=" + SqlId(cid),
                  {"cstlabel"}, &rows, error)))
    return std::nullopt;
  const std::string mark = rows.empty() ? std::string() : "," + rows[0][0] + ",";
  return LastOf(cid, "userID_send=" + SqlId(operator_id),
                [&mark](const std::string& marks) {
                  return !mark.empty() && marks.find(mark) != std::string::npos;
                },
                error);
}

bool SeenReceipts::TypingPreviewOn(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  return db_.Query(kChatCatalog,
                   "select enabled from typingPreview where companyId=" + SqlId(company_id),
                   {"enabled"}, &rows, error) &&
         !rows.empty() && IdField(rows[0][0]) != 0;
}

bool SeenReceipts::SetTypingPreview(LONG company_id, bool on, std::string* error) const {
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    return chat.Execute("delete from typingPreview where companyId=" + SqlId(company_id)) &&
           chat.Execute("insert into typingPreview (companyId, enabled) values (" +
                        SqlId(company_id) + ", " + (on ? "1" : "0") + ")");
  });
}

}  // namespace zelto::serve
