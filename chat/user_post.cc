#include "chat/user_post.h"

#include <optional>
#include <string>

#include "chat/echo_script.h"
#include "chat/markup.h"
#include "db/db_statement.h"
#include "db/sql_values.h"
#include "db/value_text.h"
#include "page/page_context.h"

namespace {

// The first visitor row of the conversation names its visitor; empty text
// when there is none. A failed query reads as a row on a closed recordset,
// whose field read reports through the database layer's notice: no label.
std::string ConversationVisitor(CDbConnection& connection, const std::string& cid) {
  CDbRecordset rs;
  OpenQuery(connection, rs, "select * from C_members where cid=" + cid + " and cstlabel<> ''");
  std::string label;
  if (HasRow(rs)) rs.GetFieldText("cstlabel", label);
  rs.Close();
  return label;
}

// Operator messages are copied to inviteMsg until the visitor has a preMsg
// row for the conversation. A failed query counts as an existing row.
bool NeedsInvitationRecord(CDbConnection& connection, const std::string& label,
                           const std::string& cid) {
  if (label.empty()) return false;
  CDbRecordset rs;
  OpenQuery(connection, rs,
            "select * from preMsg where cstlabel='" + SqlQuoted(label) + "' and conid=" + cid);
  const bool no_row = rs.IsBOF() || rs.IsEOF();
  rs.Close();
  return no_row;
}

}  // namespace

HRESULT DoUserMsg(PageContext& page, LONG userid) {
  if (userid <= 0 || !page.IsStarted()) return S_FALSE;
  const std::string cid = page.GetQueryValue("cid");
  const std::string action = page.GetQueryValue("action");
  if (action != "sub") return S_OK;

  std::string text = page.GetQueryValue("msgContent");
  if (!text.empty()) text = DecodeUnicodeEscapes(text);
  const std::string adjunct = page.GetQueryValue("adjunct");
  const std::string timestamp = CurrentTimestampText();
  if (!IsWellFormedInteger(cid)) return S_FALSE;

  CDbConnection& connection = page.connection();
  const std::string visitor = ConversationVisitor(connection, cid);
  const bool record_invitation = NeedsInvitationRecord(connection, visitor, cid);
  const std::string address = page.GetServerVariable("REMOTE_ADDR");
  const std::string id = std::to_string(userid);

  // The invitation record and the message are stored together or not at all.
  std::optional<DbTransaction> transaction;
  if (record_invitation) {
    transaction.emplace(connection);
    if (!transaction->begun()) return S_FALSE;
    const std::string invite =
        "insert into inviteMsg(conid,sendid,cstlabel,createTime,content,IsInvite) values(" + cid +
        "," + id + ",'" + SqlQuoted(visitor) + "','" + SqlQuoted(timestamp) + "','" +
        SqlQuoted(text) + "',0)";
    if (!RunStatement(connection, invite)) return S_FALSE;
  }
  const std::string insert =
      "insert into msg(IP,userID_send,msgApp,msgContent,msgTime,conid,readFlag,cstLabel,"
      "nickName) values('" +
      SqlQuoted(address) + "'," + id + ",'" + SqlQuoted(adjunct) + "','" + SqlQuoted(text) + "','" +
      SqlQuoted(timestamp) + "'," + cid + ",'','','')";
  if (!RunStatement(connection, insert)) return S_FALSE;
  if (transaction && !transaction->Commit()) return S_FALSE;

  page.WriteResponse(
      BuildEchoScript(EchoPoster::kOperator, timestamp, text, adjunct, page.language()));
  return S_OK;
}
