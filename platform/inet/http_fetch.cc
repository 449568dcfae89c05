#include "platform/inet/http_fetch.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace {

constexpr const char* kWebProtocols = "http,https";
constexpr const char* kLoopbackNames = "localhost,127.0.0.1,::1";

void GlobalInitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
template <typename T>
using CurlPtr = std::unique_ptr<T, CurlDeleter>;

struct BodySink {
  std::string* body;
  size_t limit;
  bool over_limit = false;
};

size_t AppendBody(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<BodySink*>(user);
  size_t bytes = size * count;
  if (bytes > sink->limit - sink->body->size()) {
    sink->over_limit = true;
    return 0;  // makes curl abort the transfer
  }
  sink->body->append(data, bytes);
  return bytes;
}

// Bumped by CancelFetchesInProgress: a fetch that began under an older
// value ends at its next progress call (about once a second, and on every
// transfer step).
std::atomic<uint64_t> cancel_generation{0};

int AbortWhenCancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const uint64_t started = *static_cast<const uint64_t*>(user);
  return cancel_generation.load() != started ? 1 : 0;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
  }
  return false;
}

bool IsPublicV4(uint32_t a) {
  const auto in = [a](uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
  return !(in(0x00000000, 8) || in(0x0A000000, 8) || in(0x64400000, 10) || in(0x7F000000, 8) ||
           in(0xA9FE0000, 16) || in(0xAC100000, 12) || in(0xC0000000, 24) ||
           in(0xC0A80000, 16) || in(0xC6120000, 15) || in(0xE0000000, 4) || in(0xF0000000, 4));
}

bool IsPublic(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return IsPublicV4(ntohl(v4->sin_addr.s_addr));
  }
  if (address->sa_family != AF_INET6) return false;
  const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
  if (IN6_IS_ADDR_V4MAPPED(&v6) || IN6_IS_ADDR_V4COMPAT(&v6)) {
    uint32_t v4 = 0;
    std::memcpy(&v4, v6.s6_addr + 12, 4);
    return IsPublicV4(ntohl(v4));
  }
  const uint8_t first = v6.s6_addr[0];
  return !(IN6_IS_ADDR_UNSPECIFIED(&v6) || IN6_IS_ADDR_LOOPBACK(&v6) ||
           IN6_IS_ADDR_LINKLOCAL(&v6) || IN6_IS_ADDR_SITELOCAL(&v6) ||
           IN6_IS_ADDR_MULTICAST(&v6) || (first & 0xFE) == 0xFC);
}

curl_socket_t OpenLoopbackSocket(void*, curlsocktype, curl_sockaddr* address) {
  if (!IsLoopback(&address->addr)) return CURL_SOCKET_BAD;
  return socket(address->family, address->socktype, address->protocol);
}

curl_socket_t OpenPublicSocket(void*, curlsocktype, curl_sockaddr* address) {
  if (!IsPublic(&address->addr)) return CURL_SOCKET_BAD;
  return socket(address->family, address->socktype, address->protocol);
}

// Proxies come from the environment as curl reads it, but loopback addresses
// are always reached directly.
std::string NoProxyList() {
  const char* configured = std::getenv("no_proxy");
  if (!configured) configured = std::getenv("NO_PROXY");
  std::string list = configured ? configured : "";
  if (!list.empty()) list += ',';
  return list + kLoopbackNames;
}

// A URL without a scheme is refused rather than guessed, as WinINet does.
CurlPtr<CURLU> ParseWebUrl(const std::string& url, std::string& error) {
  CurlPtr<CURLU> parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    error = "malformed address";
    return nullptr;
  }
  char* scheme = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    error = "address without scheme";
    return nullptr;
  }
  std::string name = scheme;
  curl_free(scheme);
  if (name != "http" && name != "https") {
    error = "unsupported scheme " + name;
    return nullptr;
  }
  return parsed;
}

}  // namespace

HttpFetchResult HttpFetch(const HttpFetchRequest& request, const InternetSettings& settings) {
  GlobalInitOnce();
  HttpFetchResult result;
  CurlPtr<CURLU> url = ParseWebUrl(request.url, result.error);
  if (!url) return result;
  CurlPtr<CURL> curl(curl_easy_init());
  if (!curl) {
    result.error = "out of memory";
    return result;
  }
  CurlPtr<curl_slist> headers;
  for (const std::string& header : request.headers) {
    curl_slist* extended = curl_slist_append(headers.get(), header.c_str());
    if (!extended) {
      result.error = "out of memory";
      return result;
    }
    if (!headers) headers.reset(extended);  // later appends keep the head
  }
  std::string body;
  BodySink sink{&body, settings.max_body_bytes};
  std::string no_proxy = request.use_proxy_environment ? NoProxyList() : "*";

  CURL* c = curl.get();
  const char* protocols = request.https_only ? "https" : kWebProtocols;
  curl_easy_setopt(c, CURLOPT_CURLU, url.get());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, settings.max_redirects > 0 ? 1L : 0L);
  if (request.post_body) {
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, request.post_body->data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request.post_body->size()));
  }
  if (!request.ca_file.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.ca_file.c_str());
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, static_cast<long>(settings.max_redirects));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connect_timeout_ms));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(settings.transfer_timeout_ms));
  curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                   static_cast<curl_off_t>(std::min<uint64_t>(
                       settings.max_body_bytes, std::numeric_limits<curl_off_t>::max())));
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, request.user_agent.c_str());
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_NOPROXY, no_proxy.c_str());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, AppendBody);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  if (settings.loopback_only) {
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenLoopbackSocket);
  } else if (settings.public_only) {
    curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, OpenPublicSocket);
  }

  uint64_t generation = cancel_generation.load();
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, AbortWhenCancelled);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &generation);

  CURLcode code = curl_easy_perform(c);
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
  if (code != CURLE_OK) {
    result.error = sink.over_limit                     ? "page larger than the size limit"
                   : code == CURLE_ABORTED_BY_CALLBACK ? "cancelled"
                                                       : curl_easy_strerror(code);
    return result;
  }
  result.ok = true;
  result.body = std::move(body);
  return result;
}

void CancelFetchesInProgress() { ++cancel_generation; }
