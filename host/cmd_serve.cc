// zelto serve: the chat site over HTTP. See docs/site.md for the routes.
#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/command.h"
#include "host/component_call.h"
#include "host/module_path.h"
#include "host/password_file.h"
#include "host/serve/conversation_notifier.h"
#include "host/serve/data_folder.h"
#include "host/serve/database_server.h"
#include "host/serve/failure_log.h"
#include "host/serve/http_server.h"
#include "host/serve/long_poll.h"
#include "host/serve/site.h"
#include "host/serve/site_secret.h"
#include "platform/ado/ado.h"
#include "platform/ado/engine.h"
#include "platform/ado/engine_failures.h"
#include "platform/inet/internet_settings.h"
#include "platform/win/message_box.h"

namespace zelto {
namespace {

namespace asio = boost::asio;
using serve::HttpServer;

constexpr char kUsage[] =
    "usage: zelto serve [--data DIR] [--listen ADDR:PORT] [--threads N] [--engine sqlite]\n"
    "                   [--session-timeout MIN] [--max-sessions N] [--charset utf-8|gbk]\n"
    "                   [--access-log FILE] [--failure-log-interval SEC] [--long-poll-max N]\n"
    "                   [--fetch-timeout SEC]\n"
    "       zelto serve --engine postgresql --server HOST[:PORT] --user U --password P\n"
    "                   [--data DIR] [other options as above]\n"
    "\n"
    "Serves the chat site: the demo company site where visitors start, the visitors'\n"
    "and operators' chat windows, the console and the monitor.\n"
    "\n"
    "  --data DIR             databases and attachments (default ./data); a missing or\n"
    "                         empty folder gets new databases with demo data. With a\n"
    "                         database server, only the attachments (DIR/files)\n"
    "  --listen ADDR:PORT     where to listen (default 127.0.0.1:8080; port 0 picks one)\n"
    "  --threads N            worker threads for the component and the database\n"
    "                         (default: one per core, at least 2)\n"
    "  --engine NAME          database engine: sqlite (default) or postgresql\n"
    "  --server HOST[:PORT]   the PostgreSQL server (or its socket directory); its\n"
    "                         databases chat and count are created with demo data\n"
    "                         when neither exists. Many hosts may share them.\n"
    "  --user U, --password P the database login (the sessions' DBUserName, DBPWD)\n"
    "  --password-file FILE   the password from FILE's first line instead (not shown\n"
    "                         in the process list)\n"
    "  --session-timeout MIN  minutes a session lives unused (default 20; decimals allowed)\n"
    "  --max-sessions N       sessions at most at once (default 100000); at the limit\n"
    "                         expired ones make room, else new visitors get 503\n"
    "  --charset CS           charset of the component pages (utf-8, or gbk)\n"
    "  --access-log FILE      one line per request to FILE, '-' for stdout (default), 'off'\n"
    "  --long-poll-max N      polls held at most at once waiting for a message (a poll\n"
    "                         page's wait=SECONDS, up to 25; default 10000, 0: none)\n"
    "  --fetch-timeout SEC    the longest a page fetch of CheckDomain may take (default\n"
    "                         30); such fetches use at most all workers but one\n"
    "  --failure-log-interval SEC\n"
    "                         a failure (database, fetch, sessions) is logged once with\n"
    "                         its cause; its repeats as a count at most every SEC\n"
    "                         seconds, and once more when not seen for SEC (default 60)\n"
    "\n"
    "Stops on SIGINT or SIGTERM after answering the requests in progress.\n"
    "Exit status: 0 stopped, 1 cannot start (data folder, database server, module),\n"
    "2 usage error, 3 the address cannot be listened on (in use).\n";

struct ServeOptions {
  std::string data_dir = "./data";
  std::string address = "127.0.0.1";
  unsigned short port = 8080;
  // One worker per core: more only queue on the same locks (measured with
  // bench/http_poll.sh: 4 workers on 2 cores poll at half the rate of 2).
  size_t threads = std::max(2u, std::thread::hardware_concurrency());
  std::optional<std::string> engine;
  std::optional<std::string> server;  // a database server in place of the data folder
  std::optional<std::string> user, password;
  double session_minutes = 20;
  size_t max_sessions = serve::SessionStore::kDefaultLimit;
  double failure_log_seconds = 60;
  double fetch_seconds = 30;
  PageCharset charset = PageCharset::kUtf8;
  std::string access_log = "-";
  size_t long_poll_max = 10000;
};

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "zelto serve: %s\n\n%s", reason.c_str(), kUsage);
  return 2;
}

