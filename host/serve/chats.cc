#include "host/serve/chats.h"

#include "db/sql_values.h"
#include "host/serve/conversation_rows.h"

namespace zelto::serve {
namespace {

// The invitation state: Invited of the visitor's row, the running
// conversation and its invitation texts.
bool ReadInvitation(SqlSession& chat, const std::string& label, Invitation* invitation) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select Invited from onlineCst where cstLabel=" + SqlStringLiteral(label),
                  {"Invited"}, &rows))
    return false;
  if (!rows.empty()) invitation->invited = IdField(rows[0][0]);
  std::optional<LONG> running;
  if (!FindRunningConversation(chat, label, &running)) return false;
  invitation->cid = running.value_or(0);
  if (invitation->cid == 0) return true;
  if (!chat.Query("select content from inviteMsg where cstlabel=" + SqlStringLiteral(label) +
                      " and conid=" + SqlId(invitation->cid) + " order by createTime",
                  {"content"}, &rows))
    return false;
  for (auto& row : rows) invitation->messages.push_back(std::move(row[0]));
  return true;
}

// The company's operator for a new chat: the first of `online`, else the
// first of the company; removed operators never. False without a failure
// (error() empty) when the company has none.
bool ChooseOperator(SqlSession& chat, LONG company_id, const std::set<LONG>& online, LONG* chosen) {
  std::vector<SqlSession::Row> operators;
  if (!chat.Query("select u.ID as ID from userinfo u left join operatorAccount a on a.id = u.ID "
                  "where u.CompanyID=" +
                      SqlId(company_id) + " and (a.removed is null or a.removed = 0) order by u.ID",
                  {"ID"}, &operators))
    return false;
  if (operators.empty()) return false;
  *chosen = IdField(operators[0][0]);
  for (const auto& row : operators) {
    if (online.count(IdField(row[0]))) {
      *chosen = IdField(row[0]);
      break;
    }
  }
  return true;
}

}  // namespace

std::optional<VisitorChat> Chats::OpenChat(const std::string& label, LONG company_id,
                                           const std::set<LONG>& online,
                                           std::string* error) const {
  LONG cid = 0;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::optional<LONG> running;
    LONG chosen = 0;
    if (!FindRunningConversation(chat, label, &running)) return false;
    if (running) {
      cid = *running;
    } else if (!ChooseOperator(chat, company_id, online, &chosen) ||
               !StartConversation(chat, label, chosen, &cid)) {
      return false;
    }
    return UpdateVisitor(chat, label, "beChatting=1");
  });
  if (!done) return std::nullopt;
  return VisitorChat{cid, label};
}

bool Chats::ChatOpened(const std::string& label, LONG cid, std::string* error) const {
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    bool member = false, opened = false;
    if (!IsVisitorMember(chat, label, cid, &member) || !member) return false;
    if (!HasRow(chat,
                "select conid from preMsg where cstlabel=" + SqlStringLiteral(label) +
                    " and conid=" + SqlId(cid),
                &opened))
      return false;
    return opened || chat.Execute("insert into preMsg (cstlabel, conid) values (" +
                                  SqlStringLiteral(label) + ", " + SqlId(cid) + ")");
  });
}

Invitation Chats::InvitationOf(const std::string& label, std::string* error) const {
  Invitation invitation;
  SqlSession chat = db_.Open(kChatCatalog);
  if (!ReadInvitation(chat, label, &invitation)) {
    *error = chat.unreported_error();
    return Invitation();
  }
  return invitation;
}

std::optional<LONG> Chats::AnswerInvitation(const std::string& label, bool accept,
                                            std::string* error) const {
  LONG cid = 0;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    Invitation invitation;
    if (!ReadInvitation(chat, label, &invitation)) return false;
    if (invitation.invited != 1 || invitation.cid == 0) return false;  // none pending
    if (!accept)
      return UpdateVisitor(chat, label, "Invited=3") && FinishConversation(chat, invitation.cid);
    cid = invitation.cid;
    return UpdateVisitor(chat, label, "Invited=2, beChatting=1");
  });
  if (!done) return std::nullopt;
  return cid;
}

std::optional<LONG> Chats::TakeVisitor(const OperatorInfo& op, const std::string& label,
                                       std::string* error) const {
  LONG cid = 0;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::vector<SqlSession::Row> rows;
    if (!chat.Query("select CompanyID from onlineCst where cstLabel=" + SqlStringLiteral(label),
                    {"CompanyID"}, &rows))
      return false;
    if (rows.empty() || IdField(rows[0][0]) != op.company_id) return false;  // not on the site
    std::optional<LONG> running;
    if (!FindRunningConversation(chat, label, &running)) return false;
    if (running) {
      cid = *running;
      return JoinConversation(chat, cid, op.id);
    }
    return StartConversation(chat, label, op.id, &cid) && UpdateVisitor(chat, label, "Invited=1");
  });
  if (!done) return std::nullopt;
  return cid;
}

bool Chats::VisitorInConversation(const std::string& label, LONG cid, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  bool member = false;
  if (!IsVisitorMember(chat, label, cid, &member)) *error = chat.unreported_error();
  return member;
}

bool Chats::OperatorInConversation(LONG operator_id, LONG cid, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  bool member = false;
  if (!IsChattingOperator(chat, operator_id, cid, &member)) *error = chat.unreported_error();
  return member;
}

bool Chats::EndConversation(LONG cid, std::string* error) const {
  return db_.Write(kChatCatalog, error,
                   [&](SqlSession& chat) { return FinishConversation(chat, cid); });
}

}  // namespace zelto::serve
