#include "host/serve/clock.h"

#include <boost/asio/steady_timer.hpp>

namespace zelto::serve {
namespace {

class SteadyTimer : public Timer {
 public:
  explicit SteadyTimer(boost::asio::io_context& io) : timer_(io) {}
  ~SteadyTimer() override { ++state_->generation; }

  void WaitUntil(TimePoint when, std::function<void()> fired) override {
    const uint64_t generation = ++state_->generation;
    timer_.expires_at(when);
    // A wait that expired before a Cancel is still run by Asio, with
    // success: the generation tells that it no longer counts.
    timer_.async_wait([state = state_, generation,
                       fired = std::move(fired)](const boost::system::error_code& ec) {
      if (!ec && state->generation == generation) fired();
    });
  }

  void Cancel() override {
    ++state_->generation;
    timer_.cancel();
  }

 private:
  struct State {
    uint64_t generation = 0;  // on the io_context's thread only
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
  boost::asio::steady_timer timer_;
};

class SteadyClock : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  std::unique_ptr<Timer> NewTimer(boost::asio::io_context& io) const override {
    return std::make_unique<SteadyTimer>(io);
  }
};

}  // namespace

const Clock& SystemClock() {
  static const SteadyClock clock;
  return clock;
}

Duration Seconds(double seconds) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

}  // namespace zelto::serve
