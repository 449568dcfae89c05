// FailureLog: one log line per kind of failure, not one per request. A
// failure is what failed ("chat database", "POST /api/visitor/chat") and its
// cause (the engine's message). Its first occurrence is written at once;
// identical ones are counted, not written. Flush(), called every second or
// so, writes the count of a failure still happening once per `interval`, and
// a closing line with the count when it has not happened for `interval`
// (it is over, or nothing asked for it). Thread-safe; never blocks on
// anything but its own lock and the log stream.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "host/serve/clock.h"

namespace zelto::serve {

class FailureLog {
 public:
  // Takes one line without its end.
  using LineWriter = std::function<void(const std::string& line)>;

  // Lines go to `out` (stderr in the host) with `prefix` in front; times are
  // `clock`'s, which must outlive the log.
  FailureLog(FILE* out, Duration interval,
             std::string prefix = "zelto serve: ", const Clock& clock = SystemClock());
  // Lines go to `write` (a timestamped log) instead.
  FailureLog(LineWriter write, Duration interval, std::string prefix, const Clock& clock);

  void Failed(std::string_view what, std::string_view cause);
  void Flush();
  // At the end: the counts not yet written.
  void Summarize();

  // Failures being counted (at most kMaxTracked).
  size_t tracked();
  static constexpr size_t kMaxTracked = 256;

 private:
  struct Entry {
    TimePoint first, last, reported;
    unsigned long long total = 0, unreported = 0;
  };
  void Write(const std::string& line);

  const LineWriter write_;  // null: nothing is written
  const Duration interval_;
  const std::string prefix_;
  const Clock& clock_;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, Entry> entries_;
  unsigned long long untracked_ = 0;  // failures beyond kMaxTracked kinds, written singly
};

}  // namespace zelto::serve
