// One GET over libcurl, done whole: the body lands in memory. Only http and
// https are spoken, after redirects too; the limits of `settings` apply and
// any of them exceeded fails the fetch. Never retries, never throws.
#pragma once

#include <string>
#include <vector>

#include "platform/inet/internet_settings.h"

struct HttpFetchRequest {
  std::string url;  // must carry its scheme; nothing is guessed
  std::string user_agent;
  std::vector<std::string> headers;  // "Name: value"
  bool use_proxy_environment = true;
};

struct HttpFetchResult {
  bool ok = false;
  long status = 0;     // last HTTP status; error statuses still count as ok
  std::string body;    // empty unless ok
  std::string error;   // why it failed, for diagnostics only
};

HttpFetchResult HttpFetch(const HttpFetchRequest& request, const InternetSettings& settings);

// Ends every fetch in progress within about a second, failing with
// "cancelled" as a timeout would (a server stopping does not wait for its
// fetches' time limits); fetches begun afterwards run as usual.
// Thread-safe.
void CancelFetchesInProgress();
