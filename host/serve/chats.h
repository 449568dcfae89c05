// Chats: conversations as the web application opens and ends them, the
// rows the component reads but never writes: a visitor's chat opening
// (conversation, C_members, beChatting, preMsg), proactive invitations
// (Invited 1-3) and their answers, an operator taking a visitor, a
// conversation ending. Each change runs in one write transaction of the
// chat database: it happens whole or not at all, also when several hosts
// share the database. Plain values in, results out; who may do what is the
// caller's check. A failure says why in `error`; an empty `error` with no
// result means the operation does not apply (no such visitor, no pending
// invitation). Every call may block on the database: run it on a worker.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/serve/operators.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

struct VisitorChat {
  LONG cid = 0;
  std::string label;
};

struct Invitation {
  LONG invited = 0;  // 0 none, 1 invited, 2 accepted, 3 refused
  LONG cid = 0;
  std::vector<std::string> messages;
};

class Chats {
 public:
  explicit Chats(const SiteDatabase& db) : db_(db) {}

  // The visitor's running conversation, or a new one with an operator of
  // company `company_id` (the first of `online`, else the first of the
  // company); the visitor's beChatting 1 either way. Nullopt with `error`
  // empty when the company has no operator.
  std::optional<VisitorChat> OpenChat(const std::string& label, LONG company_id,
                                      const std::set<LONG>& online, std::string* error) const;
  // The preMsg row, once; false when `cid` is not the visitor's.
  bool ChatOpened(const std::string& label, LONG cid, std::string* error) const;
  Invitation InvitationOf(const std::string& label, std::string* error) const;
  // Accepts (Invited 2, beChatting 1) or refuses (Invited 3, the
  // conversation ended) a pending invitation; the conversation when
  // accepted, 0 when refused.
  std::optional<LONG> AnswerInvitation(const std::string& label, bool accept,
                                       std::string* error) const;
  // The operator takes a visitor of the operator's company: joins the
  // running conversation, or starts a proactive invitation (a new
  // conversation, Invited 1).
  std::optional<LONG> TakeVisitor(const OperatorInfo& op, const std::string& label,
                                  std::string* error) const;

  // Whether the visitor's or operator's side belongs to conversation `cid`.
  bool VisitorInConversation(const std::string& label, LONG cid, std::string* error) const;
  bool OperatorInConversation(LONG operator_id, LONG cid, std::string* error) const;

  // Members' IsChat 0, conversation row removed, its visitors' beChatting 0.
  bool EndConversation(LONG cid, std::string* error) const;

 private:
  const SiteDatabase& db_;
};

}  // namespace zelto::serve
