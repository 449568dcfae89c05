// ChatLifecycle: the end of a chat and what every window asks about it.
// Ending removes what the component expects gone (members' IsChat 0, the
// conversation row, the visitor's beChatting 0), records who ended it and
// when in chatState, and gives the operator's freed room to the oldest
// queued chat, all in one write transaction. Ending a chat that already
// ended changes nothing and keeps the first end. Every call may block on
// the database: run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

struct ChatEnd {
  std::string by;  // kEndedByVisitor, kEndedByOperator, ...
  int64_t at = 0;  // seconds since 1970
};

struct EndedChat {
  LONG company_id = 0;
  std::vector<LONG> assigned;  // queued chats given the freed room
  bool by_this_call = false;   // false when the chat had ended before
};

class ChatLifecycle {
 public:
  ChatLifecycle(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // How `cid` ended; nullopt while it has not (or on a failed read, with
  // `error`). A conversation whose row is gone without a recorded end (it
  // ended before ends were recorded) ended too, by nobody known, at 0.
  std::optional<ChatEnd> EndOf(LONG cid, std::string* error) const;
  // Whether nothing may be posted into `cid` any more.
  bool IsConversationEnded(LONG cid, std::string* error) const {
    return EndOf(cid, error).has_value();
  }
  // Ends `cid` (running or queued) as `by` (operator id, or 0), recorded
  // under the chat's own company: the one it was routed in, else (an
  // operator's invitation) its operators' company.
  std::optional<EndedChat> End(LONG cid, const std::string& by, LONG by_id,
                               std::string* error) const;

 private:
  bool EndIn(SqlSession& chat, LONG cid, const std::string& by, LONG by_id, EndedChat* ended) const;

  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
