#include "host/serve/held_answer.h"

#include <cstdio>

#include "host/serve/worker_pool.h"

namespace zelto::serve {
namespace {

constexpr char kVersionHeader[] = "X-Zelto-Version";

void Answer(SiteContext& site, SiteExchange& ex, HeldAnswer answer) {
  if (!answer.error.empty()) return site.DatabaseError(ex, answer.error);
  ex.headers.emplace_back(kVersionHeader, answer.version);
  ex.Reply(http::status::ok, answer.content_type, std::move(answer.body));
}

}  // namespace

int RequestedWait(const SiteExchange& ex) {
  const std::optional<LONG> wait = ParseWellFormedInteger(ex.Form("wait"));
  if (!wait || *wait <= 0) return 0;
  return static_cast<int>(std::min<LONG>(*wait, kMaxPollWait));
}

void AnswerWhenChanged(SiteContext& site, const std::shared_ptr<SiteExchange>& ex, LONG key,
                       std::string since, TimePoint deadline, ComputeAnswer compute) {
  LongPoll* long_poll = site.config().long_poll;
  const uint64_t sequence = long_poll ? long_poll->Sequence() : 0;
  HeldAnswer answer = compute();
  const bool can_hold = long_poll && site.workers() && answer.error.empty() &&
                        answer.version == since && site.config().clock->Now() < deadline;
  if (!can_hold) return Answer(site, *ex, std::move(answer));
  auto held = std::make_shared<HeldAnswer>(std::move(answer));
  auto done = [&site, ex, key, since, deadline, compute, held](LongPoll::Outcome outcome) {
    if (outcome == LongPoll::Outcome::kWoken &&
        site.workers()->Submit([&site, ex, key, since, deadline, compute] {
          AnswerWhenChanged(site, ex, key, since, deadline, compute);
        }))
      return;
    Answer(site, *ex, std::move(*held));
  };
  if (!long_poll->Hold(key, sequence, deadline, done, ex->watch))
    Answer(site, *ex, std::move(*held));
}

std::string VersionOf(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

}  // namespace zelto::serve
