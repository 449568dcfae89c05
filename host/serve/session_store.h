// SessionStore: the site's sessions in memory, by a random id (128 bits from
// the system's random source, as 32 hex digits). A session lasts until it
// has not been used for the timeout. Ending a session (timeout, logout, the
// server's stop) hands its values back to the caller, who does the web
// application's work for it; the store itself never touches a database.
// Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/asp/session_values.h"

namespace zelto::serve {

// 128 random bits as 32 lower-case hex digits (session ids, tokens).
std::string RandomHex128();

class SessionStore {
 public:
  using Clock = std::chrono::steady_clock;
  using Values = std::shared_ptr<SessionValues>;

  // `init` fills each new session's values (the database settings).
  SessionStore(Clock::duration timeout, std::function<void(SessionValues&)> init);

  // The live session `id`, now marked used; null when unknown or expired
  // (an expired one is left for Sweep to end).
  Values Find(std::string_view id);
  // A new session; `id` receives its id.
  Values Create(std::string* id);
  // Moves the session to a new id (after a login); empty when unknown.
  std::string Reissue(std::string_view id);
  // Ends one session now; null when unknown.
  Values End(std::string_view id);
  // Ends every session unused for the timeout (all of them with `all`).
  std::vector<Values> Sweep(bool all = false);
  // Each live session's values, for reading (who is logged in).
  std::vector<Values> Live();

  Clock::duration timeout() const { return timeout_; }

 private:
  struct Entry {
    Values values;
    Clock::time_point last_used;
  };
  const Clock::duration timeout_;
  const std::function<void(SessionValues&)> init_;
  std::mutex mutex_;
  std::unordered_map<std::string, Entry> sessions_;
};

// Session value helpers: text ("" when missing) and integers (0 when missing
// or not a number).
std::string SessionText(const SessionValues& values, std::string_view key);
long long SessionNumber(const SessionValues& values, std::string_view key);

}  // namespace zelto::serve
