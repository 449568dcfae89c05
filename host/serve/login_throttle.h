// LoginThrottle: growing delays for operator logins that keep failing.
// From the `id_threshold`-th failure in a row for one operator id, every
// attempt for that id (the right password included) is refused for a
// period that starts at 1 s and doubles with each further failure, up to
// 15 minutes; a success resets the id. One client address is treated the
// same way with its own, higher, threshold over all the ids it tries (a
// success does not reset it; 15 minutes without a failure do), so that one
// address cannot guess many ids either. Thread-safe; time is the injected
// clock's. Memory stays bounded: keys at rest are dropped once many are
// held.
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "host/serve/clock.h"

namespace zelto::serve {

class LoginThrottle {
 public:
  static constexpr Duration kFirstLock = std::chrono::seconds(1);
  static constexpr Duration kLongestLock = std::chrono::minutes(15);

  LoginThrottle(const Clock& clock, size_t id_threshold, size_t address_threshold);

  // Nullopt when an attempt of `id` from `address` may be checked now, else
  // how long until it may.
  std::optional<Duration> Refused(long id, const std::string& address);

  // The outcome of a checked attempt. Failed() returns true when this
  // failure began a locked episode (for the one log line per episode).
  bool Failed(long id, const std::string& address);
  void Succeeded(long id);

 private:
  struct Record {
    size_t failures = 0;
    TimePoint last_failure{};
    TimePoint locked_until{};
  };
  // Counts a failure; true when it starts locking.
  bool Count(Record& record, size_t threshold, TimePoint now) const;
  void Sweep(TimePoint now);  // REQUIRES: mutex_ held

  const Clock& clock_;
  const size_t id_threshold_, address_threshold_;
  std::mutex mutex_;
  std::unordered_map<long, Record> ids_;
  std::unordered_map<std::string, Record> addresses_;
};

}  // namespace zelto::serve
