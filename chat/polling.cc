#include "chat/polling.h"

#include <string>

#include "chat/format_text.h"
#include "chat/message_list.h"
#include "db/db_recordset.h"
#include "db/db_statement.h"
#include "db/operator_names.h"
#include "db/sql_values.h"
#include "page/page_context.h"

namespace {

// The fields of one selected row, read in the row's field order.
struct MessageRow {
  LONG is_system = 0;
  LONG msg_id = 0;
  std::string time;
  std::string content;
  LONG sender_id = 0;
  std::string attachment;
  std::string cst_label;
  std::string nickname;
};

MessageRow ReadRow(CDbRecordset& rs, MessageView view) {
  MessageRow row;
  rs.GetFieldLong("issystem", row.is_system);
  rs.GetFieldLong("msgID", row.msg_id);
  rs.GetFieldText("msgtime", row.time);
  rs.GetFieldText("msgContent", row.content);
  rs.GetFieldLong("userid_send", row.sender_id);
  rs.GetFieldText("msgapp", row.attachment);
  if (view == MessageView::kOperator) {
    rs.GetFieldText("cstLabel", row.cst_label);
    rs.GetFieldText("nickname", row.nickname);
  }
  return row;
}

void AppendRow(MessageListDocument& document, CDbConnection& connection, MessageView view,
               const MessageRow& row, TextLanguage language) {
  HeaderKind kind = ChooseHeaderKind(view, row.cst_label, row.is_system != 0);
  std::string sender;
  if (kind == HeaderKind::kOperator) sender = LookupOperatorName(connection, row.sender_id);
  if (kind == HeaderKind::kVisitor)
    sender = VisitorDisplayName(row.nickname, row.cst_label, language);
  document.AppendMessage(kind, sender, row.time, row.content, row.attachment);
}

// Appends the reader's mark (`reader` is the id or the SQL-ready label).
// Always the appending form: on an empty list it gives the same list as
// setting the mark would, and the database evaluates it at the moment of the
// update, so a concurrent reader's mark is never overwritten. A failed update
// leaves the message unread; it comes again with the next poll.
void MarkRead(CDbConnection& connection, const std::string& reader, LONG msg_id) {
  RunStatement(connection, FormatText("update msg set readFlag = readFlag+',%s,' where msgID=%d",
                                      reader.c_str(), msg_id));
}

// Runs `select_sql`, renders every row and marks it read by `reader`, then
// writes the document once. False, with nothing written, when nothing was
// selected or the select failed. A failing MoveNext ends the rows.
bool RenderUnread(PageContext& page, MessageView view, const std::string& select_sql,
                  const std::string& reader) {
  CDbConnection& connection = page.connection();
  CDbRecordset rs;
  if (!OpenQuery(connection, rs, select_sql) || !HasRow(rs)) {
    rs.Close();
    return false;
  }
  const TextLanguage language = page.language();
  MessageListDocument document(language);
  while (!rs.IsEOF()) {
    MessageRow row = ReadRow(rs, view);
    AppendRow(document, connection, view, row, language);
    MarkRead(connection, reader, row.msg_id);
    if (!rs.MoveNext()) break;
  }
  rs.Close();
  page.WriteResponse(std::move(document).Finish());
  return true;
}

}  // namespace

HRESULT GetUserMsg(PageContext& page, LONG userid) {
  if (!page.IsStarted()) return S_FALSE;
  std::string cid = page.GetQueryValue("cid");
  if (!IsWellFormedInteger(cid)) return S_FALSE;
  std::string select_sql = FormatText(
      "select * from msg where conid=%s and userID_send<>%d and CHARINDEX(',%d,',readFlag)=0",
      cid.c_str(), userid, userid);
  bool rendered =
      RenderUnread(page, MessageView::kOperator, select_sql, FormatText("%d", userid));
  return rendered ? S_OK : S_FALSE;
}

HRESULT GetClientMsg(PageContext& page) {
  if (!page.IsStarted()) return S_FALSE;
  std::string cid = page.GetQueryValue("cid");
  std::string label;
  if (page.HasSession()) {
    label = page.GetSessionValue("timelabel");
    if (label.empty()) label = page.GetQueryValue("cstlabel");
  }
  if (label.empty() || cid.empty()) return S_FALSE;
  if (!IsWellFormedInteger(cid)) return S_OK;
  std::string quoted = SqlQuoted(label);
  std::string select_sql = FormatText(
      "select * from msg where cstlabel<>'%s' and CHARINDEX(',%s,',readFlag)=0 and conid=%s "
      "and '%s' in (select cstlabel from C_members where cstlabel<>'' and cid=%s)",
      quoted.c_str(), quoted.c_str(), cid.c_str(), quoted.c_str(), cid.c_str());
  RenderUnread(page, MessageView::kVisitor, select_sql, quoted);
  return S_OK;
}
