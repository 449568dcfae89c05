// Process-wide settings of the Internet functions (not part of WinINet): the
// limits every fetch runs under, and switches for the host and the tests.
// Read once per InternetOpenUrlA, so a change applies to the next fetch.
#pragma once

#include <cstddef>
#include <cstdint>

struct InternetSettings {
  int64_t connect_timeout_ms = 10'000;   // per connection attempt
  int64_t transfer_timeout_ms = 30'000;  // the whole fetch, redirects included
  size_t max_body_bytes = size_t{8} << 20;  // a larger body fails the fetch
  int32_t max_redirects = 10;             // more fail the fetch
  bool offline = false;                   // as after "Work offline": no fetch
  bool loopback_only = false;             // connect to loopback addresses only
  // Connect to public addresses only: never loopback, private, shared
  // (100.64/10), link-local, unique-local, multicast or unspecified ones.
  // Checked on each connection curl opens, after name resolution, so every
  // redirect (and a proxy) is checked too.
  bool public_only = false;
};

InternetSettings InternetGetSettings();
void InternetSetSettings(const InternetSettings& settings);
