#include "console/client_list.h"

#include <string>
#include <string_view>

#include "console/operator_rights.h"
#include "console/query_rows.h"
#include "console/shorten_text.h"
#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "db/db_statement.h"
#include "db/sql_values.h"
#include "page/page_context.h"
#include "text/script_string.h"
#include "text/url_encode.h"

namespace {

constexpr std::size_t kShortCell = 15;
constexpr std::size_t kLastPageCell = 20;

const char kTableHead[] = "<table width='100%'  border='0' cellspacing='0' cellpadding='0'><tr>";

struct Visitor {
  std::string nick_name;
  std::string label;
  LONG chatting = 0;
  LONG invited = 0;
  std::string ip;
  std::string search_key;
  std::string source_page;
  std::string area;
  std::string time;
};

// A value inside the markup that sits in the double-quoted script string.
std::string Markup(std::string_view raw) { return EscapeHtmlInScriptString(raw); }

std::string RightsSql(LONG userid, const std::string& company_id) {
  return "select * from userinfo where id=" + std::to_string(userid) +
         " and companyid=" + company_id;
}

std::string ListSql(const std::string& company_id) {
  return "select Company.*,onlineCst.*,CAST(DATEPART(hh, onlineCst.visittime) AS "
         "nvarchar(50))+ ':' + CAST(DATEPART(mi, onlineCst.visittime) AS nvarchar(50)) + ':' + "
         "CAST(DATEPART(ss, onlineCst.visittime) AS nvarchar(50)) as tt from onlineCst,Company "
         "where Company.ID=onlineCst.CompanyID and onlineCst.CompanyID=" +
         company_id;
}

Visitor ReadVisitor(CDbRecordset& list) {
  Visitor v;
  list.GetFieldText("NickName", v.nick_name);
  list.GetFieldText("cstlabel", v.label);
  list.GetFieldLong("beChatting", v.chatting);
  list.GetFieldLong("Invited", v.invited);
  list.GetFieldText("IP", v.ip);
  list.GetFieldText("searchkey", v.search_key);
  list.GetFieldText("sourcepage", v.source_page);
  list.GetFieldText("csarea", v.area);
  list.GetFieldText("tt", v.time);
  return v;
}

// Leading white space goes, trailing stays; nothing left means "访客" + label.
std::string DisplayName(PageContext& page, const Visitor& v) {
  const auto start = v.nick_name.find_first_not_of(" \t\n\v\f\r");
  if (start == std::string::npos) return page.Text(ComponentText::kVisitorPrefix) + v.label;
  return v.nick_name.substr(start);
}

ComponentText StateText(LONG chatting, LONG invited) {
  if (chatting != 0) return ComponentText::kStateChatting;
  switch (invited) {
    case 0:
      return ComponentText::kStateNotInvited;
    case 1:
      return ComponentText::kStateInvited;
    case 2:
      return ComponentText::kStateAccepted;
    case 3:
      return ComponentText::kStateRefused;
    default:
      return ComponentText::kStateUnknown;
  }
}

// The presentPage of the visitor's latest cstTrack row; empty when there is
// none or the select fails.
std::string LastPage(CDbConnection& connection, const std::string& label) {
  CDbRecordset track;
  std::string page;
  if (OpenQuery(connection, track,
                "select top 1 * from cstTrack where cstLabel='" + SqlQuoted(label) +
                    "' order by presentTime desc") &&
      HasRow(track)) {
    track.GetFieldText("presentPage", page);
  }
  track.Close();
  return page;
}

// "老访客" when the count database knows the address, "新访客" when it does
// not; empty when the count connection is closed or the select fails.
std::string VisitKind(PageContext& page, CDbConnection& count, const std::string& ip) {
  if (!count.IsOpen()) return {};
  CDbRecordset seen;
  if (!OpenQuery(count, seen, "select * from t_Iprecord where IP='" + SqlQuoted(ip) + "'")) {
    return {};
  }
  const bool returning = HasRow(seen);
  seen.Close();
  return page.Text(returning ? ComponentText::kReturningVisitor : ComponentText::kNewVisitor);
}

std::string HeaderRow(PageContext& page) {
  static constexpr std::string_view kCell =
      "<td background='images/cst_inhead_back.gif' height='21' align='center'";
  struct Column {
    const char* width;
    ComponentText title;
  };
  static constexpr Column kColumns[] = {
      {"55", ComponentText::kHeadTime},
      {"120", ComponentText::kHeadVisitor},
      {"110", ComponentText::kHeadRegion},
      {"125", ComponentText::kHeadReferrer},
      {nullptr, ComponentText::kHeadSearchKeywords},
      {"125", ComponentText::kHeadLastPage},
      {"55", ComponentText::kHeadRevisit},
      {"75", ComponentText::kHeadState},
  };
  std::string row;
  for (const Column& column : kColumns) {
    row += kCell;
    if (column.width) row += std::string(" width='") + column.width + "'";
    row += ">" + page.Text(column.title) + "</td>";
  }
  return row + "</tr>";
}

// A cell whose title carries the full text and whose content may be shortened.
std::string TitledCell(const std::string& raw, std::size_t limit) {
  return "</td><td align='center' title='" + Markup(raw) + "'>" + Markup(ShortenText(raw, limit));
}

std::string VisitorRow(PageContext& page, const Visitor& v, const std::string& company_id,
                       const std::string& last_page, const std::string& visit_kind) {
  const std::string name = Markup(DisplayName(page, v));
  std::string row = "<tr onClick='choose(this)' onDblClick='rece(\\\"cstReWin.asp?cstLabel=" +
                    UrlEncodeText(v.label) + "&companyid=" + UrlEncodeText(company_id) +
                    "\\\")' onMouseOver='this.style.cursor=\\\"hand\\\"'>";
  row += "<td height='20' align='center' title='" + Markup(v.time) + "'>" + Markup(v.time);
  row += "</td><td align='center' title='" + name + "'>" + name;
  row += TitledCell(v.area, kShortCell);
  row += TitledCell(v.source_page, kShortCell);
  row += TitledCell(v.search_key, kShortCell);
  row += TitledCell(last_page, kLastPageCell) + "</td>";
  row += "<td align='center'>" + visit_kind + "</td>";
  row += "<td align='center'>" + page.Text(StateText(v.chatting, v.invited)) + "</td>";
  return row + "</tr>";
}

std::string EmptyListTable(PageContext& page) {
  return kTableHead + ("<td align='center'><font color='#FF0000' class='nono'>" +
                       page.Text(ComponentText::kNoVisitors) + "</font></td></tr></table>");
}

// The table of a non-empty list; `list` stands on its first row.
std::string VisitorTable(PageContext& page, CDbRecordset& list, const std::string& company_id) {
  std::string body = kTableHead + HeaderRow(page);
  const DbSettings& settings = page.settings();
  CDbConnection count;
  count.Connect(settings.server, settings.count_database, settings.user, settings.password, -1);
  do {
    const Visitor v = ReadVisitor(list);
    const std::string last_page = LastPage(page.connection(), v.label);
    body += VisitorRow(page, v, company_id, last_page, VisitKind(page, count, v.ip));
  } while (NextRow(list));
  count.Close();
  return body + "</table>";
}

}  // namespace

HRESULT GetClientList(PageContext& page, LONG userid) {
  if (userid <= 0 || !page.IsStarted()) return S_FALSE;
  const std::string company_id = page.GetQueryValue("companyid");
  if (!IsWellFormedInteger(company_id)) return S_FALSE;
  CDbConnection& connection = page.connection();
  if (!HasConsoleRights(connection, RightsSql(userid, company_id), "Invite")) return S_FALSE;

  CDbRecordset list;
  const bool listed = OpenQuery(connection, list, ListSql(company_id)) && HasRow(list);
  const std::string body = listed ? VisitorTable(page, list, company_id) : EmptyListTable(page);
  list.Close();
  page.WriteResponse("document.all(\"show\").innerHTML=\"" + body + "\";");
  return S_OK;
}
