#include "host/serve/login_throttle.h"

#include <algorithm>

namespace zelto::serve {
namespace {

constexpr size_t kMaxKeys = 100000;

}  // namespace

LoginThrottle::LoginThrottle(const Clock& clock, size_t id_threshold, size_t address_threshold)
    : clock_(clock),
      id_threshold_(std::max<size_t>(id_threshold, 1)),
      address_threshold_(std::max<size_t>(address_threshold, 1)) {}

std::optional<Duration> LoginThrottle::Refused(long id, const std::string& address) {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  TimePoint until = now;
  if (auto it = ids_.find(id); it != ids_.end()) until = std::max(until, it->second.locked_until);
  if (auto it = addresses_.find(address); it != addresses_.end())
    until = std::max(until, it->second.locked_until);
  if (until <= now) return std::nullopt;
  return until - now;
}

bool LoginThrottle::Count(Record& record, size_t threshold, TimePoint now) const {
  // An address forgets its failures after a quiet spell as long as the
  // longest lock.
  if (record.failures > 0 && now - record.last_failure >= kLongestLock) record.failures = 0;
  ++record.failures;
  record.last_failure = now;
  if (record.failures < threshold) return false;
  Duration lock = kFirstLock;
  for (size_t n = threshold; n < record.failures && lock < kLongestLock; ++n) lock *= 2;
  record.locked_until = now + std::min(lock, kLongestLock);
  return record.failures == threshold;
}

bool LoginThrottle::Failed(long id, const std::string& address) {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  Sweep(now);
  const bool id_locks = Count(ids_[id], id_threshold_, now);
  const bool address_locks = Count(addresses_[address], address_threshold_, now);
  return id_locks || address_locks;
}

void LoginThrottle::Succeeded(long id) {
  std::lock_guard lock(mutex_);
  ids_.erase(id);
}

void LoginThrottle::Sweep(TimePoint now) {
  if (ids_.size() + addresses_.size() < kMaxKeys) return;
  auto at_rest = [&](const auto& entry) {
    return entry.second.locked_until <= now && now - entry.second.last_failure >= kLongestLock;
  };
  std::erase_if(ids_, at_rest);
  std::erase_if(addresses_, at_rest);
}

}  // namespace zelto::serve
