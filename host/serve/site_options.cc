#include "host/serve/site_options.h"

#include <boost/asio/ip/address.hpp>
#include <charconv>
#include <thread>

#include "platform/ado/engine.h"

namespace zelto::serve {

size_t DefaultWorkerThreads() { return std::max(2u, std::thread::hardware_concurrency()); }

namespace {

// A decimal port, 0 to 65535.
bool ParsePort(std::string_view digits, unsigned short* port) {
  unsigned value = 0;
  const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || parsed.ec != std::errc() || parsed.ptr != digits.data() + digits.size() ||
      value > 65535)
    return false;
  *port = static_cast<unsigned short>(value);
  return true;
}

// An IPv4 or IPv6 address, or "localhost" (127.0.0.1), in `address`.
bool ParseHost(std::string host, std::string* address) {
  if (host == "localhost") host = "127.0.0.1";
  boost::system::error_code ec;
  boost::asio::ip::make_address(host, ec);
  if (ec) return false;
  *address = host;
  return true;
}

}  // namespace

bool ParseListenAddress(const std::string& text, std::string* address, unsigned short* port) {
  std::string host = kDefaultListenAddress;
  unsigned short number = kDefaultListenPort;
  const std::string_view view(text);
  bool ok;
  if (!view.empty() && view.find_first_not_of("0123456789") == std::string_view::npos) {
    ok = ParsePort(view, &number);  // PORT
  } else if (view.size() > 1 && view.front() == ':' &&
             view.find_first_not_of("0123456789", 1) == std::string_view::npos) {
    ok = ParsePort(view.substr(1), &number);  // :PORT
  } else if (!view.empty() && view.front() == '[') {
    const size_t close = view.find(']');  // [V6] or [V6]:PORT
    const std::string_view rest = close == std::string_view::npos ? view : view.substr(close + 1);
    ok = close != std::string_view::npos &&
         ParseHost(std::string(view.substr(1, close - 1)), &host) &&
         (rest.empty() || (rest.front() == ':' && ParsePort(rest.substr(1), &number)));
  } else if (ParseHost(text, &host)) {
    ok = true;  // ADDR alone, a bare IPv6 address included
  } else {
    const size_t colon = view.rfind(':');  // ADDR:PORT
    ok = colon != std::string_view::npos && colon > 0 &&
         view.substr(0, colon).find(':') == std::string_view::npos &&
         ParseHost(std::string(view.substr(0, colon)), &host) &&
         ParsePort(view.substr(colon + 1), &number);
  }
  if (!ok) return false;
  *address = host;
  *port = number;
  return true;
}

std::string CheckSiteOptions(const SiteOptions& options) {
  const DatabaseLogin& login = options.login;
  if (login.engine && !ado::SetDatabaseEngine(*login.engine))
    return "unknown database engine '" + *login.engine + "'";
  const ado::Engine* engine = ado::GetDatabaseEngine();
  if (!engine) return "unknown database engine in ZELTO_DB_ENGINE";
  if (EngineIsServer() && !login.server)
    return "the " + std::string(engine->Name()) + " engine needs --server HOST[:PORT]";
  if (!EngineIsServer() && (login.server || login.user || login.password))
    return "--server, --user and --password are for --engine postgresql";
  std::error_code ec;
  if (!options.www_root.empty() && !std::filesystem::is_directory(options.www_root, ec))
    return "--www " + options.www_root.string() + " is not a folder";
  return "";
}

bool EngineIsServer() {
  const ado::Engine* engine = ado::GetDatabaseEngine();
  return engine && engine->Name() != "sqlite";
}

AbuseLimits LimitsOf(const SiteOptions& options) {
  constexpr uint64_t kMiB = 1 << 20;
  AbuseLimits limits;
  limits.message_rate = options.message_rate;
  limits.message_burst = static_cast<double>(options.message_burst);
  limits.upload_session_bytes = options.upload_session_mib * kMiB;
  limits.upload_address_bytes = options.upload_address_mib * kMiB;
  limits.files_bytes = options.files_mib * kMiB;
  limits.sessions_per_address = options.visitor_sessions_per_address;
  limits.login_id_failures = options.login_failures;
  limits.login_address_failures = options.login_address_failures;
  return limits;
}

}  // namespace zelto::serve
