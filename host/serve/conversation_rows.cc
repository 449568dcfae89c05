#include "host/serve/conversation_rows.h"

#include <vector>

#include "db/sql_values.h"
#include "db/value_text.h"
#include "host/serve/conversation_ids.h"
#include "host/serve/site_database.h"

namespace zelto::serve {
namespace {

bool AddMember(SqlSession& chat, LONG cid, LONG operator_id, const std::string& label,
               const std::string& now) {
  return chat.Execute("insert into C_members (cid, serid, cstlabel, addtime, IsChat) values (" +
                      SqlId(cid) + ", " + SqlId(operator_id) + ", " + SqlStringLiteral(label) +
                      ", " + SqlStringLiteral(now) + ", 1)");
}

}  // namespace

bool HasRow(SqlSession& session, const std::string& sql, bool* found) {
  std::vector<SqlSession::Row> rows;
  if (!session.Query(sql, {}, &rows)) return false;
  *found = !rows.empty();
  return true;
}

bool FindRunningConversation(SqlSession& chat, const std::string& label, std::optional<LONG>* cid) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select top 1 cid from conversation where cstlabel=" + SqlStringLiteral(label) +
                      " order by cid desc",
                  {"cid"}, &rows))
    return false;
  *cid = rows.empty() ? std::nullopt : ParseWellFormedInteger(rows[0][0]);
  return true;
}

bool StartConversation(SqlSession& chat, const std::string& label, LONG operator_id, LONG* cid) {
  return TakeConversationId(chat, cid) && OpenConversationRows(chat, *cid, label, operator_id);
}

bool OpenConversationRows(SqlSession& chat, LONG cid, const std::string& label, LONG operator_id) {
  const std::string now = CurrentTimestampText();
  return chat.Execute("insert into conversation (cid, cstlabel, serid, ctime) values (" +
                      SqlId(cid) + ", " + SqlStringLiteral(label) + ", " + SqlId(operator_id) +
                      ", " + SqlStringLiteral(now) + ")") &&
         AddMember(chat, cid, 0, label, now) && AddMember(chat, cid, operator_id, "", now);
}

bool IsVisitorMember(SqlSession& chat, const std::string& label, LONG cid, bool* member) {
  return HasRow(chat,
                "select cid from C_members where cid=" + SqlId(cid) +
                    " and cstlabel=" + SqlStringLiteral(label),
                member);
}

bool IsChattingOperator(SqlSession& chat, LONG operator_id, LONG cid, bool* member) {
  return HasRow(chat,
                "select cid from C_members where cid=" + SqlId(cid) +
                    " and serid=" + SqlId(operator_id) + " and IsChat=1",
                member);
}

bool JoinConversation(SqlSession& chat, LONG cid, LONG operator_id) {
  bool member = false;
  if (!IsChattingOperator(chat, operator_id, cid, &member)) return false;
  return member || AddMember(chat, cid, operator_id, "", CurrentTimestampText());
}

bool FinishConversation(SqlSession& chat, LONG cid) {
  return chat.Execute(
             "update onlineCst set beChatting=0 where cstLabel in (select cstlabel from "
             "C_members where cid=" +
             SqlId(cid) + " and cstlabel<>'')") &&
         chat.Execute("update C_members set IsChat=0 where cid=" + SqlId(cid)) &&
         chat.Execute("delete from conversation where cid=" + SqlId(cid));
}

bool UpdateVisitor(SqlSession& chat, const std::string& label, const std::string& assignments) {
  return chat.Execute("update onlineCst set " + assignments +
                      " where cstLabel=" + SqlStringLiteral(label));
}

}  // namespace zelto::serve
