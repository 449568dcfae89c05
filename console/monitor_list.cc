#include "console/monitor_list.h"

#include <string>

#include "console/operator_rights.h"
#include "console/query_rows.h"
#include "console/visitor_names.h"
#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "db/db_statement.h"
#include "db/operator_names.h"
#include "page/page_context.h"
#include "text/html_escape.h"

namespace {

std::string ConversationSql(LONG userid) {
  const std::string id = std::to_string(userid);
  return "select * from conversation where cstlabel in (select cstlabel from onlineCst where "
         "CompanyID=(select CompanyID from userinfo where id=" +
         id +
         ")) or serid in (select id from userinfo where CompanyID=(select CompanyID from "
         "userinfo where id=" +
         id + "))";
}

std::string TableHead(PageContext& page) {
  return "<style type='text/css'><!--a:link {\ttext-decoration: none;}a:visited "
         "{text-decoration: none;}a:hover {text-decoration: none;}a:active {\ttext-decoration: "
         "none;}--></style><table border='0' width='100%' cellpadding='2'><tr bgcolor='#BCD1F0'>"
         "<td>" +
         page.Text(ComponentText::kMonitorId) + "</td><td>" +
         page.Text(ComponentText::kMonitorMembers) + "</td><td>" +
         page.Text(ComponentText::kMonitorTime) + "</td><td>" +
         page.Text(ComponentText::kMonitorActions) + "</td></tr>";
}

// The active members' names joined with nothing in between, in row order:
// operators by name, visitors by nickname. A failed select adds nothing.
std::string MemberNames(PageContext& page, LONG cid) {
  CDbConnection& connection = page.connection();
  CDbRecordset members;
  std::string names;
  if (OpenQuery(connection, members,
                "select * from C_Members where cid=" + std::to_string(cid) + " and IsChat=1") &&
      HasRow(members)) {
    do {
      LONG serid = 0;
      std::string label;
      members.GetFieldLong("serid", serid);
      members.GetFieldText("cstlabel", label);
      names += HtmlEscape(serid > 0 ? LookupOperatorName(connection, serid)
                                    : LookupVisitorNickName(connection, label, page.language()));
    } while (NextRow(members));
  }
  members.Close();
  return names;
}

std::string ConversationRow(PageContext& page, int number, LONG cid, const std::string& names,
                            const std::string& start_time) {
  const std::string id = std::to_string(cid);
  return "<tr><td>" + std::to_string(number) + "</td><td>" + names + "</td><td>" +
         HtmlEscape(start_time) + "</td><td><a href=\"#\" onClick=\"viewcnv('" + id + "')\">" +
         page.Text(ComponentText::kMonitorView) +
         "</a><a href=\"#\" onClick=\"javascript:if(confirm('" +
         page.Text(ComponentText::kMonitorEndConfirm) + "')==true){stopcnv('" + id + "');}\">" +
         page.Text(ComponentText::kMonitorEnd) + "</a></td></tr>";
}

}  // namespace

HRESULT GetMonitorList(PageContext& page, LONG userid) {
  if (userid <= 0 || !page.IsStarted()) return S_FALSE;
  CDbConnection& connection = page.connection();
  if (!HasConsoleRights(connection, "select * from userinfo where id=" + std::to_string(userid),
                        "conview")) {
    return S_FALSE;
  }

  std::string text = TableHead(page);
  CDbRecordset conversations;
  if (OpenQuery(connection, conversations, ConversationSql(userid)) && HasRow(conversations)) {
    int number = 0;
    do {
      LONG cid = 0;
      std::string start_time;
      conversations.GetFieldLong("cid", cid);
      conversations.GetFieldText("ctime", start_time);
      const std::string names = MemberNames(page, cid);
      text += ConversationRow(page, ++number, cid, names, start_time);
    } while (NextRow(conversations));
  } else {
    text += "<tr><td colspan=4>" + page.Text(ComponentText::kNoConversations) + "</td></tr>";
  }
  conversations.Close();
  page.WriteResponse(text + "</table>");
  return S_OK;
}
