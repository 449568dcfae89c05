// Who a request really came from when a reverse proxy stands in front of
// the host. Only from the peers named trusted (--trusted-proxy, addresses
// or CIDR blocks, IPv4 or IPv6) are X-Forwarded-For, X-Forwarded-Proto and
// X-Forwarded-Host believed; from anyone else they are ignored and the
// peer is the client. X-Forwarded-For is read from the right: each trusted
// proxy appends the address it saw, so the first address that is not a
// trusted proxy is the client; anything left of it could have been written
// by the client itself. Several header lines count as one list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/asio/ip/address.hpp>

#include "host/serve/http_server.h"

namespace zelto::serve {

class TrustedProxies {
 public:
  // Loopback (127.0.0.0/8 and ::1): a proxy on the same machine, as the
  // default listen address expects.
  static TrustedProxies Loopback();

  // Adds "ADDR" or "ADDR/BITS"; false (nothing added) when malformed.
  bool Add(std::string_view text);
  bool Contains(const boost::asio::ip::address& address) const;
  bool Contains(std::string_view address) const;
  bool empty() const { return blocks_.empty(); }

 private:
  struct Block {
    boost::asio::ip::address base;
    unsigned bits = 0;
  };
  std::vector<Block> blocks_;
};

// An address as written in a forwarded header ("1.2.3.4", "1.2.3.4:5678",
// "[2001:db8::1]:443", "2001:db8::1"), IPv4-mapped IPv6 as IPv4; nullopt
// for anything else ("unknown", a name, garbage).
std::optional<boost::asio::ip::address> ForwardedAddress(std::string_view text);

// What the host believes about a request.
struct ClientView {
  std::string address;  // the client's address
  bool https = false;   // reached over TLS (at the proxy)
  std::string host;     // the Host the client asked for
};

// `peer` is the connection's address. A trusted peer's forwarded headers
// are believed; the scheme and host are the last values the headers hold
// (the nearest proxy's; the scheme also from RFC 7239 `Forwarded: proto=`).
// Without them, the peer, http and the Host header.
ClientView SeeClient(const HttpRequest& request, const std::string& peer,
                     const TrustedProxies& trusted);

// The site's public address (--public-url, "https://chat.example.com[/]"):
// its scheme and host replace what the request says. False when `url` is
// not an http(s) address with a host.
bool ApplyPublicUrl(std::string_view url, ClientView* view);

}  // namespace zelto::serve
