// Clock: the time the host measures its timeouts in (sessions left unused,
// held polls, repeated failures) and timers that fire by that time on an
// io_context. SystemClock() is std::chrono::steady_clock with Asio's steady
// timers; a test gives a clock of its own whose time moves only when the
// test says, so that expiry is tested without waiting for it.
#pragma once

#include <boost/asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>

namespace zelto::serve {

using TimePoint = std::chrono::steady_clock::time_point;
using Duration = std::chrono::steady_clock::duration;

// One wait at a time, like an Asio timer: used on its io_context's thread
// only, and destroyed there or once that io_context has stopped. A timer
// must not outlive the clock that made it.
class Timer {
 public:
  virtual ~Timer() = default;
  // Calls `fired` on the io_context's thread once the clock has reached
  // `when` (soon when it already has). A Cancel, another WaitUntil or the
  // timer's end before then means `fired` is never called.
  virtual void WaitUntil(TimePoint when, std::function<void()> fired) = 0;
  virtual void Cancel() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  virtual std::unique_ptr<Timer> NewTimer(boost::asio::io_context& io) const = 0;
};

// std::chrono::steady_clock; one object for the whole process.
const Clock& SystemClock();

// A duration of `seconds` (fractions allowed) in the clock's unit.
Duration Seconds(double seconds);

}  // namespace zelto::serve
