// SiteOptions: what `zelto serve` is told, each with its default.
// CheckSiteOptions refuses what cannot work together before anything is
// opened, bound or created.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/serve/abuse_limits.h"
#include "host/serve/database_server.h"
#include "host/serve/log_stream.h"
#include "host/serve/session_store.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {

// One worker per core: more only queue on the same locks (measured with
// bench/http_poll.sh: 4 workers on 2 cores poll at half the rate of 2).
size_t DefaultWorkerThreads();

constexpr char kDefaultListenAddress[] = "127.0.0.1";
constexpr unsigned short kDefaultListenPort = 8080;

struct SiteOptions {
  std::string data_dir = "./data";  // the databases, or with a server the attachments
  std::string address = kDefaultListenAddress;
  unsigned short port = kDefaultListenPort;  // 0 picks a free one
  size_t threads = DefaultWorkerThreads();
  DatabaseLogin login;
  double session_minutes = 20;
  size_t max_sessions = SessionStore::kDefaultLimit;
  double failure_log_seconds = 60;
  double fetch_seconds = 30;  // a CheckDomain page fetch at most
  PageCharset charset = PageCharset::kUtf8;
  // The component's ANSI code page (--codepage); `zelto serve` applies it,
  // else ZELTO_CODEPAGE, else 65001.
  std::optional<UINT> code_page;
  std::string access_log = "-";    // a file, "-" for standard output, or "off"
  LogFormat log_format = LogFormat::kText;
  size_t long_poll_max = 10000;    // 0: no long polling
  // Abuse limits (docs/security.md): sizes in MiB here.
  double message_rate = 1;
  size_t message_burst = 10;
  size_t upload_session_mib = 10, upload_address_mib = 100, files_mib = 1024;
  size_t visitor_sessions_per_address = 100;
  size_t login_failures = 10, login_address_failures = 50;
  size_t connections_per_address = 256;
  double header_seconds = 10;
  bool fetch_allow_private = false;  // page fetches may reach this machine and its network
  // Reverse proxies whose forwarded headers are believed (--trusted-proxy,
  // ADDR or CIDR; empty: loopback), and the address clients use.
  std::vector<std::string> trusted_proxies;
  std::string public_url;
  // Webhook deliveries (webhook_sender.h): plain http, this machine and its
  // network only when allowed; the receivers' certificates checked against
  // the system's or `webhook_ca_file`; tried again after 10 s, doubling.
  bool webhook_allow_http = false, webhook_allow_private = false;
  std::string webhook_ca_file;
  size_t webhook_retry_seconds = 10, webhook_attempts = 8;
  std::filesystem::path www_root;  // the pages; empty: FindWwwRoot()
  // New databases get the demo data set only with `demo`; without it, a
  // site whose demo operators still have their published passwords is
  // refused.
  bool demo = false;
  // Days of ended conversations, visit tracks and address records kept; 0
  // keeps everything. The purge runs at the start and every hour.
  double retain_days = 0;
  // When no operator can log in yet: the first administrator's password
  // (company 1 and operator 1, made when missing).
  std::optional<std::string> admin_password;
};

// Where to listen into `address` and `port`: "ADDR:PORT" ("127.0.0.1:8080",
// "[::1]:0", "localhost:80"), "PORT" or ":PORT" (on 127.0.0.1), "ADDR"
// ("0.0.0.0", "::1", "[::1]"; on port 8080). False, with both untouched,
// for anything else (a host name but localhost, an IPv6 address with a
// port but without brackets).
bool ParseListenAddress(const std::string& text, std::string* address, unsigned short* port);

// The site's abuse limits as the options set them.
AbuseLimits LimitsOf(const SiteOptions& options);

// Selects the database engine the options name (the process's engine, for
// every connection) and checks that the login fits it. "" when all is
// well, else the reason, a usage error.
std::string CheckSiteOptions(const SiteOptions& options);

// Whether the selected engine is a database server (not SQLite's files).
bool EngineIsServer();

}  // namespace zelto::serve
