// SessionStore: the site's sessions in memory, by a random id (128 bits,
// RandomHex128). A session lasts until it has not been used for the timeout,
// measured by the store's Clock. Ending a session (timeout, logout, the
// server's stop) hands its values back to the caller, who does the web
// application's work for it; the store itself never touches a database.
// The number of sessions is bounded: at the limit, a new session first
// makes room by removing the expired ones (handed back by the next Sweep),
// and is refused when none has expired; existing sessions are never pushed
// out. Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/serve/clock.h"
#include "platform/asp/session_values.h"

namespace zelto::serve {

class SessionStore {
 public:
  using Values = std::shared_ptr<SessionValues>;

  static constexpr size_t kDefaultLimit = 100000;

  // `init` fills each new session's values (the database settings); at most
  // `limit` sessions live at once. `clock` must outlive the store.
  SessionStore(Duration timeout, std::function<void(SessionValues&)> init,
               size_t limit = kDefaultLimit, const Clock& clock = SystemClock());

  // The live session `id`, now marked used; null when unknown or expired
  // (an expired one is left for Sweep to end).
  Values Find(std::string_view id);
  // A new session; `id` receives its id. Null (and `id` empty) when the
  // store is full of live sessions, counting `keep_free` places as taken
  // (kept for operators' logins; at least one place stays usable).
  Values Create(std::string* id, size_t keep_free = 0);
  // A session known under `id` elsewhere (another host of the database,
  // shared_sessions.h): the live one of that id, else a new one filled by
  // the store's init and then `fill`. Null when the store is full of live
  // sessions.
  Values Adopt(std::string_view id, const std::function<void(SessionValues&)>& fill);
  // Moves the session to a new id (after a login); empty when unknown.
  std::string Reissue(std::string_view id);
  // Ends one session now; null when unknown.
  Values End(std::string_view id);
  // Ends every session unused for the timeout (all of them with `all`),
  // with those Create removed to make room since the last sweep.
  std::vector<Values> Sweep(bool all = false);
  // Each live session's values, for reading (who is logged in).
  std::vector<Values> Live();

  Duration timeout() const { return timeout_; }
  size_t limit() const { return limit_; }
  size_t size();

 private:
  struct Entry {
    Values values;
    TimePoint last_used;
  };
  // A fresh id no session has.  REQUIRES: mutex_ held.
  std::string NewId() const;
  // At the limit, removes the expired sessions (for Sweep); true when a
  // session may be added.  REQUIRES: mutex_ held.
  bool MakeRoom(TimePoint now, size_t limit);

  const Duration timeout_;
  const std::function<void(SessionValues&)> init_;
  const size_t limit_;
  const Clock& clock_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> sessions_;
  std::vector<Values> ended_;             // expired ones removed by Create, for Sweep
  TimePoint no_expiry_before_{};          // while full: no session expires earlier
};

// Session value helpers: text ("" when missing) and integers (0 when missing
// or not a number).
std::string SessionText(const SessionValues& values, std::string_view key);
long long SessionNumber(const SessionValues& values, std::string_view key);

}  // namespace zelto::serve
