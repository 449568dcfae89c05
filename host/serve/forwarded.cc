#include "host/serve/forwarded.h"

#include <algorithm>
#include <cctype>

namespace zelto::serve {
namespace {

namespace ip = boost::asio::ip;

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

std::optional<ip::address> ParseAddress(std::string_view text) {
  boost::system::error_code ec;
  ip::address address = ip::make_address(std::string(text), ec);
  if (ec) return std::nullopt;
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    address = ip::make_address_v4(ip::v4_mapped, address.to_v6());
  return address;
}

// The comma-separated values of every `name` line, in order.
std::vector<std::string_view> HeaderValues(const HttpRequest& request, std::string_view name) {
  std::vector<std::string_view> values;
  for (auto [it, end] = request.equal_range(name); it != end; ++it) {
    std::string_view line = it->value();
    for (size_t start = 0; start <= line.size();) {
      const size_t comma = std::min(line.find(',', start), line.size());
      values.push_back(Trim(line.substr(start, comma - start)));
      start = comma + 1;
    }
  }
  return values;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

bool SameBlock(const ip::address& a, const ip::address& base, unsigned bits) {
  if (a.is_v4() != base.is_v4()) return false;
  const auto bytes = [](const ip::address& x) {
    std::vector<unsigned char> out;
    if (x.is_v4()) {
      const auto b = x.to_v4().to_bytes();
      out.assign(b.begin(), b.end());
    } else {
      const auto b = x.to_v6().to_bytes();
      out.assign(b.begin(), b.end());
    }
    return out;
  };
  const std::vector<unsigned char> left = bytes(a), right = bytes(base);
  for (unsigned i = 0; i < bits; ++i) {
    const unsigned char mask = static_cast<unsigned char>(0x80 >> (i % 8));
    if ((left[i / 8] & mask) != (right[i / 8] & mask)) return false;
  }
  return true;
}

}  // namespace

TrustedProxies TrustedProxies::Loopback() {
  TrustedProxies loopback;
  loopback.Add("127.0.0.0/8");
  loopback.Add("::1");
  return loopback;
}

bool TrustedProxies::Add(std::string_view text) {
  const size_t slash = text.find('/');
  const std::optional<ip::address> base = ParseAddress(text.substr(0, slash));
  if (!base) return false;
  const unsigned width = base->is_v4() ? 32 : 128;
  unsigned bits = width;
  if (slash != std::string_view::npos) {
    const std::string_view digits = text.substr(slash + 1);
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return false;
    bits = static_cast<unsigned>(std::stoul(std::string(digits)));
    if (bits > width) return false;
  }
  blocks_.push_back({*base, bits});
  return true;
}

bool TrustedProxies::Contains(const ip::address& address) const {
  return std::any_of(blocks_.begin(), blocks_.end(), [&](const Block& block) {
    return SameBlock(address, block.base, block.bits);
  });
}

bool TrustedProxies::Contains(std::string_view address) const {
  const std::optional<ip::address> parsed = ParseAddress(address);
  return parsed && Contains(*parsed);
}

std::optional<ip::address> ForwardedAddress(std::string_view text) {
  text = Trim(text);
  if (text.starts_with('[')) {  // [v6] or [v6]:port
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return std::nullopt;
    return ParseAddress(text.substr(1, close - 1));
  }
  // One colon: v4 with a port; more: a bare v6.
  if (std::count(text.begin(), text.end(), ':') == 1) text = text.substr(0, text.find(':'));
  return ParseAddress(text);
}

ClientView SeeClient(const HttpRequest& request, const std::string& peer,
                     const TrustedProxies& trusted) {
  ClientView view{peer, false, std::string(request[http::field::host])};
  if (!trusted.Contains(peer)) return view;
  const std::vector<std::string_view> chain = HeaderValues(request, "X-Forwarded-For");
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    const std::optional<ip::address> hop = ForwardedAddress(*it);
    if (!hop) break;  // nothing left of a value no proxy writes can be believed
    view.address = hop->to_string();
    if (!trusted.Contains(*hop)) break;
  }
  const std::vector<std::string_view> schemes = HeaderValues(request, "X-Forwarded-Proto");
  if (!schemes.empty()) {
    view.https = Lower(schemes.back()) == "https";
  } else {
    // RFC 7239: the nearest proxy's element is the last.
    const std::string forwarded = Lower(request[http::field::forwarded]);
    const size_t proto = forwarded.rfind("proto=");
    view.https = proto != std::string::npos && forwarded.compare(proto + 6, 5, "https") == 0;
  }
  const std::vector<std::string_view> hosts = HeaderValues(request, "X-Forwarded-Host");
  if (!hosts.empty() && !hosts.back().empty()) view.host = std::string(hosts.back());
  return view;
}

bool ApplyPublicUrl(std::string_view url, ClientView* view) {
  const bool https = url.starts_with("https://");
  if (!https && !url.starts_with("http://")) return false;
  std::string_view host = url.substr(https ? 8 : 7);
  host = host.substr(0, host.find('/'));
  if (host.empty() || host.find_first_of("?#@ ") != std::string_view::npos) return false;
  view->https = https;
  view->host = std::string(host);
  return true;
}

}  // namespace zelto::serve
