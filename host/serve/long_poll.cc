#include "host/serve/long_poll.h"

#include <algorithm>
#include <boost/asio/post.hpp>
#include <string_view>
#include <vector>

#include "platform/asp/percent_decoding.h"
#include "platform/com/ascii.h"

namespace zelto::serve {

namespace asio = boost::asio;

namespace {
// Enough for every wake between a poll's start and its Hold; an older
// `since` counts as woken (the poll just runs once more).
constexpr size_t kRecentWakes = 4096;

// A parameter name with its %-escapes decoded (as a query string is read:
// '+' a blank, a bad escape kept as written) and ASCII letters lowered.
std::string PlainName(std::string_view name) {
  return LowerAscii(DecodePercentEscapes(name, PercentDecodingRules{}).value_or(std::string()));
}

int WaitSeconds(std::string_view value) {
  int seconds = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return 0;
    seconds = std::min(seconds * 10 + (c - '0'), kMaxPollWait);
  }
  return seconds;
}

}  // namespace

std::optional<int> TakeWaitParameter(std::string* query) {
  std::optional<int> wait;
  std::vector<std::string_view> kept;
  std::string_view rest = *query;
  while (true) {
    const size_t amp = rest.find('&');
    const std::string_view piece = rest.substr(0, amp);
    const size_t eq = piece.find('=');
    if (PlainName(piece.substr(0, eq)) == "wait") {
      if (!wait) wait = eq == std::string_view::npos ? 0 : WaitSeconds(piece.substr(eq + 1));
    } else {
      kept.push_back(piece);
    }
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
  if (!wait) return wait;
  std::string joined;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i) joined += '&';
    joined += kept[i];
  }
  *query = std::move(joined);
  return wait;
}

struct LongPoll::Waiter {
  Waiter(std::unique_ptr<Timer> t, uint64_t i, LONG c, TimePoint d, Done f)
      : id(i), cid(c), deadline(d), done(std::move(f)), timer(std::move(t)) {}
  const uint64_t id;
  const LONG cid;
  const TimePoint deadline;
  Done done;
  std::unique_ptr<Timer> timer;  // used on the io thread only
  bool ended = false;            // on the io thread only
};

LongPoll::LongPoll(asio::io_context& io, size_t max_held, std::chrono::milliseconds recheck,
                   const Clock& clock)
    : io_(io), max_held_(max_held), recheck_(recheck), clock_(clock) {}

LongPoll::~LongPoll() = default;

uint64_t LongPoll::Sequence() const {
  std::lock_guard lock(mutex_);
  return sequence_;
}

size_t LongPoll::held() const {
  std::lock_guard lock(mutex_);
  return waiters_.size();
}

bool LongPoll::notifications_reliable() const {
  std::lock_guard lock(mutex_);
  return reliable_;
}

bool LongPoll::WokenSince(LONG cid, uint64_t since) const {
  if (sequence_ == since) return false;
  if (recent_.empty() || recent_.front().sequence > since + 1) return true;
  for (auto it = recent_.rbegin(); it != recent_.rend() && it->sequence > since; ++it) {
    if (it->all || it->cid == cid) return true;
  }
  return false;
}

void LongPoll::RecordWake(LONG cid, bool all) {
  recent_.push_back({++sequence_, cid, all});
  if (recent_.size() > kRecentWakes) recent_.pop_front();
}

bool LongPoll::Hold(LONG cid, uint64_t since, TimePoint deadline, Done done,
                    const std::shared_ptr<ClientWatch>& watch) {
  std::shared_ptr<Waiter> waiter;
  bool woken = false;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || waiters_.size() >= max_held_) return false;
    waiter =
        std::make_shared<Waiter>(clock_.NewTimer(io_), next_id_++, cid, deadline, std::move(done));
    waiters_.emplace(waiter->id, waiter);
    by_cid_[cid].insert(waiter->id);
    woken = WokenSince(cid, since);
  }
  if (woken) {
    Finish(waiter->id, Outcome::kWoken);
    return true;
  }
  asio::post(io_, [this, waiter] { Arm(waiter); });
  if (watch) watch->OnGone([this, id = waiter->id] { Finish(id, Outcome::kGone); });
  return true;
}

// On the io thread.
void LongPoll::Arm(const std::shared_ptr<Waiter>& waiter) {
  if (waiter->ended) return;
  bool reliable;
  {
    std::lock_guard lock(mutex_);
    reliable = reliable_;
  }
  const TimePoint now = clock_.Now();
  const bool recheck = !reliable && now + recheck_ < waiter->deadline;
  // The timer's callback holds the waiter only by id: a waiter that owned
  // a callback owning itself would never be freed.
  waiter->timer->WaitUntil(recheck ? now + recheck_ : waiter->deadline,
                           [this, id = waiter->id, recheck] {
                             Finish(id, recheck ? Outcome::kWoken : Outcome::kTimeUp);
                           });
}

void LongPoll::Finish(uint64_t id, Outcome outcome) {
  std::shared_ptr<Waiter> waiter;
  {
    std::lock_guard lock(mutex_);
    auto it = waiters_.find(id);
    if (it == waiters_.end()) return;  // ended already
    waiter = std::move(it->second);
    waiters_.erase(it);
    auto cid = by_cid_.find(waiter->cid);
    cid->second.erase(id);
    if (cid->second.empty()) by_cid_.erase(cid);
  }
  asio::post(io_, [waiter, outcome] {
    waiter->ended = true;
    waiter->timer->Cancel();
    Done done = std::move(waiter->done);
    waiter->done = nullptr;
    done(outcome);
  });
}

void LongPoll::Wake(LONG cid) {
  std::vector<uint64_t> ids;
  {
    std::lock_guard lock(mutex_);
    RecordWake(cid, false);
    auto it = by_cid_.find(cid);
    if (it != by_cid_.end()) ids.assign(it->second.begin(), it->second.end());
  }
  for (uint64_t id : ids) Finish(id, Outcome::kWoken);
}

void LongPoll::WakeAll() {
  std::vector<uint64_t> ids;
  {
    std::lock_guard lock(mutex_);
    RecordWake(0, true);
    for (const auto& [id, waiter] : waiters_) ids.push_back(id);
  }
  for (uint64_t id : ids) Finish(id, Outcome::kWoken);
}

void LongPoll::SetNotificationsReliable(bool reliable) {
  {
    std::lock_guard lock(mutex_);
    if (reliable_ == reliable) return;
    reliable_ = reliable;
  }
  WakeAll();
}

void LongPoll::Stop() {
  std::vector<uint64_t> ids;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const auto& [id, waiter] : waiters_) ids.push_back(id);
  }
  for (uint64_t id : ids) Finish(id, Outcome::kStopped);
}

}  // namespace zelto::serve
