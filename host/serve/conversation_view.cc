#include "host/serve/conversation_view.h"

#include <vector>

#include "chat/message_list.h"
#include "db/value_text.h"
#include "platform/com/variant.h"
#include "platform/win/codepage.h"
#include "text/text_catalog.h"

namespace zelto::serve {
namespace {

// A message time as a poll shows it: the row's date read back as a date
// and written as the component writes field values ("2026-12-08 17:35:08").
std::string MessageTime(const std::string& field) {
  VARIANT text = MakeVariantBstr(Utf8ToWide(field));
  VARIANT date;
  VariantInit(&date);
  std::string shown = field;
  if (SUCCEEDED(VariantChangeType(&date, &text, 0, VT_DATE))) VariantToText(date, shown);
  VariantClear(&text);
  VariantClear(&date);
  return shown;
}

}  // namespace

std::string ShownMessageTime(const std::string& field) { return MessageTime(field); }

bool MayViewConversation(const SiteDatabase& db, const OperatorInfo& op, LONG cid,
                         std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  const std::string member =
      "select cid from C_members where cid=" + SqlId(cid) + " and serid=" + SqlId(op.id);
  if (!db.Query(kChatCatalog, member, {"cid"}, &rows, error)) return false;
  if (!rows.empty()) return true;
  if (!op.can_monitor) return false;
  return db.Query(kChatCatalog,
                  "select m.cid as cid from C_members m inner join userinfo u on u.ID=m.serid "
                  "where m.cid=" +
                      SqlId(cid) + " and u.CompanyID=" + SqlId(op.company_id),
                  {"cid"}, &rows, error) &&
         !rows.empty();
}

std::optional<std::string> ConversationViewDocument(const SiteDatabase& db, LONG cid,
                                                    const std::string& language,
                                                    std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!db.Query(kChatCatalog,
                "select m.issystem as issystem, m.msgTime as msgTime, m.msgContent as msgContent, "
                "m.msgApp as msgApp, m.cstLabel as cstLabel, m.nickName as nickName, "
                "u.name as name from msg m left join userinfo u on u.ID=m.userID_send "
                "where m.conid=" +
                    SqlId(cid) + " order by m.msgID",
                {"issystem", "msgTime", "msgContent", "msgApp", "cstLabel", "nickName", "name"},
                &rows, error))
    return std::nullopt;
  // The document is made in the component's code page, as a poll's is.
  const TextLanguage text_language = TextLanguageFromTag(language);
  MessageListDocument document(text_language);
  for (const auto& utf8 : rows) {
    std::vector<std::string> row;
    for (const std::string& field : utf8) row.push_back(Utf8ToAnsi(field));
    const HeaderKind kind = ChooseHeaderKind(MessageView::kOperator, row[4], IdField(row[0]) != 0);
    std::string sender;
    if (kind == HeaderKind::kOperator) sender = row[6];
    if (kind == HeaderKind::kVisitor) sender = VisitorDisplayName(row[5], row[4], text_language);
    document.AppendMessage(kind, sender, MessageTime(row[1]), row[2], row[3]);
  }
  return AnsiToUtf8(std::move(document).Finish());
}

}  // namespace zelto::serve
