#include "host/serve/failure_log.h"

namespace zelto::serve {
namespace {

// Causes come from engines and other programs: one line each, whatever
// they hold.
std::string OneLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  return line;
}

long long WholeSeconds(Duration d) {
  return std::chrono::duration_cast<std::chrono::seconds>(d).count();
}

constexpr char kOverflow[] = "other failures";

}  // namespace

FailureLog::FailureLog(FILE* out, Duration interval, std::string prefix, const Clock& clock)
    : FailureLog(out ? LineWriter([out](const std::string& line) {
                   const std::string text = line + "\n";
                   std::fwrite(text.data(), 1, text.size(), out);
                   std::fflush(out);
                 })
                     : LineWriter(),
                 interval, std::move(prefix), clock) {}

FailureLog::FailureLog(LineWriter write, Duration interval, std::string prefix, const Clock& clock)
    : write_(std::move(write)), interval_(interval), prefix_(std::move(prefix)), clock_(clock) {}

void FailureLog::Failed(std::string_view what, std::string_view cause) {
  const TimePoint now = clock_.Now();
  std::pair<std::string, std::string> key{OneLine(what), OneLine(cause)};
  std::lock_guard lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    const bool full = entries_.size() >= kMaxTracked;
    // Past the limit every new kind is counted under one entry, so that
    // endlessly varying causes cannot grow the table or flood the log.
    if (full) key = {kOverflow, "kinds of failure beyond the first " + std::to_string(kMaxTracked)};
    auto [at, added] = entries_.try_emplace(key, Entry{now, now, now, 0, 0});
    it = at;
    if (added)
      Write(key.first + ": " + key.second);
    else
      ++it->second.unreported;
  } else {
    ++it->second.unreported;
  }
  ++it->second.total;
  it->second.last = now;
}

void FailureLog::Flush() {
  const TimePoint now = clock_.Now();
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    const auto& [key, entry] = *it;
    const std::string head = key.first + ": " + key.second;
    if (now - entry.last >= interval_) {
      Write(head + ": not seen for " + std::to_string(WholeSeconds(now - entry.last)) + " s (" +
            std::to_string(entry.total) + (entry.total == 1 ? " time" : " times") + " in all)");
      it = entries_.erase(it);
      continue;
    }
    if (entry.unreported > 0 && now - entry.reported >= interval_) {
      Write(head + " (" + std::to_string(entry.unreported) + " more times in the last " +
            std::to_string(WholeSeconds(now - entry.reported)) + " s)");
      it->second.unreported = 0;
      it->second.reported = now;
    }
    ++it;
  }
}

void FailureLog::Summarize() {
  std::lock_guard lock(mutex_);
  for (const auto& [key, entry] : entries_) {
    if (entry.unreported > 0)
      Write(key.first + ": " + key.second + " (" + std::to_string(entry.unreported) +
            " more times)");
  }
  entries_.clear();
}

size_t FailureLog::tracked() {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

void FailureLog::Write(const std::string& line) {
  if (write_) write_(prefix_ + line);
}

}  // namespace zelto::serve
