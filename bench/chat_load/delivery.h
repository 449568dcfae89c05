// Message delivery as the two sides of a chat see it. Every message the load
// posts carries a mark with its id ("zlm<id>z") in its text; a poll answer is
// searched for marks, and the time from the post being sent to its text being
// seen by the other side is the message's delivery latency. A message posted
// before the receiving window's first poll was sent (an operator who had not
// opened the new chat yet) is counted as picked up, not as a latency sample:
// that wait belongs to the console refresh, not to delivery.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace chatload {

using Clock = std::chrono::steady_clock;

enum Direction { kToOperator = 0, kToVisitor = 1 };

// Samples in milliseconds and their nearest-rank percentiles.
class Latencies {
 public:
  void Add(double ms) { samples_.push_back(ms); sorted_ = false; }
  size_t Count() const { return samples_.size(); }
  double Percentile(double p);  // 0 when empty; p in [0, 100]
  double Max() { return Percentile(100); }
  void Merge(const Latencies& other);

 private:
  std::vector<double> samples_;
  bool sorted_ = true;
};

// The text of message `id` ("zlm<id>z" and a line a person would type) and
// the same `%u`-escaped the way the chat pages send msgContent.
std::string MessageText(uint64_t id, Direction direction);
std::string EscapeForPage(std::u16string_view text);
// The ids of every mark in `body`, in order.
std::vector<uint64_t> FindMessageIds(std::string_view body);

class DeliveryBook {
 public:
  struct Counts {
    uint64_t posted[2] = {0, 0};     // post answered as stored
    uint64_t failed[2] = {0, 0};     // post failed or not stored
    uint64_t delivered[2] = {0, 0};  // seen by the other side
    uint64_t picked_up[2] = {0, 0};  // seen, but posted before the window polled
  };

  // A new message about to be sent into `cid`; returns its id.
  uint64_t Posting(Direction direction, long cid, Clock::time_point now);
  void Stored(uint64_t id);
  void NotStored(uint64_t id);
  // The marks of `body`, a poll answer of the receiving side of `direction`
  // in `cid`, whose window sent its first poll at `window_opened`. Records
  // each message seen for the first time; returns their ids.
  std::vector<uint64_t> Seen(Direction direction, long cid, std::string_view body,
                             Clock::time_point now, Clock::time_point window_opened);
  // Stored messages nobody has seen yet; those in conversations for which
  // `attended` is false are counted apart (no window could have seen them).
  struct Unseen {
    uint64_t attended = 0;
    uint64_t unattended = 0;
  };
  Unseen CountUnseen(const std::function<bool(long cid)>& attended) const;

  const Counts& counts() const { return counts_; }
  Latencies& latency(Direction direction) { return latency_[direction]; }
  Latencies& pickup_wait(Direction direction) { return pickup_wait_[direction]; }

 private:
  struct Pending {
    Direction direction;
    long cid;
    Clock::time_point sent;
    bool stored = false;
    bool seen = false;
  };

  uint64_t next_id_ = 1;
  std::unordered_map<uint64_t, Pending> pending_;
  Counts counts_;
  Latencies latency_[2];
  Latencies pickup_wait_[2];
};

}  // namespace chatload
