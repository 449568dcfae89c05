// LongPoll: poll requests held until something happens in their
// conversation. A held request costs a timer on the io_context (by the
// given Clock), never a thread. Each one ends exactly once, with its `done` called on the
// io_context's thread: woken (a post in its conversation, or a recheck while
// notifications from other hosts may be missed: run the poll again), its
// time up, the host stopping, or its client gone. At most `max_held` are
// held at once; beyond that, and once stopping, Hold refuses.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "host/serve/clock.h"
#include "host/serve/http_server.h"
#include "platform/com/hresult.h"

namespace zelto::serve {

class LongPoll {
 public:
  enum class Outcome { kWoken, kTimeUp, kStopped, kGone };
  using Done = std::function<void(Outcome)>;

  // `recheck`: how often a held poll runs again while notifications are not
  // reliable (SetNotificationsReliable(false)). `clock` must outlive this.
  LongPoll(boost::asio::io_context& io, size_t max_held,
           std::chrono::milliseconds recheck = std::chrono::seconds(2),
           const Clock& clock = SystemClock());
  ~LongPoll();
  LongPoll(const LongPoll&) = delete;
  LongPoll& operator=(const LongPoll&) = delete;

  // The number of wakes so far: take it before running the poll and give it
  // to Hold, so that a post between the poll's select and Hold is not missed.
  uint64_t Sequence() const;
  // Holds a request of conversation `cid` until `deadline`; woken at once
  // when `cid` was woken after `since`. False (and `done` never called) when
  // full or stopping. `watch` may be null.
  bool Hold(LONG cid, uint64_t since, TimePoint deadline, Done done,
            const std::shared_ptr<ClientWatch>& watch);
  void Wake(LONG cid);
  void WakeAll();
  // Whether every post that matters reaches Wake (false while the link to
  // other hosts is down). A change wakes every held request, which then
  // waits again under the new rule.
  void SetNotificationsReliable(bool reliable);
  // Ends every held request (kStopped) and refuses new ones.
  void Stop();
  size_t held() const;
  bool notifications_reliable() const;

 private:
  struct Waiter;
  void Arm(const std::shared_ptr<Waiter>& waiter);
  void Finish(uint64_t id, Outcome outcome);
  bool WokenSince(LONG cid, uint64_t since) const;  // REQUIRES: mutex_ held
  void RecordWake(LONG cid, bool all);              // REQUIRES: mutex_ held

  boost::asio::io_context& io_;
  const size_t max_held_;
  const std::chrono::milliseconds recheck_;
  const Clock& clock_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  bool reliable_ = true;
  uint64_t next_id_ = 1;
  uint64_t sequence_ = 0;
  struct WakeRecord {
    uint64_t sequence;
    LONG cid;
    bool all;
  };
  std::deque<WakeRecord> recent_;  // the last wakes, to answer WokenSince
  std::unordered_map<uint64_t, std::shared_ptr<Waiter>> waiters_;
  std::unordered_map<LONG, std::set<uint64_t>> by_cid_;
};

// The longest a poll is held, in seconds.
inline constexpr int kMaxPollWait = 25;

// Takes every "wait" parameter (its name compared without regard to case or
// %-escapes) out of a raw query string, leaving the rest as it was. The
// seconds asked for, at most kMaxPollWait (0 for a value that is not a
// number), or nullopt when none was there.
std::optional<int> TakeWaitParameter(std::string* query);

}  // namespace zelto::serve
