#include "host/serve/abuse_limits.h"

#include <algorithm>
#include <filesystem>

namespace zelto::serve {
namespace {

// Above this many keys, those back at rest are dropped.
constexpr size_t kMaxKeys = 100000;
constexpr auto kHour = std::chrono::hours(1);

}  // namespace

RateLimiter::RateLimiter(const Clock& clock, double per_second, double burst)
    : clock_(clock), per_second_(per_second), burst_(std::max(burst, 1.0)) {}

void RateLimiter::Refill(Bucket& bucket, TimePoint now) const {
  const double seconds = std::chrono::duration<double>(now - bucket.at).count();
  bucket.tokens = std::min(burst_, bucket.tokens + seconds * per_second_);
  bucket.at = now;
}

std::optional<Duration> RateLimiter::Take(const std::string& key) {
  if (per_second_ <= 0) return std::nullopt;
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  if (buckets_.size() >= kMaxKeys) {
    // A bucket full again is no different from a new one.
    std::erase_if(buckets_, [&](const auto& entry) {
      Bucket bucket = entry.second;
      Refill(bucket, now);
      return bucket.tokens >= burst_;
    });
  }
  auto [it, added] = buckets_.try_emplace(key, Bucket{burst_, now});
  Bucket& bucket = it->second;
  Refill(bucket, now);
  if (bucket.tokens >= 1) {
    bucket.tokens -= 1;
    return std::nullopt;
  }
  return Seconds((1 - bucket.tokens) / per_second_);
}

UploadQuota::UploadQuota(const Clock& clock, uint64_t per_address_hour, uint64_t folder_cap,
                         uint64_t folder_bytes)
    : clock_(clock),
      per_address_(per_address_hour),
      folder_cap_(folder_cap),
      folder_bytes_(folder_bytes) {}

UploadQuota::Verdict UploadQuota::Reserve(const std::string& address, uint64_t bytes) {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  if (addresses_.size() >= kMaxKeys)
    std::erase_if(addresses_, [&](const auto& entry) { return now - entry.second.start >= kHour; });
  Window& window = addresses_.try_emplace(address, Window{now, 0}).first->second;
  if (now - window.start >= kHour) window = Window{now, 0};
  if (window.bytes + bytes > per_address_) return Verdict::kAddressFull;
  if (folder_bytes_ + bytes > folder_cap_) return Verdict::kFolderFull;
  window.bytes += bytes;
  folder_bytes_ += bytes;
  return Verdict::kAllowed;
}

void UploadQuota::Release(const std::string& address, uint64_t bytes) {
  std::lock_guard lock(mutex_);
  folder_bytes_ -= std::min(folder_bytes_, bytes);
  if (auto it = addresses_.find(address); it != addresses_.end())
    it->second.bytes -= std::min(it->second.bytes, bytes);
}

void UploadQuota::Removed(uint64_t bytes) {
  std::lock_guard lock(mutex_);
  folder_bytes_ -= std::min(folder_bytes_, bytes);
}

uint64_t FolderBytes(const std::string& dir) {
  uint64_t total = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    std::error_code size_ec;
    if (entry.is_regular_file(size_ec)) {
      const auto size = entry.file_size(size_ec);
      if (!size_ec) total += size;
    }
  }
  return total;
}

}  // namespace zelto::serve
