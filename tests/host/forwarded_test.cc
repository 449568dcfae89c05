// Whose forwarded headers the host believes, and what it reads from them.
#include "host/serve/forwarded.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace zelto::serve {
namespace {

TEST(TrustedProxiesTest, AddressesAndBlocksOfBothFamilies) {
  TrustedProxies trusted;
  for (const char* bad : {"", "10.0.0.0/33", "::/129", "10.0.0.0/", "10.0.0.0/x", "proxy",
                          "10.0.0.1/8/8", "1.2.3.4:80"})
    EXPECT_FALSE(trusted.Add(bad)) << bad;
  EXPECT_TRUE(trusted.empty());
  ASSERT_TRUE(trusted.Add("10.0.0.0/8"));
  ASSERT_TRUE(trusted.Add("2001:db8::/32"));
  ASSERT_TRUE(trusted.Add("192.0.2.7"));
  const std::pair<const char*, bool> cases[] = {
      {"10.255.1.2", true},     {"11.0.0.1", false},       {"192.0.2.7", true},
      {"192.0.2.8", false},     {"2001:db8:ffff::1", true}, {"2001:db9::1", false},
      {"::ffff:10.1.1.1", true}, {"not an address", false}, {"", false},
  };
  for (const auto& [address, expected] : cases)
    EXPECT_EQ(trusted.Contains(std::string_view(address)), expected) << address;
  const TrustedProxies loopback = TrustedProxies::Loopback();
  EXPECT_TRUE(loopback.Contains(std::string_view("127.8.9.10")));
  EXPECT_TRUE(loopback.Contains(std::string_view("::1")));
  EXPECT_FALSE(loopback.Contains(std::string_view("10.0.0.1")));
}

TEST(ForwardedAddressTest, TheShapesProxiesWrite) {
  const std::pair<const char*, const char*> cases[] = {
      {"1.2.3.4", "1.2.3.4"},           {" 1.2.3.4:5678 ", "1.2.3.4"},
      {"[2001:db8::1]:443", "2001:db8::1"}, {"[2001:db8::1]", "2001:db8::1"},
      {"2001:db8::2", "2001:db8::2"},   {"::ffff:1.2.3.4", "1.2.3.4"},
      {"unknown", nullptr},             {"[2001:db8::1", nullptr},
      {"[2001:db8::1]x", nullptr},      {"evil.example", nullptr},
      {"", nullptr},
  };
  for (const auto& [text, expected] : cases) {
    const auto address = ForwardedAddress(text);
    if (!expected) {
      EXPECT_FALSE(address) << text;
    } else {
      ASSERT_TRUE(address) << text;
      EXPECT_EQ(address->to_string(), expected) << text;
    }
  }
}

struct SeenCase {
  const char* what;
  const char* peer;
  std::vector<std::pair<const char*, const char*>> headers;
  const char* address;
  bool https;
  const char* host;
};

TEST(SeeClientTest, ForwardedHeadersOnlyFromTrustedPeers) {
  TrustedProxies trusted = TrustedProxies::Loopback();
  ASSERT_TRUE(trusted.Add("10.0.0.0/8"));
  const SeenCase cases[] = {
      {"untrusted peer: nothing believed", "203.0.113.5",
       {{"X-Forwarded-For", "1.2.3.4"}, {"X-Forwarded-Proto", "https"},
        {"X-Forwarded-Host", "evil.example"}},
       "203.0.113.5", false, "chat.example"},
      {"one proxy", "127.0.0.1",
       {{"X-Forwarded-For", "1.2.3.4"}, {"X-Forwarded-Proto", "https"},
        {"X-Forwarded-Host", "www.example"}},
       "1.2.3.4", true, "www.example"},
      {"a client's own entry left of the real one", "127.0.0.1",
       {{"X-Forwarded-For", "6.6.6.6, 1.2.3.4"}}, "1.2.3.4", false, "chat.example"},
      {"two trusted proxies in a row", "127.0.0.1",
       {{"X-Forwarded-For", "6.6.6.6, 1.2.3.4, 10.0.0.9"}}, "1.2.3.4", false, "chat.example"},
      {"several header lines are one list", "127.0.0.1",
       {{"X-Forwarded-For", "6.6.6.6"}, {"X-Forwarded-For", "1.2.3.4"}},
       "1.2.3.4", false, "chat.example"},
      {"IPv6 with brackets and port", "::1",
       {{"X-Forwarded-For", "[2001:db8::7]:5555"}}, "2001:db8::7", false, "chat.example"},
      {"garbage stops the walk at the proxy", "127.0.0.1",
       {{"X-Forwarded-For", "1.2.3.4, unknown"}}, "127.0.0.1", false, "chat.example"},
      {"only trusted hops: the first of them", "127.0.0.1",
       {{"X-Forwarded-For", "10.1.1.1, 10.2.2.2"}}, "10.1.1.1", false, "chat.example"},
      {"the nearest proxy's scheme and host", "127.0.0.1",
       {{"X-Forwarded-Proto", "http, https"}, {"X-Forwarded-Host", "a.example, b.example"}},
       "127.0.0.1", true, "b.example"},
      {"RFC 7239 proto", "127.0.0.1", {{"Forwarded", "for=1.2.3.4;proto=https"}},
       "127.0.0.1", true, "chat.example"},
      {"RFC 7239 proto from an untrusted peer", "203.0.113.5",
       {{"Forwarded", "proto=https"}}, "203.0.113.5", false, "chat.example"},
      {"IPv4-mapped peer", "::ffff:127.0.0.1", {{"X-Forwarded-For", "1.2.3.4"}},
       "1.2.3.4", false, "chat.example"},
  };
  for (const SeenCase& c : cases) {
    HttpRequest request{http::verb::get, "/", 11};
    request.set(http::field::host, "chat.example");
    for (const auto& [name, value] : c.headers) request.insert(name, value);
    const ClientView view = SeeClient(request, c.peer, trusted);
    EXPECT_EQ(view.address, c.address) << c.what;
    EXPECT_EQ(view.https, c.https) << c.what;
    EXPECT_EQ(view.host, c.host) << c.what;
  }
}

TEST(PublicUrlTest, SchemeAndHostReplaceTheRequests) {
  ClientView view{"1.2.3.4", false, "127.0.0.1:8080"};
  EXPECT_TRUE(ApplyPublicUrl("https://chat.example.com/", &view));
  EXPECT_TRUE(view.https);
  EXPECT_EQ(view.host, "chat.example.com");
  for (const char* bad : {"chat.example.com", "ftp://x", "https://", "https://a b", "https://u@h"})
    EXPECT_FALSE(ApplyPublicUrl(bad, &view)) << bad;
}

}  // namespace
}  // namespace zelto::serve
