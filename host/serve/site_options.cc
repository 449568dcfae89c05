#include "host/serve/site_options.h"

#include <boost/asio/ip/address.hpp>
#include <charconv>
#include <thread>

#include "platform/ado/engine.h"

namespace zelto::serve {

size_t DefaultWorkerThreads() { return std::max(2u, std::thread::hardware_concurrency()); }

bool ParseListenAddress(const std::string& text, std::string* address, unsigned short* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  boost::system::error_code ec;
  boost::asio::ip::make_address(host, ec);
  const std::string_view digits = std::string_view(text).substr(colon + 1);
  unsigned value = 0;
  const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec || digits.empty() || parsed.ec != std::errc() ||
      parsed.ptr != digits.data() + digits.size() || value > 65535)
    return false;
  *address = host;
  *port = static_cast<unsigned short>(value);
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
  return "";
}

bool EngineIsServer() {
  const ado::Engine* engine = ado::GetDatabaseEngine();
  return engine && engine->Name() != "sqlite";
}

}  // namespace zelto::serve
