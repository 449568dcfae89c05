// SiteOptions: what `zelto serve` is told, each with its default.
// CheckSiteOptions refuses what cannot work together before anything is
// opened, bound or created.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "host/serve/database_server.h"
#include "host/serve/session_store.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {

// One worker per core: more only queue on the same locks (measured with
// bench/http_poll.sh: 4 workers on 2 cores poll at half the rate of 2).
size_t DefaultWorkerThreads();

struct SiteOptions {
  std::string data_dir = "./data";  // the databases, or with a server the attachments
  std::string address = "127.0.0.1";
  unsigned short port = 8080;  // 0 picks a free one
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
  size_t long_poll_max = 10000;    // 0: no long polling
  std::filesystem::path www_root;  // the pages; empty: FindWwwRoot()
};

// "ADDR:PORT" ("127.0.0.1:8080", "[::1]:0", "localhost:80") into `address`
// and `port`; false, with both untouched, for anything else.
bool ParseListenAddress(const std::string& text, std::string* address, unsigned short* port);

// Selects the database engine the options name (the process's engine, for
// every connection) and checks that the login fits it. "" when all is
// well, else the reason, a usage error.
std::string CheckSiteOptions(const SiteOptions& options);

// Whether the selected engine is a database server (not SQLite's files).
bool EngineIsServer();

}  // namespace zelto::serve
