// The read-only view of a conversation for a supervisor: every message of
// it, rendered as the chat windows' message list renders them (the same
// document, senders and times), read without marking anything read, so
// the view shows the same the second time it is opened and the
// participants' unread messages stay unread. May block on the database:
// run it on a worker.
#pragma once

#include <optional>
#include <string>

#include "host/serve/operators.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

// A message's stored time as the windows show it ("2026-12-08 17:35:08").
std::string ShownMessageTime(const std::string& field);
// Whether `op` may watch `cid`: a member of it, or an operator who may
// monitor (operators.h) and the conversation has a member of their company.
bool MayViewConversation(const SiteDatabase& db, const OperatorInfo& op, LONG cid,
                         std::string* error);
// The message list document of `cid` in UTF-8, senders' lines in
// `language` ("en", "zh"); nullopt with `error` when the read failed.
std::optional<std::string> ConversationViewDocument(const SiteDatabase& db, LONG cid,
                                                    const std::string& language,
                                                    std::string* error);

}  // namespace zelto::serve
