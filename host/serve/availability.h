// Availability: each operator is online, away or offline, in table
// operatorState, so that every host of one database sees the same state.
// A login counts the session and makes the operator online (one who chose
// away and still has a session open stays away); a logout or a session's
// expiry uncounts it, and the last one makes the operator offline. Away and offline operators get
// no new chats (routing.h). A change that gives an operator room assigns the company's queued chats
// in the same transaction. Every call may block on the database: run it on
// a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr char kOnline[] = "online";
inline constexpr char kAway[] = "away";
inline constexpr char kOffline[] = "offline";

// Whether `state` is one an operator may choose (online or away).
bool IsChosenState(const std::string& state);

struct OperatorState {
  LONG id = 0;
  std::string name;
  std::string state;  // kOnline, kAway, kOffline
};

class Availability {
 public:
  Availability(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // A session of the operator began (login): online. The chats assigned.
  std::optional<std::vector<LONG>> SessionStarted(LONG operator_id, LONG company_id,
                                                  std::string* error) const;
  // A session of the operator ended (logout, expiry); the last one makes
  // the operator offline.
  bool SessionEnded(LONG operator_id, std::string* error) const;
  // The operator went offline whatever sessions are counted (every session
  // of theirs is known to be gone).
  bool OperatorWentOffline(LONG operator_id, std::string* error) const;
  // The operator chose `state` (IsChosenState). The chats assigned.
  std::optional<std::vector<LONG>> Choose(LONG operator_id, LONG company_id,
                                          const std::string& state, std::string* error) const;
  // The company's operators and their states (offline without a row).
  std::vector<OperatorState> StatesOf(LONG company_id, std::string* error) const;

 private:
  std::optional<std::vector<LONG>> Change(LONG operator_id, LONG company_id,
                                          const std::string& state, int session_change,
                                          std::string* error) const;

  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
