// Routing: who answers a visitor's new chat. The chat goes to the company's
// online operator with the fewest running chats (ties: the one whose last
// chat came longest ago, then the lowest id), up to the company's limit of
// running chats per operator (chatSetting.maxChats, kDefaultChatLimit
// without a row). With operators online but every one at the limit, the
// chat waits in the company's queue and is assigned in arrival order as
// soon as one has room. With no operator online, no chat opens: the visitor
// is offered the leave-a-message form. Picking the operator and assigning
// the chat happen in one write transaction (write transactions run one at a
// time on both engines), so concurrent arrivals on any number of hosts never
// give one chat two operators, or one operator more than the limit.
// Every call may block on the database: run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/sql_session.h"
#include "host/serve/administration.h"
#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

struct RoutedChat {
  enum class Kind { kRunning, kQueued, kNobodyOnline };
  Kind kind = Kind::kNobodyOnline;
  LONG cid = 0;  // 0 when nobody is online
  // Chats of the queue assigned by this call (the new one included when it
  // was assigned at once): their windows and operators are to be woken.
  std::vector<LONG> assigned;
};

struct QueuePlace {
  LONG position = 0;          // 1 = next; 0 when not queued
  LONG online_operators = 0;  // of the company
  int64_t estimate_seconds = 0;
};

// Assigns the company's queued chats, oldest first, while an online
// operator has room; appends each assigned cid to `assigned`. REQUIRES: a
// write transaction on `chat`.
bool AssignWaitingChats(SqlSession& chat, LONG company_id, int64_t now,
                        std::vector<LONG>* assigned);

class Routing {
 public:
  Routing(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // The visitor's running or queued chat, else a new one routed as above
  // among company `company_id`'s operators and queued in its queue.
  // nullopt with `error` when the database failed.
  std::optional<RoutedChat> Open(const std::string& label, LONG company_id,
                                 std::string* error) const;
  // Where the visitor's queued chat `cid` stands.
  std::optional<QueuePlace> PlaceOf(LONG cid, std::string* error) const;
  // AssignWaitingChats in a transaction of its own (an operator came online
  // or has room again); the chats assigned.
  std::vector<LONG> AssignWaiting(LONG company_id, std::string* error) const;
  // Whether `cid` is the visitor's chat in the queue.
  bool IsQueuedFor(LONG cid, const std::string& label, std::string* error) const;
  // The company's queued chats.
  LONG QueueLength(LONG company_id, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
