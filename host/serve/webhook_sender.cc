#include "host/serve/webhook_sender.h"

#include "host/serve/digest.h"
#include "host/version.h"
#include "platform/inet/http_fetch.h"

namespace zelto::serve {

std::string WebhookSignature(const std::string& secret, int64_t timestamp,
                             const std::string& body) {
  return "sha256=" + HmacSha256Hex(secret, std::to_string(timestamp) + "." + body);
}

WebhookTransport HttpWebhookTransport(WebhookSendOptions options) {
  return [options](const WebhookDelivery& d, int64_t timestamp) {
    if (std::string why = RefusedWebhookUrl(d.url, options.allow_http); !why.empty())
      return WebhookAttempt{false, 0, why};
    HttpFetchRequest request;
    request.url = d.url;
    request.user_agent = std::string("zelto-webhook/") + ProductVersion();
    request.use_proxy_environment = true;
    request.post_body = d.body;
    request.ca_file = options.ca_file;
    request.https_only = !options.allow_http;
    request.headers = {"Content-Type: application/json",
                       "X-Zelto-Event: " + d.event,
                       "X-Zelto-Delivery: " + std::to_string(d.id),
                       std::string(kTimestampHeader) + ": " + std::to_string(timestamp),
                       std::string(kSignatureHeader) + ": " +
                           WebhookSignature(d.secret, timestamp, d.body),
                       "Expect:"};
    InternetSettings settings;
    settings.connect_timeout_ms = std::min<int64_t>(5'000, options.timeout_ms);
    settings.transfer_timeout_ms = options.timeout_ms;
    settings.max_body_bytes = 64 * 1024;
    settings.max_redirects = 0;
    settings.public_only = !options.allow_private;
    const HttpFetchResult result = HttpFetch(request, settings);
    if (!result.ok) return WebhookAttempt{false, result.status, result.error};
    if (result.status < 200 || result.status > 299)
      return WebhookAttempt{false, result.status, "answered " + std::to_string(result.status)};
    return WebhookAttempt{true, result.status, ""};
  };
}

}  // namespace zelto::serve
