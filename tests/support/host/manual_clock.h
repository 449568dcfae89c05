// ManualClock: a Clock whose time moves only by Advance, for tests of what
// the host does when time passes (sessions expiring, held polls timing out,
// failure counts written). A wait that comes due is posted to its timer's
// io_context, earliest first, where it runs like an Asio timer's handler.
// Thread-safe: the test advances time while the io_context runs elsewhere.
#pragma once

#include <memory>
#include <mutex>
#include <set>

#include "host/serve/clock.h"

namespace zelto::testing {

class ManualClock : public serve::Clock {
 public:
  ManualClock();
  ~ManualClock() override;

  serve::TimePoint Now() const override;
  std::unique_ptr<serve::Timer> NewTimer(boost::asio::io_context& io) const override;

  // Moves the time on by `step`, posting every wait due by then.
  void Advance(serve::Duration step);
  // Waits not yet due.
  size_t waiting() const;

  struct Slot;  // one timer's wait, shared with the timer

 private:
  friend class ManualTimer;
  void PostDue() const;  // REQUIRES: mutex_ held

  mutable std::mutex mutex_;
  serve::TimePoint now_;
  mutable std::set<std::shared_ptr<Slot>> slots_;  // of the timers alive
};

}  // namespace zelto::testing