bool ParseListen(const std::string& text, ServeOptions* options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  boost::system::error_code ec;
  asio::ip::make_address(host, ec);
  const std::string port = text.substr(colon + 1);
  char* end = nullptr;
  const long value = std::strtol(port.c_str(), &end, 10);
  if (ec || port.empty() || *end != '\0' || value < 0 || value > 65535) return false;
  options->address = host;
  options->port = static_cast<unsigned short>(value);
  return true;
}

std::string ParseOptions(const std::vector<std::string>& args, ServeOptions* options) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    std::optional<std::string> value;
    if (const size_t eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    static const char* kKnown[] = {"--data",          "--listen",          "--threads",
                                   "--engine",        "--session-timeout", "--charset",
                                   "--access-log",    "--server",          "--user",
                                   "--password",      "--max-sessions",    "--failure-log-interval",
                                   "--fetch-timeout", "--long-poll-max",   "--password-file"};
    bool known = false;
    for (const char* k : kKnown) known = known || arg == k;
    if (!known) return "unknown argument '" + arg + "'";
    if (!value) {
      if (i + 1 >= args.size()) return arg + " needs a value";
      value = args[++i];
    }
    char* end = nullptr;
    if (arg == "--data") {
      if (value->empty()) return "--data needs a folder";
      options->data_dir = *value;
    } else if (arg == "--listen") {
      if (!ParseListen(*value, options)) return "--listen wants ADDR:PORT, not '" + *value + "'";
    } else if (arg == "--threads") {
      const long n = std::strtol(value->c_str(), &end, 10);
      if (value->empty() || *end != '\0' || n < 1 || n > 256)
        return "--threads wants a number from 1 to 256";
      options->threads = static_cast<size_t>(n);
    } else if (arg == "--engine") {
      options->engine = *value;
    } else if (arg == "--server") {
      if (value->empty()) return "--server needs HOST[:PORT]";
      options->server = *value;
    } else if (arg == "--user") {
      options->user = *value;
    } else if (arg == "--password" || arg == "--password-file") {
      if (options->password) return "give --password or --password-file, once";
      std::string error;
      if (arg == "--password") {
        options->password = *value;
      } else if (!ReadPasswordFile(*value, &options->password.emplace(), &error)) {
        return "--password-file: " + error;
      }
    } else if (arg == "--session-timeout") {
      const double minutes = std::strtod(value->c_str(), &end);
      if (value->empty() || *end != '\0' || !std::isfinite(minutes) || minutes <= 0 ||
          minutes > 7 * 24 * 60)
        return "--session-timeout wants minutes above 0 (at most a week)";
      options->session_minutes = minutes;
    } else if (arg == "--max-sessions") {
      const long long n = std::strtoll(value->c_str(), &end, 10);
      if (value->empty() || *end != '\0' || n < 1 || n > 100'000'000)
        return "--max-sessions wants a number from 1 to 100000000";
      options->max_sessions = static_cast<size_t>(n);
    } else if (arg == "--fetch-timeout") {
      const double seconds = std::strtod(value->c_str(), &end);
      if (value->empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0.1 ||
          seconds > 3600)
        return "--fetch-timeout wants seconds from 0.1 to 3600";
      options->fetch_seconds = seconds;
    } else if (arg == "--failure-log-interval") {
      const double seconds = std::strtod(value->c_str(), &end);
      if (value->empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0.1 ||
          seconds > 24 * 3600)
        return "--failure-log-interval wants seconds from 0.1 to 86400";
      options->failure_log_seconds = seconds;
    } else if (arg == "--long-poll-max") {
      const long long n = std::strtoll(value->c_str(), &end, 10);
      if (value->empty() || *end != '\0' || n < 0 || n > 1'000'000)
        return "--long-poll-max wants a number from 0 to 1000000";
      options->long_poll_max = static_cast<size_t>(n);
    } else if (arg == "--charset") {
      auto charset = PageCharsetFromName(*value);
      if (!charset) return "unknown charset '" + *value + "' (utf-8 or gbk)";
      options->charset = *charset;
    } else {
      options->access_log = *value;
    }
  }
  return {};
}

