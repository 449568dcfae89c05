// Webhooks: each company's subscriptions (an address, a secret, the events
// it wants) and the queue of their deliveries in the chat database, so that
// nothing queued is lost when the host stops. Emit queues one delivery per
// subscribed webhook in one transaction; a worker (webhook_worker.h) claims
// due deliveries, sends them and records each outcome. A claim holds rows
// for a while inside a write transaction, so that of several hosts on one
// database only one sends a delivery (a host that dies holding a claim
// leaves its rows to be sent again once the claim lapses). Every call may
// block on the database: never on a request's critical path for long.
#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/serve/administration.h"
#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

// The events a webhook may want ("*" in its list: every one).
inline constexpr const char* kWebhookEvents[] = {"chat.started", "message", "chat.ended",
                                                 "offline_message", "rating"};

// "" when `url` may be a webhook's address: http(s) with a host, no user
// or password in it, at most 1000 bytes, https unless `allow_http`.
std::string RefusedWebhookUrl(const std::string& url, bool allow_http);
// The event list as stored ("*" or known names, comma-separated, without
// repeats); nullopt with `why` for an unknown name or an empty list.
std::optional<std::string> ParseWebhookEvents(const std::string& list, std::string* why);

struct Webhook {
  LONG id = 0, company_id = 0;
  std::string url, secret, events;
  int64_t created_at = 0;
  LONG pending = 0, failed = 0;  // deliveries waiting, and given up
};

// One delivery as the worker sends it.
struct WebhookDelivery {
  LONG id = 0, webhook_id = 0;
  std::string event, body, url, secret;
  int attempts = 0;  // made before this one
};

// How often and how soon a failed delivery is tried again.
struct WebhookRetry {
  int max_attempts = 8;
  int64_t first_delay = 10;  // seconds before the second attempt; doubles each time
  int64_t max_delay = 3600;
  int64_t claim_seconds = 120;  // how long a claim holds a row (above a send's time limit)
};

// Seconds before the next attempt after `attempts` failed ones (>= 1).
int64_t RetryDelay(const WebhookRetry& retry, int attempts);

class Webhooks {
 public:
  Webhooks(const SiteDatabase& db, SecondsClock now, WebhookRetry retry = {})
      : db_(db), now_(std::move(now)), retry_(retry) {}

  // Adds a webhook with a new secret (AdminResult::id; the secret is in
  // List). `url` and `events` must pass the checks above.
  AdminResult Add(LONG company_id, const std::string& url, const std::string& events,
                  bool allow_http, std::string* secret) const;
  // The webhooks of `company_id` (0: of every company), by id.
  std::vector<Webhook> List(LONG company_id, std::string* error) const;
  // Removes the webhook and its queued deliveries; refused when it is not
  // there (or, with `company_id` not 0, not the company's).
  AdminResult Remove(LONG id, LONG company_id) const;

  // Queues `event` with `data` for every webhook of the company that wants
  // it; the number queued, or nullopt with `error`.
  std::optional<int> Emit(LONG company_id, const std::string& event,
                          const boost::json::object& data, std::string* error) const;
  // Claims up to `limit` due deliveries for retry_.claim_seconds.
  std::vector<WebhookDelivery> ClaimDue(size_t limit, std::string* error) const;
  // A claimed delivery was answered 2xx: done.
  bool Delivered(const WebhookDelivery& d, long status, std::string* error) const;
  // A claimed delivery failed: tried again after RetryDelay, or given up
  // after the last attempt.
  bool Failed(const WebhookDelivery& d, long status, const std::string& why,
              std::string* error) const;
  // A claimed delivery was not tried (the host stops): due again at once.
  bool Release(const WebhookDelivery& d, std::string* error) const;
  // When the earliest pending delivery is due (seconds since 1970), if any.
  std::optional<int64_t> NextDue(std::string* error) const;

  const WebhookRetry& retry() const { return retry_; }

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
  const WebhookRetry retry_;
};

}  // namespace zelto::serve
