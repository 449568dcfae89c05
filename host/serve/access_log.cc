#include "host/serve/access_log.h"

#include <boost/json/object.hpp>
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

// "[08/Dec/2026:14:52:08 +0000]"
std::string CommonLogTime(WallTime when) {
  const std::time_t whole = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&whole, &local);
  char text[40];
  std::strftime(text, sizeof text, "[%d/%b/%Y:%H:%M:%S %z]", &local);
  return text;
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
  const double seconds = static_cast<double>(r.taken.count()) / 1e6;
  char taken[32];
  std::snprintf(taken, sizeof taken, "%.3f", seconds);
  const std::string request = r.method.empty()
                                  ? std::string("-")
                                  : Escaped(r.method) + " " + Escaped(target) + " " + r.version;
  const std::string line = Escaped(r.remote) + " - - " + CommonLogTime(r.received) + " \"" +
                           request + "\" " + std::to_string(r.status) + " " +
                           std::to_string(r.bytes) + " \"" + OrDash(Escaped(referer)) + "\" \"" +
                           OrDash(Escaped(r.user_agent)) + "\" " + taken;
  boost::json::object fields{
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
  stream_->Record(line, std::move(fields));
}

}  // namespace zelto::serve
