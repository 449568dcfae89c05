// InProcessSite: the demo data set served by a RunningSite in the test's
// own process, on 127.0.0.1 at a port the system picks, with ServedSite's
// small page folder and a scratch registry. The options are `zelto serve`'s
// own. What a separate process cannot offer: the site's parts (held polls,
// requests in progress, sessions) and, when asked for, a ManualClock, so
// that sessions expire and held polls time out when the test says.
// Everything the site writes (its start, failures, the stop) goes to one
// file the test reads with Output(). A site told --engine selects that
// engine for the process while it runs; the one before comes back after.
#pragma once

#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/serve/running_site.h"
#include "tests/support/host/manual_clock.h"
#include "tests/support/loopback_http_client.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {

class InProcessSite {
 public:
  enum class Time { kSystem, kManual };

  // A start that fails is a test failure (running() false).
  explicit InProcessSite(std::vector<std::string> serve_args = {}, Time time = Time::kSystem);
  ~InProcessSite();
  InProcessSite(const InProcessSite&) = delete;
  InProcessSite& operator=(const InProcessSite&) = delete;

  bool running() const { return site_ != nullptr; }
  SeededDatabase& db() { return db_; }
  // The site's clock when made with Time::kManual.
  ManualClock& clock() { return clock_; }
  serve::RunningSite& site() { return *site_; }
  uint16_t port() const { return port_; }
  std::unique_ptr<LoopbackHttpClient> Client() const;
  std::string Visit(LoopbackHttpClient& client, const std::string& referrer = "");
  std::string Output() const;
  // Stops the site and waits for its end (requests in progress answered,
  // sessions ended, logs closed). False when it did not end within 30 s.
  bool Stop();

 private:
  ScratchRegistry registry_;
  SeededDatabase db_{true};
  ManualClock clock_;
  std::string output_path_;
  FILE* output_ = nullptr;
  std::unique_ptr<serve::RunningSite> site_;
  uint16_t port_ = 0;
  std::thread runner_;
  std::future<void> ran_;
  std::string engine_before_;
};

}  // namespace zelto::testing
