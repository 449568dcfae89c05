#include "host/serve/request_origin.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace zelto::serve {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

// "https://host:port" -> "host:port" (lower case); "" when not of that form.
std::string OriginHost(std::string_view origin) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos) return "";
  std::string_view host = origin.substr(scheme + 3);
  if (host.empty() || host.find('/') != std::string_view::npos) return "";
  return Lower(host);
}

// "host:80" and "host" name the same site for http (and 443 for https).
std::string WithoutDefaultPort(std::string host, std::string_view scheme) {
  const std::string_view port = scheme == "https" ? ":443" : ":80";
  if (host.ends_with(port)) host.resize(host.size() - port.size());
  return host;
}

}  // namespace

bool FromAnotherSite(const HttpRequest& request) {
  return FromAnotherSite(request, request[http::field::host]);
}

bool FromAnotherSite(const HttpRequest& request, std::string_view host) {
  if (Lower(request["Sec-Fetch-Site"]) == "cross-site") return true;
  const std::string_view origin = request[http::field::origin];
  if (origin.empty()) return false;
  const std::string_view scheme = origin.substr(0, origin.find("://"));
  const std::string from = WithoutDefaultPort(OriginHost(origin), scheme);
  return from.empty() ||
         from != WithoutDefaultPort(Lower(host), scheme);
}

}  // namespace zelto::serve
