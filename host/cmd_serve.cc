// zelto serve: the chat site over HTTP. See docs/site.md for the routes.
#include <signal.h>

#include <boost/asio/signal_set.hpp>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "host/code_page_option.h"
#include "host/command.h"
#include "host/command_line.h"
#include "host/database_login.h"
#include "host/password_file.h"
#include "host/serve/administration.h"
#include "host/serve/forwarded.h"
#include "host/serve/running_site.h"
#include "host/serve/site_options.h"
#include "platform/win/codepage.h"

namespace zelto {

using serve::SiteOptions;

CommandLine ServeCommandLine(SiteOptions* options) {
  CommandLine line(
      "serve", "",
      "Serves the chat site: the company site where visitors start, the visitors' "
      "and operators' chat windows, the console, the monitor and the administration page. "
      "On a PostgreSQL server (--engine postgresql --server HOST[:PORT] --user U --password P) "
      "the site uses its databases chat and count, created when neither exists; any number "
      "of hosts may share them.");
  line.Option("--data", "DIR",
              "databases and attachments (default ./data); a missing or "
              "empty folder gets new, empty databases. With a "
              "database server, only the attachments (DIR/files)",
              TextValue(&options->data_dir, "a folder"))
      .Option("--listen", "ADDR:PORT",
              "where to listen (default 127.0.0.1:8080): ADDR:PORT, PORT or :PORT (on "
              "127.0.0.1), ADDR (port 8080); [V6]:PORT for IPv6; port 0 picks one",
              [options](std::string_view name, const std::string& value) -> std::string {
                if (serve::ParseListenAddress(value, &options->address, &options->port)) return "";
                return std::string(name) + " wants ADDR:PORT, PORT, :PORT or ADDR, not '" + value +
                       "'";
              })
      .Option("--threads", "N",
              "worker threads for the component and the database "
              "(default: one per core, at least 2)",
              IntegerValue(&options->threads, 1, 256))
      .Option("--session-timeout", "MIN",
              "minutes a session lives unused (default 20; decimals allowed)",
              DecimalValue(
                  &options->session_minutes, [](double m) { return m > 0 && m <= 7 * 24 * 60; },
                  "minutes above 0 (at most a week)"))
      .Option("--max-sessions", "N",
              "sessions at most at once (default 100000); at the limit "
              "expired ones make room, else new visitors get 503 (a tenth, "
              "at most 1000, is kept for operators' logins)",
              IntegerValue(&options->max_sessions, 1, 100'000'000))
      .Option("--charset", "CS", "charset of the component pages (utf-8, or gbk)",
              [options](std::string_view, const std::string& value) -> std::string {
                auto charset = PageCharsetFromName(value);
                if (!charset) return "unknown charset '" + value + "' (utf-8 or gbk)";
                options->charset = *charset;
                return "";
              })
      .Option("--access-log", "FILE",
              "one line per request to FILE, '-' for stdout (default), 'off'",
              TextValue(&options->access_log, "FILE, '-' or 'off'"))
      .Option("--www", "DIR",
              "the site's pages (default: $ZELTO_WWW, else those installed with the "
              "program, else the source tree's)",
              [options](std::string_view name, const std::string& value) -> std::string {
                if (value.empty()) return std::string(name) + " needs a folder";
                options->www_root = value;
                return "";
              })
      .Option("--log-format", "FORMAT",
              "text (default: each line headed by its ISO 8601 time; the access log in the "
              "combined format) or json (one object per line, for log collectors)",
              [options](std::string_view, const std::string& value) -> std::string {
                auto format = serve::LogFormatFromName(value);
                if (!format) return "unknown log format '" + value + "' (text or json)";
                options->log_format = *format;
                return "";
              })
      .Option("--long-poll-max", "N",
              "polls held at most at once waiting for a message (a poll "
              "page's wait=SECONDS, up to 25; default 10000, 0: none)",
              IntegerValue(&options->long_poll_max, 0, 1'000'000))
      .Option("--fetch-timeout", "SEC",
              "the longest a page fetch of CheckDomain may take (default "
              "30); such fetches use at most all workers but one",
              DecimalValue(
                  &options->fetch_seconds, [](double s) { return s >= 0.1 && s <= 3600; },
                  "seconds from 0.1 to 3600"))
      .Option(
          "--failure-log-interval", "SEC",
          "a failure (database, fetch, sessions) is logged once with "
          "its cause; its repeats as a count at most every SEC "
          "seconds, and once more when not seen for SEC (default 60)",
          DecimalValue(
              &options->failure_log_seconds, [](double s) { return s >= 0.1 && s <= 24 * 3600; },
              "seconds from 0.1 to 86400"))
      .Flag("--demo",
            "new databases get the demo data set (company 1, operators 5/demo5, 12/demo12, "
            "7/demo7); without it, a site whose demo operators keep these published "
            "passwords is refused",
            [options] { options->demo = true; })
      .Option("--retain-days", "N",
              "remove ended conversations (with their messages and attachments), visit "
              "tracks and address records older than N days: at the start and every hour "
              "(default: keep everything)",
              DecimalValue(
                  &options->retain_days, [](double d) { return d > 0 && d <= 100 * 366; },
                  "days above 0 (at most 100 years)"))
      .Option("--admin-password-file", "FILE",
              "when no operator can log in yet, make the first administrator (operator 1 "
              "of company 1, or the next free id) with the password in FILE's first line",
              [options](std::string_view name, const std::string& value) -> std::string {
                std::string password, error;
                if (!ReadPasswordFile(value, &password, &error))
                  return std::string(name) + ": " + error;
                if (std::string refused = serve::RefusedPassword(password); !refused.empty())
                  return std::string(name) + ": " + refused;
                options->admin_password = password;
                return "";
              })
      .Option("--message-rate", "N", "a visitor's messages per second after a burst (default 1; 0: no limit)",
              DecimalValue(&options->message_rate, [](double n) { return n >= 0 && n <= 1000; },
                           "messages per second from 0 to 1000"))
      .Option("--message-burst", "N", "messages a visitor may send at once (default 10)",
              IntegerValue(&options->message_burst, 1, 1000))
      .Option("--upload-session-max", "MIB", "uploads of one visitor session, MiB (default 10)",
              IntegerValue(&options->upload_session_mib, 1, 1'000'000))
      .Option("--upload-address-max", "MIB", "uploads per client address and hour, MiB (default 100)",
              IntegerValue(&options->upload_address_mib, 1, 1'000'000))
      .Option("--files-max", "MIB", "the attachments folder at most, MiB (default 1024)",
              IntegerValue(&options->files_mib, 1, 100'000'000))
      .Option("--visitor-sessions-per-address", "N", "visitor sessions one client address holds (default 100)",
              IntegerValue(&options->visitor_sessions_per_address, 1, 100'000'000))
      .Option("--login-failures", "N", "failed logins in a row that delay an operator id's next (default 10)",
              IntegerValue(&options->login_failures, 1, 1'000'000))
      .Option("--login-address-failures", "N", "failed logins that delay a client address's next (default 50)",
              IntegerValue(&options->login_address_failures, 1, 1'000'000))
      .Option("--connections-per-address", "N", "open connections one client address holds (default 256)",
              IntegerValue(&options->connections_per_address, 1, 1'000'000))
      .Option("--header-timeout", "SEC", "a new connection's first request header within (default 10)",
              DecimalValue(&options->header_seconds, [](double s) { return s >= 0.1 && s <= 3600; },
                           "seconds from 0.1 to 3600"))
      .Option("--trusted-proxy", "ADDR|CIDR",
              "a reverse proxy whose X-Forwarded-For, -Proto and -Host are believed "
              "(repeatable; default: loopback, 127.0.0.0/8 and ::1)",
              [options](std::string_view name, const std::string& value) -> std::string {
                if (!serve::TrustedProxies().Add(value))
                  return std::string(name) + ": '" + value + "' is not an address or CIDR block";
                options->trusted_proxies.push_back(value);
                return "";
              })
      .Option("--public-url", "URL",
              "the address visitors use (https://chat.example.com): the scheme and host "
              "the pages and the snippet announce, whatever the request says",
              [options](std::string_view name, const std::string& value) -> std::string {
                serve::ClientView view;
                if (!serve::ApplyPublicUrl(value, &view))
                  return std::string(name) + ": '" + value + "' is not an http(s) address";
                options->public_url = value;
                return "";
              })
      .Flag("--fetch-allow-private",
            "CheckDomain may fetch loopback, private, link-local and unique-local addresses",
            [options] { options->fetch_allow_private = true; })
      .Flag("--webhook-allow-http", "webhooks may be sent to plain http:// addresses",
            [options] { options->webhook_allow_http = true; })
      .Flag("--webhook-allow-private",
            "webhooks may be sent to loopback, private, link-local and unique-local addresses",
            [options] { options->webhook_allow_private = true; })
      .Option("--webhook-ca", "FILE",
              "the certificates (PEM) webhook receivers' https certificates are checked "
              "against, instead of the system's",
              TextValue(&options->webhook_ca_file))
      .Option("--webhook-retry-seconds", "N",
              "seconds before a failed webhook delivery is tried again; doubled each time, "
              "at most an hour (default 10)",
              IntegerValue(&options->webhook_retry_seconds, 1, 3600))
      .Option("--webhook-attempts", "N",
              "attempts of a webhook delivery before it is given up (default 8)",
              IntegerValue(&options->webhook_attempts, 1, 100));
  AddCodePageOption(line, &options->code_page, CP_UTF8);
  AddDatabaseLoginOptions(line, &options->login);
  line.ConfigFile();
  line.Epilogue(
      "Stops on SIGINT or SIGTERM after answering the requests in progress.\n"
      "Exit status: 0 stopped, 1 cannot start (data folder, database server, module),\n"
      "2 usage error, 3 the address cannot be listened on (in use).\n");
  return line;
}

namespace {

// A stop asked for while the site starts: noted here, acted on once it
// has started (a start is never cut in the middle of making databases).
volatile std::sig_atomic_t stop_asked = 0;

void NoteStop(int) { stop_asked = 1; }

void NoteStopsDuringStart() {
  struct sigaction action {};
  action.sa_handler = NoteStop;
  action.sa_flags = SA_RESETHAND;  // a second signal ends a start that hangs
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

int RunServe(const std::vector<std::string>& args) {
  NoteStopsDuringStart();
  SiteOptions options;
  const CommandLine line = ServeCommandLine(&options);
  std::vector<std::string> operands;
  if (const int status = line.ParseOrExit(args, &operands); status >= 0) return status;
  if (std::string error = serve::CheckSiteOptions(options); !error.empty())
    return line.UsageError(error);
  ApplyCodePage(options.code_page, CP_UTF8);

  serve::StartFailure failure;
  std::unique_ptr<serve::RunningSite> site =
      serve::RunningSite::Start(options, serve::SiteSurroundings{}, &failure);
  if (!site) {
    if (failure.status == serve::StartFailure::kUsage) return line.UsageError(failure.message);
    serve::LogStream(stderr, options.log_format).Error("zelto serve: " + failure.message);
    return failure.status;
  }
  // Caught before the welcome says the site is there: a stop asked for
  // right after it is a clean stop.
  boost::asio::signal_set signals(site->io(), SIGINT, SIGTERM);
  signals.async_wait([&site](const boost::system::error_code& ec, int signal) {
    if (ec) return;
    site->Say("zelto serve: signal " + std::to_string(signal) +
              ", stopping after the requests in progress");
    site->Stop();
  });
  if (stop_asked) {
    site->Say("zelto serve: stop asked for while starting");
    signals.cancel();  // its wait would keep Run going
    site->Stop();
  } else {
    site->PrintWelcome();
  }
  site->Run();
  return 0;
}

}  // namespace zelto
