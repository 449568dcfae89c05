#include "host/serve/access_log.h"

#include <algorithm>
#include <boost/json/object.hpp>
#include <cstdio>
#include <ctime>

namespace zelto::serve {
namespace {

// A field as the combined format can carry it inside quotes.
std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '"' || c == '\\') {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string OrDash(std::string text) { return text.empty() ? "-" : text; }

// "[08/Dec/2026:14:52:08 +0000]". Requests of one second share it: each
// thread keeps the last second's text (the time zone's rules are read once
// per second per thread, not once per request).
const std::string& CommonLogTime(WallTime when) {
  thread_local std::time_t last_second = -1;
  thread_local std::string last_text;
  const std::time_t whole = std::chrono::system_clock::to_time_t(when);
  if (whole != last_second) {
    std::tm local{};
    localtime_r(&whole, &local);
    char text[40];
    std::strftime(text, sizeof text, "[%d/%b/%Y:%H:%M:%S %z]", &local);
    last_text = text;
    last_second = whole;
  }
  return last_text;
}

// Seconds with three decimals ("0.004"), rounded to the nearest millisecond.
std::string Seconds(std::chrono::microseconds taken) {
  const long long millis = (std::max<long long>(taken.count(), 0) + 500) / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", millis / 1000, millis % 1000);
  return text;
}

std::string CombinedLine(const AccessRecord& r, const std::string& target,
                         const std::string& referer) {
  std::string line = Escaped(r.remote);
  line += " - - ";
  line += CommonLogTime(r.received);
  line += " \"";
  if (r.method.empty()) {
    line += '-';
  } else {
    line += Escaped(r.method) + " " + Escaped(target) + " " + r.version;
  }
  line += "\" " + std::to_string(r.status) + " " + std::to_string(r.bytes) + " \"";
  line += OrDash(Escaped(referer)) + "\" \"" + OrDash(Escaped(r.user_agent)) + "\" ";
  line += Seconds(r.taken);
  return line;
}

boost::json::object JsonFields(const AccessRecord& r, const std::string& target,
                               const std::string& referer) {
  return {
      {"time", Iso8601Time(r.received)},
      {"remote", Escaped(r.remote)},
      {"method", Escaped(r.method)},
      {"target", Escaped(target)},
      {"status", r.status},
      {"bytes", r.bytes},
      {"referer", Escaped(referer)},
      {"user_agent", Escaped(r.user_agent)},
      {"duration_ms", static_cast<double>(r.taken.count()) / 1000.0},
  };
}

}  // namespace

std::string RedactedQuery(std::string_view target) {
  target = target.substr(0, target.find('#'));
  const size_t question = target.find('?');
  if (question == std::string_view::npos) return std::string(target);
  std::string out(target.substr(0, question + 1));
  std::string_view query = target.substr(question + 1);
  for (;;) {
    const size_t amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    const std::string_view name = pair.substr(0, pair.find('='));
    out += std::string(name);
    if (name.size() < pair.size()) out += "=*";
    if (amp == std::string_view::npos) break;
    out += '&';
    query.remove_prefix(amp + 1);
  }
  return out;
}

void AccessLog::Write(const AccessRecord& r) const {
  if (!stream_) return;
  const std::string target = RedactedQuery(r.target);
  const std::string referer = RedactedQuery(r.referer);
  // Only the form the stream writes is made.
  if (stream_->format() == LogFormat::kJson)
    return stream_->Record({}, JsonFields(r, target, referer));
  stream_->Record(CombinedLine(r, target, referer), {});
}

}  // namespace zelto::serve
