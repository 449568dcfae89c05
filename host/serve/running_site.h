// RunningSite: one `zelto serve` site, from its start to its stop. It owns
// everything the site runs with (the listening socket, the access log, the
// worker threads, the sessions, held polls and their notifier, the failure
// log and the process-wide sinks pointed at it, the timers) and undoes all
// of it on every path.
//
// Start checks what can fail without changing anything first (the data
// folder holds nothing that clashes, the access log opens, the address can
// be bound, no other host has the SQLite data folder), and only then
// registers the component, prepares the databases (creating demo ones
// where there are none) and loads the site secret. A start that fails
// leaves nothing of its own behind: no socket, no sink, no access log file
// or data folder it made. Every line it writes is timestamped (LogStream).
//
// Run serves on the calling thread until Stop; the requests in progress
// are answered first, within bounds: held polls at once, page fetches
// cancelled, a client still sending or not reading its answer cut off
// after a short grace. The destructor then joins the workers, ends the
// sessions still open as on a timeout, resets the sinks, writes the last
// failure counts and closes the logs.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <cstdio>
#include <atomic>
#include <memory>
#include <string>

#include "host/serve/access_log.h"
#include "host/serve/access_log_file.h"
#include "host/serve/access_rules.h"
#include "host/serve/clock.h"
#include "host/serve/conversation_notifier.h"
#include "host/serve/data_folder.h"
#include "host/serve/failure_log.h"
#include "host/serve/http_server.h"
#include "host/serve/log_stream.h"
#include "host/serve/long_poll.h"
#include "host/serve/session_store.h"
#include "host/serve/site.h"
#include "host/serve/site_options.h"
#include "host/serve/webhook_worker.h"
#include "host/serve/worker_pool.h"
#include "platform/inet/internet_settings.h"

namespace zelto::serve {

// What a site writes to and keeps time by: the process gives standard
// output, standard error and the system clock; a test its own.
struct SiteSurroundings {
  const Clock* clock = &SystemClock();
  FILE* out = stdout;  // what was done at the start, the welcome, the stop
  FILE* log = stderr;  // failures
  WallClock wall_clock = std::chrono::system_clock::now;  // the logs' times
};

// Why a start failed, with the exit status `zelto serve` gives for it.
struct StartFailure {
  enum Status { kCannotStart = 1, kUsage = 2, kAddressInUse = 3 };
  Status status = kCannotStart;
  std::string message;
};

class RunningSite {
 public:
  // REQUIRES: CheckSiteOptions(options) gave "". Null, with `failure`,
  // when the site cannot start.
  static std::unique_ptr<RunningSite> Start(const SiteOptions& options,
                                            const SiteSurroundings& surroundings,
                                            StartFailure* failure);
  // REQUIRES: Run is not running (it returned, or was never called).
  ~RunningSite();
  RunningSite(const RunningSite&) = delete;
  RunningSite& operator=(const RunningSite&) = delete;

  // Serves on the calling thread; returns after Stop, once the requests in
  // progress are answered.
  void Run();
  // Thread-safe, idempotent: closes the listener, answers held polls.
  void Stop();
  // Says on `out` where the site is and which demo logins work; its first
  // line ("ZeltoCom chat site: http://...") tells a waiting caller that the
  // site takes requests.
  void PrintWelcome();
  // One line on `out`, timestamped like every other.
  void Say(const std::string& line) { out_.Info(line); }

  boost::asio::io_context& io() { return io_; }
  unsigned short port() const;
  // "http://127.0.0.1:8080/"
  std::string BaseUrl() const;
  SessionStore& sessions() { return *sessions_; }
  LongPoll& long_poll() { return *long_poll_; }
  const HttpServer& server() const { return *server_; }

 private:
  RunningSite(const SiteOptions& options, const SiteSurroundings& surroundings);

  bool CheckDataFolder(StartFailure* failure);
  bool OpenAccessLog(StartFailure* failure);
  bool Bind(StartFailure* failure);
  bool LockDataFolder(StartFailure* failure);
  bool Register(StartFailure* failure);
  bool PrepareDatabases(StartFailure* failure);
  bool MakeFirstAdministrator(const SiteDatabase& db, StartFailure* failure);
  bool LoadSecret(StartFailure* failure);
  // Everything that cannot fail: the parts, the sinks, the timers.
  void Begin();
  void StartNotifier();
  void StartWebhookWorker(const WebhookRetry& retry);
  void SweepSessions();
  void FlushFailures();
  void PurgeOldData();
  // After a failed start: the access log file and the data folder this
  // start made go too.
  void Abandon();

  const SiteOptions options_;
  const Clock& clock_;
  LogStream out_;  // the start, the welcome, the stop
  LogStream log_;  // failures
  std::unique_ptr<LogStream> access_stream_;
  const bool on_server_;
  const DatabaseServer database_;
  const std::string data_dir_;  // absolute

  boost::asio::io_context io_{1};
  std::unique_ptr<AccessLogFile> access_log_;
  std::unique_ptr<AccessLog> access_;
  std::unique_ptr<DataFolderLock> data_lock_;  // SQLite only
  bool made_data_dir_ = false;
  boost::asio::ip::tcp::acceptor listener_{io_};
  std::string site_secret_;
  bool started_ = false;  // Begin ran: sinks, settings and timers to undo
  InternetSettings fetch_settings_before_;

  std::unique_ptr<FailureLog> failures_;
  std::unique_ptr<WorkerPool> workers_;
  std::unique_ptr<SessionStore> sessions_;
  std::unique_ptr<LongPoll> long_poll_;
  std::unique_ptr<MembershipMemory> memberships_;  // before the notifier that clears it
  std::unique_ptr<TypingBoard> typing_;            // before the notifier that fills it
  std::unique_ptr<ConversationNotifier> notifier_;
  std::unique_ptr<Site> site_;
  std::unique_ptr<HttpServer> server_;
  // Sends the webhooks' deliveries on a thread of its own (before the site
  // it reads from goes).
  std::unique_ptr<Webhooks> webhooks_;
  std::unique_ptr<WebhookWorker> webhook_worker_;
  std::unique_ptr<Timer> sweeper_, failure_flusher_, purger_;
  WallClock wall_clock_;
  std::atomic<bool> purging_{false};
};

}  // namespace zelto::serve
