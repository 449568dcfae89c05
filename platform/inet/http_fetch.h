// One GET (or, with a post body, one POST) over libcurl, done whole: the
// body lands in memory. Only http and https are spoken, after redirects
// too; the limits of `settings` apply and any of them exceeded fails the
// fetch (max_redirects 0: a redirect fails it). Never retries, never throws.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/inet/internet_settings.h"

struct HttpFetchRequest {
  std::string url;  // must carry its scheme; nothing is guessed
  std::string user_agent;
  std::vector<std::string> headers;  // "Name: value"
  bool use_proxy_environment = true;
  std::optional<std::string> post_body;  // set: a POST of these bytes
  std::string ca_file;  // set: the certificates trusted for https, instead of the system's
  bool https_only = false;  // set: an http address fails without a connection
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