void PrintWelcome(const std::string& base, const serve::SiteDatabase& db) {
  std::printf("ZeltoCom chat site: %s\n", base.c_str());
  std::printf("  start page            %s\n", base.c_str());
  std::printf("  demo company site     %ssite/index.html  (visitors start here)\n", base.c_str());
  std::printf("  operator login        %soperator/login.html\n", base.c_str());
  const auto logins = serve::WorkingDemoLogins(db);
  if (!logins.empty()) std::printf("  demo operators (id / password):\n");
  for (const auto& login : logins)
    std::printf("    %-3d %s  %s\n", static_cast<int>(login.id), login.name, login.password);
  std::fflush(stdout);
}

int RunServe(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  ServeOptions options;
  if (std::string error = ParseOptions(args, &options); !error.empty()) return UsageError(error);
  if (options.engine && !SetDatabaseEngine(options.engine->c_str()))
    return UsageError("unknown database engine '" + *options.engine + "'");

  const ado::Engine* engine = ado::GetDatabaseEngine();
  if (!engine) return UsageError("unknown database engine in ZELTO_DB_ENGINE");
  const bool on_server = engine->Name() != "sqlite";
  if (on_server && !options.server)
    return UsageError("the " + std::string(engine->Name()) + " engine needs --server HOST[:PORT]");
  if (!on_server && (options.server || options.user || options.password))
    return UsageError("--server, --user and --password are for --engine postgresql");

  const std::string data_dir =
      std::filesystem::absolute(options.data_dir).lexically_normal().string();
  const serve::DatabaseServer db_server{on_server ? *options.server : data_dir,
                                        options.user.value_or(""), options.password.value_or("")};
  std::string message;
  const serve::DataFolderResult prepared = on_server
                                               ? serve::PrepareDatabaseServer(db_server, &message)
                                               : serve::PrepareDataFolder(data_dir, &message);
  if (prepared == serve::DataFolderResult::kRefused) {
    std::fprintf(stderr, "zelto serve: %s\n", message.c_str());
    return 1;
  }
  std::printf("%s\n", message.c_str());
  if (HRESULT hr = EnsureRegistered(&message); FAILED(hr)) {
    std::fprintf(stderr, "zelto serve: cannot register the component: %s\n", message.c_str());
    return 1;
  }

  FILE* access_log = nullptr;
  if (options.access_log == "-") {
    access_log = stdout;
  } else if (options.access_log != "off") {
    access_log = std::fopen(options.access_log.c_str(), "a");
    if (!access_log) return UsageError("cannot open the access log " + options.access_log);
    setvbuf(access_log, nullptr, _IOLBF, 0);
  }

  asio::io_context io(1);
  serve::WorkerPool workers(options.threads, 4096);
  const auto timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double, std::ratio<60>>(options.session_minutes));
  serve::SessionStore sessions(
      timeout,
      [db_server](SessionValues& values) {
        SetDefaultDatabaseSettings(values, db_server.address);
        values.SetText("DBUserName", db_server.user);
        values.SetText("DBPWD", db_server.password);
      },
      options.max_sessions);
  // Failures are logged once with their cause, not once per request.
  const auto failure_interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(options.failure_log_seconds));
  serve::FailureLog failures(stderr, failure_interval);
  ado::SetEngineFailureSink(
      [&failures](std::string_view engine, std::string_view what, std::string_view error) {
        failures.Failed("database " + std::string(what) + " (" + std::string(engine) + ")", error);
      });
  SetMessageBoxSink([&failures](std::string_view caption, std::string_view text) {
    failures.Failed("[message box] " + std::string(caption), text);
  });
  // Every host of one database signs visitor cookies with the same key.
  const auto secret = serve::LoadSiteSecret(
      serve::SiteDatabase(db_server.address, db_server.user, db_server.password), &message);
  if (!secret) {
    std::fprintf(stderr, "zelto serve: the site secret: %s\n", message.c_str());
    return 1;
  }
  serve::SiteConfig config;
  config.site_secret = *secret;
  config.data_dir = db_server.address;
  config.db_user = db_server.user;
  config.db_password = db_server.password;
  config.charset = options.charset;
  config.www_root = serve::FindWwwRoot();
  config.files_dir = std::filesystem::path(data_dir) / "files";
  config.failure_log = &failures;
  // A page fetch may hold its worker up to the fetch's time limit: one
  // worker stays for every other page.
  config.fetch_limit = std::max<size_t>(1, options.threads - 1);
  InternetSettings fetch = InternetGetSettings();
  fetch.transfer_timeout_ms = static_cast<int64_t>(options.fetch_seconds * 1000);
  fetch.connect_timeout_ms = std::min(fetch.connect_timeout_ms, fetch.transfer_timeout_ms);
  InternetSetSettings(fetch);
  // Polls held for a message: woken by this host's posts, and on a database
  // server by the other hosts' (LISTEN/NOTIFY on a connection of their own).
  serve::LongPoll long_poll(io, options.long_poll_max);
  std::unique_ptr<serve::ConversationNotifier> notifier;
  if (on_server && options.long_poll_max > 0) {
    long_poll.SetNotificationsReliable(false);  // until the notifier is listening
    notifier = std::make_unique<serve::ConversationNotifier>(
        db_server, "chat", [&long_poll](LONG cid) { long_poll.Wake(cid); },
        [&long_poll](bool linked) { long_poll.SetNotificationsReliable(linked); });
    notifier->Start();
  }
  if (options.long_poll_max > 0) config.long_poll = &long_poll;
  config.stored = [&long_poll, &notifier](LONG cid) {
    long_poll.Wake(cid);
    if (notifier) notifier->Publish(cid);
  };
  serve::Site site(config, workers, sessions);
  serve::HttpServer server(io, site, serve::HttpLimits{}, access_log);
  server.OnFailure(
      [&failures](std::string_view what, std::string_view cause) { failures.Failed(what, cause); });

  const asio::ip::tcp::endpoint endpoint(asio::ip::make_address(options.address), options.port);
  if (!server.Listen(endpoint, &message)) {
    std::fprintf(stderr, "zelto serve: %s\n", message.c_str());
    return 3;
  }
  const bool v6 = endpoint.address().is_v6();
  const std::string base = "http://" + (v6 ? "[" + options.address + "]" : options.address) + ":" +
                           std::to_string(server.port()) + "/";
  PrintWelcome(base, serve::SiteDatabase(db_server.address, db_server.user, db_server.password));

  // Sessions end when unused for the timeout: a sweep a few times per timeout.
  asio::steady_timer sweeper(io);
  const auto period = std::clamp<std::chrono::steady_clock::duration>(
      timeout / 4, std::chrono::milliseconds(50), std::chrono::seconds(30));
  std::function<void()> schedule = [&] {
    sweeper.expires_after(period);
    sweeper.async_wait([&](boost::system::error_code ec) {
      if (ec) return;
      auto ended = sessions.Sweep();
      // Visitors leaving must not be lost to a full queue: then do it here.
      if (!ended.empty() && !workers.Submit([&site, ended] { site.EndSessions(ended); }))
        site.EndSessions(ended);
      schedule();
    });
  };
  schedule();

  // Counts of repeated failures, and the end of those no longer seen.
  asio::steady_timer failure_timer(io);
  std::function<void()> flush_failures = [&] {
    failure_timer.expires_after(std::min<std::chrono::steady_clock::duration>(
        failure_interval / 2, std::chrono::seconds(1)));
    failure_timer.async_wait([&](boost::system::error_code ec) {
      if (ec) return;
      failures.Flush();
      flush_failures();
    });
  };
  flush_failures();

  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](boost::system::error_code ec, int signal) {
    if (ec) return;
    std::printf("zelto serve: signal %d, stopping after the requests in progress\n", signal);
    std::fflush(stdout);
    server.Stop();
    long_poll.Stop();
    sweeper.cancel();
    failure_timer.cancel();
  });

  io.run();
  if (notifier) notifier->Stop();
  workers.Stop();
  site.EndSessions(sessions.Sweep(true));
  ado::SetEngineFailureSink(nullptr);
  SetMessageBoxSink(nullptr);
  failures.Summarize();
  std::printf("zelto serve: stopped\n");
  if (access_log && access_log != stdout) std::fclose(access_log);
  return 0;
}

}  // namespace

ZELTO_COMMAND("serve", "serve the chat site over HTTP (--data DIR --listen ADDR:PORT)", RunServe);

}  // namespace zelto
