// LogStream: the lines of one log (standard output, standard error or a
// file), each headed by the wall-clock time in ISO 8601 with milliseconds
// and the UTC offset ("2026-12-08T14:52:08.123+01:00 "), or in JSON form
// one object per line ({"time":..,"level":..,"message":..}). A line is
// written with one call and flushed at once, so that a pipe, a file or a
// journal never sees one cut or held back. Thread-safe.
#pragma once

#include <boost/json/object.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto::serve {

enum class LogFormat { kText, kJson };
// "text" or "json".
std::optional<LogFormat> LogFormatFromName(std::string_view name);

using WallTime = std::chrono::system_clock::time_point;
using WallClock = std::function<WallTime()>;

// "2026-12-08T14:52:08.123+01:00", in the process's time zone.
std::string Iso8601Time(WallTime when);

class LogStream {
 public:
  // `out` may be null (nothing is written); it must outlive the stream.
  explicit LogStream(FILE* out, LogFormat format = LogFormat::kText,
                     WallClock now = std::chrono::system_clock::now);

  // `text` is one line without its end.
  void Info(std::string_view text) { Line("info", text); }
  // Several lines in one write: a reader sees all of them or none.
  void Info(const std::vector<std::string>& lines);
  void Error(std::string_view text) { Line("error", text); }
  // A line that carries its own time (an access log line): written as it
  // is in text form; in JSON form `fields`, with "time" added when missing.
  void Record(std::string_view text, boost::json::object fields);

  LogFormat format() const { return format_; }
  WallTime Now() const { return now_(); }
  FILE* out() const { return out_; }

 private:
  void Line(std::string_view level, std::string_view text);
  std::string Formatted(std::string_view level, std::string_view text) const;
  void Write(const std::string& line);

  FILE* const out_;
  const LogFormat format_;
  const WallClock now_;
  std::mutex mutex_;
};

}  // namespace zelto::serve
