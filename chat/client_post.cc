#include "chat/client_post.h"

#include <string>

#include "chat/echo_script.h"
#include "chat/markup.h"
#include "db/db_statement.h"
#include "db/sql_values.h"
#include "db/value_text.h"
#include "page/page_context.h"

namespace {

// Empty text when the visitor has no onlineCst row. A failed query leaves a
// closed recordset, and the field read reports it through the database
// layer's notice; the post goes on without a nickname.
std::string LookupNickname(CDbConnection& connection, const std::string& label) {
  CDbRecordset rs;
  OpenQuery(connection, rs,
            "select nickName from onlineCst where cstLabel='" + SqlQuoted(label) + "'");
  std::string nickname;
  if (HasRow(rs)) rs.GetFieldText("nickname", nickname);
  rs.Close();
  return nickname;
}

// The session value "timelabel", or when that is empty the query value
// "cstlabel"; empty text on a page without a session object.
std::string VisitorLabel(PageContext& page) {
  if (!page.HasSession()) return std::string();
  std::string label = page.GetSessionValue("timelabel");
  if (label.empty()) label = page.GetQueryValue("cstlabel");
  return label;
}

}  // namespace

HRESULT DoClientMsg(PageContext& page) {
  if (!page.IsStarted()) return S_FALSE;
  const std::string cid = page.GetQueryValue("cid");
  const std::string action = page.GetQueryValue("action");
  const std::string label = VisitorLabel(page);
  if (action != "sub") return S_OK;

  const std::string text = DecodeUnicodeEscapes(page.GetQueryValue("msgContent"));
  const std::string adjunct = page.GetQueryValue("adjunct");
  if (!IsWellFormedInteger(cid)) return S_FALSE;

  CDbConnection& connection = page.connection();
  const std::string nickname = LookupNickname(connection, label);
  const std::string timestamp = CurrentTimestampText();
  const std::string address = page.GetServerVariable("REMOTE_ADDR");

  const std::string insert =
      "insert into msg(IP,issystem,readFlag,isDeleted,userid_Send,cstLabel,msgApp,msgContent,"
      "nickName,msgTime,conid) values('" +
      SqlQuoted(address) + "',0,'',0,0,'" + SqlQuoted(label) + "','" + SqlQuoted(adjunct) + "','" +
      SqlQuoted(text) + "','" + SqlQuoted(nickname) + "','" + SqlQuoted(timestamp) + "'," + cid +
      ")";
  if (!RunStatement(connection, insert)) return S_FALSE;

  page.WriteResponse(
      BuildEchoScript(EchoPoster::kVisitor, timestamp, text, adjunct, page.language()));
  return S_OK;
}
