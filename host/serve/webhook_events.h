// WebhookEvents: what the site tells the companies' webhooks, one call per
// event, each called from the one place where the event happens (after
// its change was stored). Each reads what the event's body says, queues it
// (Webhooks::Emit) and wakes the sender. A failure is logged and never
// fails the request that caused the event. May block on the database: call
// on a worker.
//
// Bodies: {"id": EVENT_ID, "event": NAME, "companyId": N, "createdAt":
// SECONDS, "data": {...}}; docs/api.md lists each event's data.
#pragma once

#include <functional>
#include <string>

#include "host/serve/chat_state.h"
#include "host/serve/failure_log.h"
#include "host/serve/webhooks.h"

namespace zelto::serve {

class WebhookEvents {
 public:
  // `queued` (may be empty) is called after deliveries were queued.
  WebhookEvents(const SiteDatabase& db, const Webhooks& webhooks, FailureLog& failures,
                std::function<void()> queued)
      : db_(db), webhooks_(webhooks), failures_(failures), queued_(std::move(queued)) {}

  // Conversation `cid` began for visitor `label` (a chat opened, running or
  // queued, or an invitation accepted); `company_id` when it has no state row.
  void ChatStarted(LONG cid, const std::string& label, LONG company_id) const;
  // A message was posted into `cid` by operator `operator_id`, or by the
  // visitor when 0: the newest such message goes out.
  void MessagePosted(LONG cid, LONG operator_id, LONG company_id) const;
  // `cid` ended (its state row says by whom and when).
  void ChatEnded(LONG cid, LONG company_id) const;
  // A visitor left message `id` while nobody could answer.
  void OfflineMessageLeft(LONG company_id, LONG id, const std::string& label,
                          const std::string& name, const std::string& contact,
                          const std::string& text) const;
  // The visitor rated chat `cid`: a score (1-5) and a comment.
  void ChatRated(LONG cid, LONG company_id, int score, const std::string& comment,
                 int64_t rated_at) const;

 private:
  void Emit(LONG company_id, const char* event, const boost::json::object& data) const;
  // The state row of `cid` (nullopt without one); false, logged, when it
  // cannot be read.
  bool StateOf(LONG cid, std::optional<ChatState>* state) const;

  const SiteDatabase& db_;
  const Webhooks& webhooks_;
  FailureLog& failures_;
  const std::function<void()> queued_;
};

}  // namespace zelto::serve
