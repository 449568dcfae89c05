#include "host/serve/running_site.h"

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>
#include <filesystem>

#include "host/component_call.h"
#include "host/module_path.h"
#include "host/serve/administration.h"
#include "host/serve/password.h"
#include "host/serve/retention.h"
#include "host/serve/site_secret.h"
#include "host/serve/static_files.h"
#include "host/version.h"
#include "platform/ado/engine_failures.h"
#include "platform/inet/http_fetch.h"
#include "platform/win/message_box.h"

namespace zelto::serve {
namespace {

namespace asio = boost::asio;

constexpr size_t kWorkQueueLimit = 4096;

std::string AbsoluteFolder(const std::string& dir) {
  return std::filesystem::absolute(dir).lexically_normal().string();
}

DatabaseServer DatabaseOf(const SiteOptions& options, bool on_server) {
  const DatabaseLogin& login = options.login;
  return DatabaseServer{on_server ? login.server.value_or("") : AbsoluteFolder(options.data_dir),
                        login.user.value_or(""), login.password.value_or("")};
}

}  // namespace

std::unique_ptr<RunningSite> RunningSite::Start(const SiteOptions& options,
                                                const SiteSurroundings& surroundings,
                                                StartFailure* failure) {
  std::unique_ptr<RunningSite> site(new RunningSite(options, surroundings));
  // What fails without changing anything goes first: a taken port or an
  // unwritable log never leaves new databases behind.
  if (!site->CheckDataFolder(failure) || !site->OpenAccessLog(failure) || !site->Bind(failure) ||
      !site->LockDataFolder(failure) || !site->Register(failure) ||
      !site->PrepareDatabases(failure) || !site->LoadSecret(failure)) {
    site->Abandon();
    return nullptr;
  }
  site->Begin();
  return site;
}

RunningSite::RunningSite(const SiteOptions& options, const SiteSurroundings& surroundings)
    : options_(options),
      clock_(*surroundings.clock),
      out_(surroundings.out, options.log_format, surroundings.wall_clock),
      log_(surroundings.log, options.log_format, surroundings.wall_clock),
      on_server_(EngineIsServer()),
      database_(DatabaseOf(options, on_server_)),
      data_dir_(AbsoluteFolder(options.data_dir)),
      wall_clock_(surroundings.wall_clock) {}

bool RunningSite::CheckDataFolder(StartFailure* failure) {
  failure->status = StartFailure::kCannotStart;
  return on_server_ ||
         serve::CheckDataFolder(data_dir_, &failure->message) != DataFolderResult::kRefused;
}

bool RunningSite::OpenAccessLog(StartFailure* failure) {
  access_log_ = AccessLogFile::Open(options_.access_log, out_.out(), &failure->message);
  failure->status = StartFailure::kUsage;
  if (!access_log_) return false;
  access_stream_ = std::make_unique<LogStream>(access_log_->stream(), options_.log_format,
                                               [this] { return out_.Now(); });
  access_ = std::make_unique<AccessLog>(access_log_->stream() ? access_stream_.get() : nullptr);
  return true;
}

bool RunningSite::Bind(StartFailure* failure) {
  boost::system::error_code ec;
  const auto address = asio::ip::make_address(options_.address, ec);
  if (ec) {
    failure->status = StartFailure::kUsage;
    failure->message = "cannot listen on '" + options_.address + "': " + ec.message();
    return false;
  }
  failure->status = StartFailure::kAddressInUse;
  return OpenListener({address, options_.port}, &listener_, &failure->message);
}

// The folder is made here when missing (and removed again when the start
// fails later), so that it can be locked before anything is written in it.
bool RunningSite::LockDataFolder(StartFailure* failure) {
  if (on_server_) return true;
  failure->status = StartFailure::kCannotStart;
  std::error_code ec;
  if (!std::filesystem::exists(data_dir_, ec)) {
    made_data_dir_ = std::filesystem::create_directories(data_dir_, ec);
    if (ec) {
      failure->message = "cannot create " + data_dir_ + ": " + ec.message();
      return false;
    }
  }
  data_lock_ = DataFolderLock::Take(data_dir_, &failure->message);
  return data_lock_ != nullptr;
}

bool RunningSite::PrepareDatabases(StartFailure* failure) {
  failure->status = StartFailure::kCannotStart;
  std::string message;
  const DataFolderResult prepared = on_server_
                                        ? PrepareDatabaseServer(database_, options_.demo, &message)
                                        : PrepareDataFolder(data_dir_, options_.demo, &message);
  if (prepared == DataFolderResult::kRefused) {
    failure->message = message;
    return false;
  }
  out_.Info(message);
  const SiteDatabase db(database_.address, database_.user, database_.password);
  failure->message = RefusedDemoLogins(db, options_.demo);
  return failure->message.empty() && MakeFirstAdministrator(db, failure);
}

// With --admin-password-file on a site where nobody can log in yet:
// company 1 (when there is none) and its administrator, operator 1.
bool RunningSite::MakeFirstAdministrator(const SiteDatabase& db, StartFailure* failure) {
  std::string error;
  const std::optional<bool> none = Administration(db).NoLogins(&error);
  if (!none) failure->message = "cannot read the operators: " + error;
  if (!none || !*none || !options_.admin_password) return none.has_value();
  const AdminResult made =
      Administration(db).AddFirstAdministrator(HashPassword(*options_.admin_password));
  if (!made) {
    failure->message = "cannot make the first administrator: " + made.message;
    return false;
  }
  out_.Info("first administrator: operator " + std::to_string(made.id) +
            " (log in at /operator/login.html)");
  return true;
}

bool RunningSite::Register(StartFailure* failure) {
  failure->status = StartFailure::kCannotStart;
  std::string message, module;
  if (HRESULT hr = EnsureRegistered(&message, &module); FAILED(hr)) {
    failure->message = "cannot register the component: " + message;
    return false;
  }
  out_.Info(std::string("zelto ") + ProductVersion() + ", component module " + module);
  return true;
}

bool RunningSite::LoadSecret(StartFailure* failure) {
  // Every host of one database signs visitor cookies with the same key.
  std::string error;
  const auto secret =
      LoadSiteSecret(SiteDatabase(database_.address, database_.user, database_.password), &error);
  if (!secret) {
    failure->status = StartFailure::kCannotStart;
    failure->message = "the site secret: " + error;
    return false;
  }
  site_secret_ = *secret;
  return true;
}

void RunningSite::Abandon() {
  if (access_log_) access_log_->Discard();
  data_lock_.reset();
  std::error_code ec;
  // Only when nothing but what this start made is in it.
  if (made_data_dir_ && std::filesystem::is_empty(data_dir_, ec))
    std::filesystem::remove(data_dir_, ec);
}

void RunningSite::Begin() {
  started_ = true;
  // Failures are logged once with their cause, not once per request.
  failures_ =
      std::make_unique<FailureLog>([this](const std::string& line) { log_.Error(line); },
                                   Seconds(options_.failure_log_seconds), "zelto serve: ", clock_);
  FailureLog* failures = failures_.get();
  ado::SetEngineFailureSink(
      [failures](std::string_view engine, std::string_view what, std::string_view error) {
        failures->Failed("database " + std::string(what) + " (" + std::string(engine) + ")", error);
      });
  SetMessageBoxSink([failures](std::string_view caption, std::string_view text) {
    failures->Failed("[message box] " + std::string(caption), text);
  });

  workers_ = std::make_unique<WorkerPool>(options_.threads, kWorkQueueLimit);
  const DatabaseServer database = database_;
  sessions_ = std::make_unique<SessionStore>(
      Seconds(options_.session_minutes * 60),
      [database](SessionValues& values) {
        SetDefaultDatabaseSettings(values, database.address);
        values.SetText("DBUserName", database.user);
        values.SetText("DBPWD", database.password);
      },
      options_.max_sessions, clock_);

  fetch_settings_before_ = InternetGetSettings();
  InternetSettings fetch = fetch_settings_before_;
  fetch.transfer_timeout_ms = static_cast<int64_t>(options_.fetch_seconds * 1000);
  fetch.connect_timeout_ms = std::min(fetch.connect_timeout_ms, fetch.transfer_timeout_ms);
  // An operator's comparison must not reach into this machine or its network.
  fetch.public_only = !options_.fetch_allow_private;
  InternetSetSettings(fetch);

  long_poll_ =
      std::make_unique<LongPoll>(io_, options_.long_poll_max, std::chrono::seconds(2), clock_);
  memberships_ = std::make_unique<MembershipMemory>(clock_);
  typing_ = std::make_unique<TypingBoard>(clock_);
  StartNotifier();

  SiteConfig config;
  config.site_secret = site_secret_;
  config.data_dir = database_.address;
  config.db_user = database_.user;
  config.db_password = database_.password;
  config.charset = options_.charset;
  config.www_root = options_.www_root.empty() ? FindWwwRoot() : options_.www_root;
  out_.Info("pages from " + config.www_root.string());
  config.files_dir = std::filesystem::path(data_dir_) / "files";
  config.failure_log = failures;
  // A page fetch may hold its worker up to the fetch's time limit: one
  // worker stays for every other page.
  config.fetch_limit = std::max<size_t>(1, options_.threads - 1);
  if (options_.long_poll_max > 0) config.long_poll = long_poll_.get();
  config.stored = [this](LONG cid) {
    long_poll_->Wake(cid);
    if (notifier_) notifier_->Publish(cid);
  };
  config.clock = &clock_;
  config.shared_sessions = on_server_;
  config.memberships = memberships_.get();
  config.typing = typing_.get();
  if (notifier_) {
    config.share_typing = [this](const TypingNote& note) {
      notifier_->PublishNote(TypingBoard::Encode(note));
    };
  }
  config.limits = LimitsOf(options_);
  if (!options_.trusted_proxies.empty()) {
    config.trusted_proxies = TrustedProxies();
    for (const std::string& proxy : options_.trusted_proxies) config.trusted_proxies.Add(proxy);
  }
  config.public_url = options_.public_url;
  config.webhook_retry.first_delay = static_cast<int64_t>(options_.webhook_retry_seconds);
  config.webhook_retry.max_attempts = static_cast<int>(options_.webhook_attempts);
  config.webhook_queued = [this] { webhook_worker_->Wake(); };
  site_ = std::make_unique<Site>(config, *workers_, *sessions_);
  StartWebhookWorker(config.webhook_retry);

  // The descriptors the system allows, and a share of them per client, so
  // that one client's connections never take them all.
  const size_t open_files = RaiseOpenFileLimit();
  HttpLimits limits;
  limits.connections_per_address =
      std::min(options_.connections_per_address, std::max<size_t>(open_files / 4, 1));
  limits.header_timeout = std::chrono::milliseconds(static_cast<long>(options_.header_seconds * 1000));
  server_ = std::make_unique<HttpServer>(io_, *site_, limits, access_.get());
  server_->OnFailure(
      [failures](std::string_view what, std::string_view cause) { failures->Failed(what, cause); });
  server_->Serve(std::move(listener_));

  sweeper_ = clock_.NewTimer(io_);
  failure_flusher_ = clock_.NewTimer(io_);
  purger_ = clock_.NewTimer(io_);
  asio::post(io_, [this] {
    SweepSessions();
    FlushFailures();
    if (options_.retain_days > 0) PurgeOldData();
  });
}

// Deliveries queued before the start (or by other hosts) go out too.
void RunningSite::StartWebhookWorker(const WebhookRetry& retry) {
  webhooks_ = std::make_unique<Webhooks>(site_->database(), WallSecondsNow, retry);
  WebhookSendOptions send;
  send.allow_http = options_.webhook_allow_http;
  send.allow_private = options_.webhook_allow_private;
  send.ca_file = options_.webhook_ca_file;
  webhook_worker_ =
      std::make_unique<WebhookWorker>(*webhooks_, HttpWebhookTransport(send), *failures_);
  webhook_worker_->Start();
}

// Polls held for a message are woken by this host's posts, and on a
// database server by the other hosts' (LISTEN/NOTIFY on a connection of
// the notifier's own).
void RunningSite::StartNotifier() {
  if (!on_server_ || options_.long_poll_max == 0) return;
  long_poll_->SetNotificationsReliable(false);  // until the notifier is listening
  LongPoll* long_poll = long_poll_.get();
  notifier_ = std::make_unique<ConversationNotifier>(
      database_, kChatCatalog,
      [long_poll, memberships = memberships_.get()](LONG cid) {
        memberships->Forget(cid);  // a member may have left there
        long_poll->Wake(cid);
      },
      [long_poll](bool linked) { long_poll->SetNotificationsReliable(linked); },
      [this](const std::string& line) { log_.Error(line); });
  // Another host's typist: the board takes it as told there, and wakes here.
  notifier_->OnNote([long_poll, typing = typing_.get()](const std::string& text) {
    const std::optional<TypingNote> note = TypingBoard::Decode(text);
    if (note && typing->Apply(*note, false)) long_poll->Wake(note->cid);
  });
  notifier_->Start();
}

// Sessions end when unused for the timeout: a sweep a few times per timeout.
void RunningSite::SweepSessions() {
  auto ended = sessions_->Sweep();
  // Visitors leaving must not be lost to a full queue: then do it here.
  Site* site = site_.get();
  if (!ended.empty() && !workers_->Submit([site, ended] { site->EndSessions(ended); }))
    site_->EndSessions(ended);
  if (on_server_) workers_->Submit([site] { site->SweepSharedSessions(); });
  const Duration period = std::clamp<Duration>(
      sessions_->timeout() / 4, std::chrono::milliseconds(50), std::chrono::seconds(30));
  sweeper_->WaitUntil(clock_.Now() + period, [this] { SweepSessions(); });
}

// Retention: a purge on a worker now and every hour (one at a time; in
// short transactions, so that requests wait at most one batch).
void RunningSite::PurgeOldData() {
  if (!purging_.exchange(true)) {
    const SiteDatabase& db = site_->database();
    const std::string cutoff = CutoffText(wall_clock_(), options_.retain_days);
    const std::filesystem::path files = std::filesystem::path(data_dir_) / "files";
    const bool queued = workers_->Submit([this, &db, cutoff, files] {
      PurgeCounts counts;
      std::string error;
      if (!Retention(db, files).Purge(cutoff, &counts, &error))
        failures_->Failed("retention purge", error);
      site_->FilesRemoved(counts.file_bytes);
      if (counts.conversations + counts.tracks + counts.addresses > 0)
        out_.Info("retention: removed " + counts.Summary() + " older than " + cutoff);
      purging_ = false;
    });
    if (!queued) purging_ = false;
  }
  purger_->WaitUntil(clock_.Now() + std::chrono::hours(1), [this] { PurgeOldData(); });
}

// Counts of repeated failures, and the end of those no longer seen.
void RunningSite::FlushFailures() {
  failures_->Flush();
  const Duration period =
      std::min<Duration>(Seconds(options_.failure_log_seconds) / 2, std::chrono::seconds(1));
  failure_flusher_->WaitUntil(clock_.Now() + period, [this] { FlushFailures(); });
}

// One write: whoever sees its first line sees the demo logins too.
void RunningSite::PrintWelcome() {
  if (!out_.out()) return;
  const std::string base = BaseUrl();
  std::vector<std::string> lines = {
      "ZeltoCom chat site: " + base,
      "  start page            " + base,
      "  company site          " + base + "site/index.html  (visitors start here)",
      "  operator login        " + base + "operator/login.html",
  };
  // What a company pastes into its own pages (docs/embedding.md).
  std::string announced = options_.public_url.empty() ? base : options_.public_url;
  if (!announced.ends_with('/')) announced += '/';
  lines.push_back("  chat snippet          <script src=\"" + announced +
                  "widget.js\" data-company=\"1\" async></script>");
  const auto logins =
      WorkingDemoLogins(SiteDatabase(database_.address, database_.user, database_.password));
  if (!logins.empty()) lines.push_back("  demo operators (id / password):");
  for (const auto& login : logins) {
    char line[128];
    std::snprintf(line, sizeof line, "    %-3d %s  %s", static_cast<int>(login.id), login.name,
                  login.password);
    lines.push_back(line);
  }
  std::string error;
  if (Administration(SiteDatabase(database_.address, database_.user, database_.password))
          .NoLogins(&error)
          .value_or(false)) {
    const std::string where = on_server_ ? "--engine postgresql --server " + database_.address +
                                               " --user U --db-password-file F"
                                         : "--data " + data_dir_;
    lines.push_back("  no operator can log in yet; make the first administrator with");
    lines.push_back("    zelto company add " + where + " --name NAME");
    lines.push_back("    zelto operator add " + where +
                    " --company 1 --name NAME --rights list,invite,monitor,admin");
    lines.push_back("  (or start once with --admin-password-file FILE)");
  }
  out_.Info(lines);
}

unsigned short RunningSite::port() const { return server_->port(); }

std::string RunningSite::BaseUrl() const {
  const bool v6 = options_.address.find(':') != std::string::npos;
  const std::string host = v6 ? "[" + options_.address + "]" : options_.address;
  return "http://" + host + ":" + std::to_string(port()) + "/";
}

void RunningSite::Run() { io_.run(); }

void RunningSite::Stop() {
  // A send cut short now is not counted as an attempt.
  if (webhook_worker_) webhook_worker_->AskToStop();
  // A page fetch would hold its worker, and so the stop, up to its time limit.
  CancelFetchesInProgress();
  asio::post(io_, [this] {
    server_->Stop();
    long_poll_->Stop();
    sweeper_->Cancel();
    failure_flusher_->Cancel();
    purger_->Cancel();
  });
}

RunningSite::~RunningSite() {
  if (!started_) return;
  if (!io_.stopped()) {
    // Never run, or not to its end: stop and let what is pending finish.
    Stop();
    io_.restart();
    io_.run();
  }
  if (notifier_) notifier_->Stop();
  webhook_worker_->Stop();
  workers_->Stop();
  site_->EndSessions(sessions_->Sweep(true));
  ado::SetEngineFailureSink(nullptr);
  SetMessageBoxSink(nullptr);
  InternetSetSettings(fetch_settings_before_);
  failures_->Summarize();
  out_.Info("zelto serve: stopped");
}

}  // namespace zelto::serve
