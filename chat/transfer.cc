#include "chat/transfer.h"

#include <cstdlib>
#include <string>

#include "chat/invitation.h"
#include "db/db_statement.h"
#include "db/operator_names.h"
#include "db/sql_values.h"
#include "db/value_text.h"
#include "page/page_context.h"
#include "text/script_string.h"

namespace {

struct TransferOutcome {
  std::string script;
  bool transferred = false;
};

// The three changes of a transfer, in their order; false at the first one
// that fails. `target_name` receives the target's display name.
bool MoveConversation(PageContext& page, LONG userid, const std::string& cid,
                      const std::string& serid, std::string& target_name) {
  CDbConnection& connection = page.connection();
  const std::string timestamp = SqlQuoted(CurrentTimestampText());
  if (!RunStatement(connection, "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values(" +
                                    cid + "," + serid + ",'','" + timestamp + "',1)")) {
    return false;
  }
  if (!RunStatement(connection, "delete from C_members where serid=" + std::to_string(userid) +
                                    " and cid=" + cid)) {
    return false;
  }
  const std::string address = page.GetServerVariable("REMOTE_ADDR");
  target_name = LookupOperatorName(connection, static_cast<LONG>(std::atol(serid.c_str())));
  const std::string own_name = LookupOperatorName(connection, userid);
  const std::string text = own_name + page.Text(ComponentText::kHasTransferredTo) + target_name;
  return RunStatement(
      connection,
      "insert into msg(IP,userID_send,cstLabel,nickName,msgContent,msgApp,msgTime,isDeleted,"
      "readFlag,conid,issystem)values('" +
          SqlQuoted(address) + "',0,'','','" + SqlQuoted(text) + "','','" + timestamp + "',0,''," +
          cid + ",1)");
}

TransferOutcome Transfer(PageContext& page, LONG userid, const std::string& cid,
                         const std::string& serid) {
  const TransferOutcome failed{FailureScript(page.Text(ComponentText::kTransferFailed))};
  if (!IsWellFormedInteger(cid) || !IsWellFormedInteger(serid)) return failed;
  DbTransaction transaction(page.connection());
  if (!transaction.begun()) return failed;
  switch (CheckMembership(page.connection(), cid, serid)) {
    case Membership::kMember:
      return {AlreadyMemberScript(page.language())};
    case Membership::kUnknown:
      return failed;
    case Membership::kNotMember:
      break;
  }
  std::string target_name;
  if (!MoveConversation(page, userid, cid, serid, target_name) || !transaction.Commit()) {
    return failed;
  }
  return {ResultScript("alert('" + page.Text(ComponentText::kTransferredTo) +
                       EscapeScriptString(target_name) +
                       "');window.opener.top.close();window.close();"),
          true};
}

}  // namespace

HRESULT TranstoUser(PageContext& page, LONG userid) {
  if (userid <= 0 || !page.IsStarted()) return S_FALSE;
  const std::string cid = page.GetQueryValue("cid");
  const std::string action = page.GetQueryValue("action");
  if (action != "inv") return S_OK;
  const std::string serid = page.GetQueryValue("serid");

  const TransferOutcome outcome = Transfer(page, userid, cid, serid);
  page.WriteResponse(outcome.script);
  if (outcome.transferred) page.EndResponse();
  return S_OK;
}
