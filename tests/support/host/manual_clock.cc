#include "tests/support/host/manual_clock.h"

#include <algorithm>
#include <atomic>
#include <boost/asio/post.hpp>
#include <functional>
#include <vector>

namespace zelto::testing {

struct ManualClock::Slot {
  explicit Slot(boost::asio::io_context& i) : io(i) {}
  boost::asio::io_context& io;
  // Under the clock's mutex:
  bool armed = false;
  serve::TimePoint when;
  std::function<void()> fired;
  // Bumped by every WaitUntil and Cancel (on the io thread): a posted wait
  // whose generation is past no longer counts.
  std::atomic<uint64_t> generation{0};
};

class ManualTimer : public serve::Timer {
 public:
  ManualTimer(const ManualClock& clock, boost::asio::io_context& io)
      : clock_(clock), slot_(std::make_shared<ManualClock::Slot>(io)) {
    std::lock_guard lock(clock_.mutex_);
    clock_.slots_.insert(slot_);
  }
  ~ManualTimer() override {
    Cancel();
    std::lock_guard lock(clock_.mutex_);
    clock_.slots_.erase(slot_);
  }

  void WaitUntil(serve::TimePoint when, std::function<void()> fired) override {
    std::lock_guard lock(clock_.mutex_);
    ++slot_->generation;
    slot_->armed = true;
    slot_->when = when;
    slot_->fired = std::move(fired);
    clock_.PostDue();
  }

  void Cancel() override {
    std::lock_guard lock(clock_.mutex_);
    ++slot_->generation;
    slot_->armed = false;
    slot_->fired = nullptr;
  }

 private:
  const ManualClock& clock_;
  std::shared_ptr<ManualClock::Slot> slot_;
};

ManualClock::ManualClock() : now_(serve::TimePoint{} + std::chrono::hours(24)) {}

ManualClock::~ManualClock() = default;

serve::TimePoint ManualClock::Now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

std::unique_ptr<serve::Timer> ManualClock::NewTimer(boost::asio::io_context& io) const {
  return std::make_unique<ManualTimer>(*this, io);
}

void ManualClock::Advance(serve::Duration step) {
  std::lock_guard lock(mutex_);
  now_ += step;
  PostDue();
}

size_t ManualClock::waiting() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(
      std::count_if(slots_.begin(), slots_.end(), [](const auto& slot) { return slot->armed; }));
}

void ManualClock::PostDue() const {
  std::vector<std::shared_ptr<Slot>> due;
  for (const auto& slot : slots_) {
    if (slot->armed && slot->when <= now_) due.push_back(slot);
  }
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->when < b->when; });
  for (const auto& slot : due) {
    slot->armed = false;
    const uint64_t generation = slot->generation.load();
    boost::asio::post(slot->io, [slot, generation, fired = std::move(slot->fired)] {
      if (slot->generation.load() == generation) fired();
    });
    slot->fired = nullptr;
  }
}

}  // namespace zelto::testing
