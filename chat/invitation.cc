#include "chat/invitation.h"

#include "db/db_statement.h"
#include "db/sql_values.h"
#include "db/value_text.h"
#include "page/page_context.h"
#include "text/script_string.h"

namespace {

// The invitation is recorded as one C_members row; false when no row could
// be added.
bool InsertMember(CDbConnection& connection, const std::string& cid, const std::string& serid,
                  const std::string& timestamp) {
  return RunStatement(
      connection, "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values(" + cid + "," +
                      serid + ",'','" + SqlQuoted(timestamp) + "',1)");
}

// Runs the check and the insert in one transaction; the script answers.
std::string Invite(CDbConnection& connection, const std::string& cid, const std::string& serid,
                   TextLanguage language, bool& invited) {
  invited = false;
  const std::string failed = FailureScript(CatalogText(language, ComponentText::kInvitationFailed));
  if (!IsWellFormedInteger(cid) || !IsWellFormedInteger(serid)) return failed;
  DbTransaction transaction(connection);
  if (!transaction.begun()) return failed;
  switch (CheckMembership(connection, cid, serid)) {
    case Membership::kMember:
      return AlreadyMemberScript(language);
    case Membership::kUnknown:
      return failed;
    case Membership::kNotMember:
      break;
  }
  if (!InsertMember(connection, cid, serid, CurrentTimestampText()) || !transaction.Commit()) {
    return failed;
  }
  invited = true;
  return ResultScript("alert('" + CatalogText(language, ComponentText::kInvitationSent) +
                      "');window.close();");
}

}  // namespace

Membership CheckMembership(CDbConnection& connection, const std::string& cid,
                           const std::string& serid) {
  CDbRecordset rs;
  if (!OpenQuery(connection, rs,
                 "select * from C_members where cid=" + cid + " and serid=" + serid)) {
    return Membership::kUnknown;
  }
  const Membership membership = HasRow(rs) ? Membership::kMember : Membership::kNotMember;
  rs.Close();
  return membership;
}

std::string ResultScript(std::string_view statements) {
  std::string script = "<script language='javascript'>";
  script += statements;
  script += "</script>";
  return script;
}

std::string AlreadyMemberScript(TextLanguage language) {
  return ResultScript("alert('" + CatalogText(language, ComponentText::kAlreadyMember) + "');");
}

std::string FailureScript(std::string_view message) {
  return ResultScript("alert('" + EscapeScriptString(message) + "');");
}

HRESULT InvitUser(PageContext& page) {
  if (!page.IsStarted()) return S_FALSE;
  const std::string cid = page.GetQueryValue("cid");
  const std::string action = page.GetQueryValue("action");
  if (action != "inv") return S_OK;
  const std::string serid = page.GetQueryValue("serid");

  bool invited = false;
  page.WriteResponse(Invite(page.connection(), cid, serid, page.language(), invited));
  if (invited) page.EndResponse();
  return S_OK;
}
