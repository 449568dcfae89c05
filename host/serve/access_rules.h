// AccessRules: who may touch which conversation, asked before the component
// or the web application runs. A visitor reaches only the conversations it
// is a member of; an operator those it is a chatting member of (IsChat 1);
// an operator with the monitor right (Popedom 1 or 2, or conview) may also
// read and end the conversations of its own company, never another's.
//
// A membership found is remembered for `remember` per caller and
// conversation, so that polls do not query each time. Forget(cid) drops
// what is remembered of a conversation at once: the Site calls it whenever
// something is stored there (a transfer, the end, an answer), and on
// PostgreSQL whenever another host says so. A member removed where no
// notice arrives can still poll for at most `remember`.
//
// Thread-safe. The checks may block on the database: run them on a worker.
// A failed read returns false with `error` set; false with `error` empty is
// a refusal.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

#include "host/serve/clock.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

// What a caller does with a conversation.
enum class ConversationUse {
  kRead,  // poll its messages
  kAct,   // post, invite into it, transfer it
  kEnd,   // end it
};

// The rights the console assumes, from the operator's userinfo row.
struct ConsoleRights {
  LONG company_id = 0;
  bool list = false;     // the visitor list and proactive invitations: Popedom 1/2 or Invite
  bool monitor = false;  // the monitor: Popedom 1/2 or conview
};

// The memberships found, each for a while: shared by the site's checks and
// whoever learns that a conversation changed (the notifier of other
// hosts' changes).
class MembershipMemory {
 public:
  static constexpr Duration kDefaultRemember = std::chrono::seconds(5);

  explicit MembershipMemory(const Clock& clock, Duration remember = kDefaultRemember);
  MembershipMemory(const MembershipMemory&) = delete;
  MembershipMemory& operator=(const MembershipMemory&) = delete;

  bool Remembered(LONG cid, const std::string& who);
  void Remember(LONG cid, const std::string& who);
  void Forget(LONG cid);
  size_t size() const;

 private:
  const Clock& clock_;
  const Duration remember_;
  mutable std::mutex mutex_;
  // cid -> caller ("v" + label, "o" + id member, "m" + id monitor) -> until when
  std::unordered_map<LONG, std::unordered_map<std::string, TimePoint>> members_;
  size_t entries_ = 0;
};

class AccessRules {
 public:
  AccessRules(const SiteDatabase& db, MembershipMemory& memory) : db_(db), memory_(memory) {}
  AccessRules(const AccessRules&) = delete;
  AccessRules& operator=(const AccessRules&) = delete;

  bool VisitorMay(const std::string& label, LONG cid, ConversationUse use, std::string* error);
  bool OperatorMay(LONG operator_id, LONG cid, ConversationUse use, std::string* error);
  // Whether `serid` is an operator of `company` (the one an invitation or
  // transfer may name).
  bool IsOperatorOf(LONG serid, LONG company, std::string* error) const;
  // The operator's rights; nullopt when no such operator (or `error`).
  std::optional<ConsoleRights> RightsOf(LONG operator_id, std::string* error) const;

  void Forget(LONG cid) { memory_.Forget(cid); }

 private:
  // Whether an operator of `company` is or was a member of `cid`.
  bool ConversationOfCompany(LONG cid, LONG company, std::string* error) const;
  bool HasRow(const std::string& sql, std::string* error) const;

  const SiteDatabase& db_;
  MembershipMemory& memory_;
};

}  // namespace zelto::serve
