// AccessLog: one line per answered request, in the combined log format of
// web servers with the time taken appended in seconds (what log analysers
// read as %T), or as a JSON object:
//
//   127.0.0.1 - - [08/Dec/2026:14:52:08 +0000] "GET /visitor/GetClientMsg.asp?cid=*&wait=*
//   HTTP/1.1" 200 12 "http://host/visitor/chat.html?cid=*" "Mozilla/5.0 ..." 0.004
//
// Query values never reach the log: every value of the request target's
// query and of the Referer's is written as '*', names only, so that
// message texts, tokens and visitor labels stay out of it. Quotes,
// backslashes, control and non-ASCII bytes in the logged fields are
// written as \xHH, so that a request cannot forge a line.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "host/serve/log_stream.h"

namespace zelto::serve {

struct AccessRecord {
  std::string remote = "-";
  std::string method, target, version = "HTTP/1.1";
  std::string referer, user_agent;
  unsigned status = 0;
  size_t bytes = 0;
  WallTime received;                   // when the request's header arrived
  std::chrono::microseconds taken{0};  // from its header to the answer written
};

class AccessLog {
 public:
  // `stream` null: no log. It must outlive this object.
  explicit AccessLog(LogStream* stream) : stream_(stream) {}
  bool enabled() const { return stream_ != nullptr; }
  void Write(const AccessRecord& record) const;

 private:
  LogStream* const stream_;
};

// "/a.asp?cid=*&msgContent=*" from "/a.asp?cid=1&msgContent=hi#x": the
// query's names kept, its values replaced, a fragment dropped.
std::string RedactedQuery(std::string_view target);

}  // namespace zelto::serve
