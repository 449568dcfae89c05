// The statements about one conversation that the web application's
// operations combine inside one transaction (host/serve/chats.h,
// host/serve/visitor_tracking.h): each runs on the caller's chat session
// and returns false when a statement failed (the session's error() says
// why), so that the caller stops and its transaction rolls back.
#pragma once

#include <optional>
#include <string>

#include "db/sql_session.h"

namespace zelto::serve {

// Whether `sql` finds a row.
bool HasRow(SqlSession& session, const std::string& sql, bool* found);
// The visitor's newest conversation that still has its row, in `cid`.
bool FindRunningConversation(SqlSession& chat, const std::string& label, std::optional<LONG>* cid);
// A new conversation of the visitor with the operator: its row, the
// visitor's and the operator's C_members rows. REQUIRES: a write
// transaction.
bool StartConversation(SqlSession& chat, const std::string& label, LONG operator_id, LONG* cid);
// The same rows for an id already taken (a queued chat being assigned).
bool OpenConversationRows(SqlSession& chat, LONG cid, const std::string& label, LONG operator_id);
// Whether the visitor is a member of `cid`.
bool IsVisitorMember(SqlSession& chat, const std::string& label, LONG cid, bool* member);
// Whether the operator is a chatting member (IsChat 1) of `cid`.
bool IsChattingOperator(SqlSession& chat, LONG operator_id, LONG cid, bool* member);
// The operator joins `cid`, unless a chatting member already.
bool JoinConversation(SqlSession& chat, LONG cid, LONG operator_id);
// Members' IsChat 0, the conversation row removed, its visitors'
// beChatting 0.
bool FinishConversation(SqlSession& chat, LONG cid);
// The visitor's onlineCst columns, set to `assignments` ("beChatting=1").
bool UpdateVisitor(SqlSession& chat, const std::string& label, const std::string& assignments);

}  // namespace zelto::serve
