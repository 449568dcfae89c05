#include "bench/chat_load/delivery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace chatload {

double Latencies::Percentile(double p) {
  if (samples_.empty()) return 0;
  if (!sorted_) {
    std::sort(samples_.begin(), samples_.end());
    sorted_ = true;
  }
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples_.size()));
  const size_t index = rank < 1 ? 0 : static_cast<size_t>(rank) - 1;
  return samples_[std::min(index, samples_.size() - 1)];
}

void Latencies::Merge(const Latencies& other) {
  samples_.insert(samples_.end(), other.samples_.begin(), other.samples_.end());
  sorted_ = samples_.empty();
}

std::string EscapeForPage(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 6);
  char unit[8];
  for (char16_t c : text) {
    std::snprintf(unit, sizeof unit, "%%u%04X", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

std::string MessageText(uint64_t id, Direction direction) {
  static const char* const kLines[2][3] = {
      {"您好，请问这款产品支持多少人同时在线？", "价格怎么算？", "好的，谢谢！"},
      {"您好！标准版支持10个客服同时在线。", "请稍等，我帮您查一下。", "不客气，祝您愉快！"}};
  return "zlm" + std::to_string(id) + "z " + kLines[direction][id % 3];
}

std::vector<uint64_t> FindMessageIds(std::string_view body) {
  std::vector<uint64_t> ids;
  for (size_t at = body.find("zlm"); at != std::string_view::npos; at = body.find("zlm", at + 3)) {
    uint64_t id = 0;
    size_t i = at + 3;
    const size_t digits_start = i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9' && i - digits_start < 19)
      id = id * 10 + (body[i++] - '0');
    if (i > digits_start && i < body.size() && body[i] == 'z') ids.push_back(id);
  }
  return ids;
}

uint64_t DeliveryBook::Posting(Direction direction, long cid, Clock::time_point now) {
  const uint64_t id = next_id_++;
  pending_.emplace(id, Pending{direction, cid, now});
  return id;
}

void DeliveryBook::Stored(uint64_t id) {
  auto found = pending_.find(id);
  if (found == pending_.end()) return;
  ++counts_.posted[found->second.direction];
  found->second.stored = true;
  if (found->second.seen) pending_.erase(found);
}

void DeliveryBook::NotStored(uint64_t id) {
  auto found = pending_.find(id);
  if (found == pending_.end()) return;
  ++counts_.failed[found->second.direction];
  pending_.erase(found);
}

std::vector<uint64_t> DeliveryBook::Seen(Direction direction, long cid, std::string_view body,
                                         Clock::time_point now, Clock::time_point window_opened) {
  std::vector<uint64_t> seen;
  for (uint64_t id : FindMessageIds(body)) {
    auto found = pending_.find(id);
    if (found == pending_.end() || found->second.seen || found->second.direction != direction ||
        found->second.cid != cid)
      continue;
    Pending& message = found->second;
    message.seen = true;
    const double ms = std::chrono::duration<double, std::milli>(now - message.sent).count();
    ++counts_.delivered[direction];
    if (message.sent < window_opened) {
      ++counts_.picked_up[direction];
      pickup_wait_[direction].Add(ms);
    } else {
      latency_[direction].Add(ms);
    }
    seen.push_back(id);
    // Kept until its post is answered, so that a late answer still counts it.
    if (message.stored) pending_.erase(found);
  }
  return seen;
}

DeliveryBook::Unseen DeliveryBook::CountUnseen(
    const std::function<bool(long cid)>& attended) const {
  Unseen unseen;
  for (const auto& [id, message] : pending_) {
    if (!message.stored || message.seen) continue;
    // A visitor's window is open from the start; an operator's may never be.
    if (message.direction == kToVisitor || attended(message.cid)) {
      ++unseen.attended;
    } else {
      ++unseen.unattended;
    }
  }
  return unseen;
}

}  // namespace chatload
