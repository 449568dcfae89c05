// Abuse limits: how much one visitor, one client address or the whole site
// may take, each with its default (an option of `zelto serve`, see
// docs/security.md). RateLimiter is a token bucket per key: `per_second`
// tokens come back each second up to `burst`; a take that finds none says
// how long until one is there. Keys no longer limited are dropped once many
// are held, so memory stays bounded whatever callers send. Thread-safe;
// time is the injected clock's.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "host/serve/clock.h"

namespace zelto::serve {

struct AbuseLimits {
  double message_rate = 1;     // a visitor's messages per second, after...
  double message_burst = 10;   // ...this many at once; 0 rate: no limit
  uint64_t upload_session_bytes = 10ull << 20;   // per visitor session
  uint64_t upload_address_bytes = 100ull << 20;  // per client address and hour
  uint64_t files_bytes = 1ull << 30;             // the attachments folder in all
  size_t sessions_per_address = 100;  // visitor sessions one client address holds
  size_t login_id_failures = 10;       // in a row for one operator id: then locked
  size_t login_address_failures = 50;  // by one address, any ids: then locked
};

class RateLimiter {
 public:
  RateLimiter(const Clock& clock, double per_second, double burst);

  // Nullopt when `key` may go on now (a token taken), else the wait.
  std::optional<Duration> Take(const std::string& key);

 private:
  struct Bucket {
    double tokens;
    TimePoint at;
  };
  void Refill(Bucket& bucket, TimePoint now) const;

  const Clock& clock_;
  const double per_second_, burst_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

// Bytes uploaded per client address in the current hour, and the bytes the
// attachments folder holds. Reserve() counts an upload before it is written
// (so two at once cannot both pass the cap) and Release() gives back one
// that was not stored.
class UploadQuota {
 public:
  UploadQuota(const Clock& clock, uint64_t per_address_hour, uint64_t folder_cap,
              uint64_t folder_bytes);

  enum class Verdict { kAllowed, kAddressFull, kFolderFull };
  Verdict Reserve(const std::string& address, uint64_t bytes);
  void Release(const std::string& address, uint64_t bytes);
  // Files removed from the folder (a purge).
  void Removed(uint64_t bytes);

 private:
  struct Window {
    TimePoint start;
    uint64_t bytes = 0;
  };
  const Clock& clock_;
  const uint64_t per_address_, folder_cap_;
  std::mutex mutex_;
  uint64_t folder_bytes_;
  std::unordered_map<std::string, Window> addresses_;
};

// The bytes of the regular files directly in `dir` (0 when it is missing).
uint64_t FolderBytes(const std::string& dir);

}  // namespace zelto::serve
