// Sending one webhook delivery: a POST of its JSON body over libcurl
// (platform/inet/http_fetch.h) with the event's name, the delivery's id, a
// timestamp and the signature in headers. The signature is
// "sha256=" + hex HMAC-SHA256 keyed by the webhook's secret over
// TIMESTAMP "." BODY, so that a receiver can check both who sent it and that
// it is recent. No redirect is followed (a 3xx fails the attempt); the time
// and the answer's size are bounded; only https unless allowed otherwise,
// and only public addresses unless allowed otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/serve/webhooks.h"

namespace zelto::serve {

inline constexpr char kSignatureHeader[] = "X-Zelto-Signature";
inline constexpr char kTimestampHeader[] = "X-Zelto-Timestamp";

std::string WebhookSignature(const std::string& secret, int64_t timestamp,
                             const std::string& body);

struct WebhookSendOptions {
  bool allow_http = false;     // plain http addresses are sent to (tests, internal receivers)
  bool allow_private = false;  // loopback and private addresses too
  std::string ca_file;         // certificates trusted instead of the system's
  int64_t timeout_ms = 10'000;
};

struct WebhookAttempt {
  bool ok = false;   // answered 2xx
  long status = 0;   // the HTTP status, 0 without an answer
  std::string error;  // why it failed
};

// Sends `d` signed with `timestamp` (seconds since 1970).
using WebhookTransport = std::function<WebhookAttempt(const WebhookDelivery& d, int64_t timestamp)>;

WebhookTransport HttpWebhookTransport(WebhookSendOptions options);

}  // namespace zelto::serve
