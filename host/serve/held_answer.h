// Held answers: a route whose answer changes when something happens under a
// long-poll key (a conversation id, or CompanyChannel) answers at once when
// the version the client already has ("since") is out of date, else holds
// the request until the key is woken, then computes again on a worker, up
// to the deadline. A held request is a timer of the site's LongPoll, never
// a thread; without long polling it answers at once. The header
// X-Zelto-Version carries the answer's version for the next request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "host/serve/site_context.h"
#include "host/serve/site_exchange.h"

namespace zelto::serve {

struct HeldAnswer {
  std::string content_type = "application/json";
  std::string body;
  std::string version;  // changes whenever `body` does
  std::string error;    // not empty: a database error, answered 500
};

using ComputeAnswer = std::function<HeldAnswer()>;

// The seconds the request's "wait" asks for (at most kMaxPollWait), 0
// without one.
int RequestedWait(const SiteExchange& ex);

// Runs `compute` (on the calling worker) and answers as above.
void AnswerWhenChanged(SiteContext& site, const std::shared_ptr<SiteExchange>& ex, LONG key,
                       std::string since, TimePoint deadline, ComputeAnswer compute);

// A short stable version of `text` (hex of a 64-bit FNV-1a hash).
std::string VersionOf(const std::string& text);

}  // namespace zelto::serve
