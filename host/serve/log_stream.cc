#include "host/serve/log_stream.h"

#include <boost/json/serialize.hpp>
#include <cstdlib>
#include <ctime>

namespace zelto::serve {

std::optional<LogFormat> LogFormatFromName(std::string_view name) {
  if (name == "text") return LogFormat::kText;
  if (name == "json") return LogFormat::kJson;
  return std::nullopt;
}

std::string Iso8601Time(WallTime when) {
  const auto since_epoch = when.time_since_epoch();
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch - seconds).count();
  const std::time_t whole = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&whole, &local);
  const long offset_minutes = local.tm_gmtoff / 60;
  char text[48];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d%c%02ld:%02ld", static_cast<int>(millis),
                offset_minutes < 0 ? '-' : '+', std::labs(offset_minutes) / 60,
                std::labs(offset_minutes) % 60);
  return text;
}

LogStream::LogStream(FILE* out, LogFormat format, WallClock now)
    : out_(out), format_(format), now_(std::move(now)) {}

std::string LogStream::Formatted(std::string_view level, std::string_view text) const {
  const std::string time = Iso8601Time(now_());
  if (format_ == LogFormat::kText) return time + " " + std::string(text) + "\n";
  boost::json::object line{{"time", time}, {"level", level}, {"message", text}};
  return boost::json::serialize(line) + "\n";
}

void LogStream::Line(std::string_view level, std::string_view text) {
  if (out_) Write(Formatted(level, text));
}

void LogStream::Info(const std::vector<std::string>& lines) {
  if (!out_) return;
  std::string block;
  for (const std::string& line : lines) block += Formatted("info", line);
  Write(block);
}

void LogStream::Record(std::string_view text, boost::json::object fields) {
  if (!out_) return;
  if (format_ == LogFormat::kText) return Write(std::string(text) + "\n");
  if (!fields.contains("time")) {
    boost::json::object line{{"time", Iso8601Time(now_())}};
    for (auto& field : fields) line.emplace(field.key(), std::move(field.value()));
    fields = std::move(line);
  }
  Write(boost::json::serialize(fields) + "\n");
}

void LogStream::Write(const std::string& line) {
  std::lock_guard lock(mutex_);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
}

}  // namespace zelto::serve
