#include "bench/chat_load/options.h"

#include <boost/asio/ip/address.hpp>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

namespace chatload {
namespace {

bool ParseNumber(const std::string& text, double low, double high, double* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(value >= low && value <= high)) return false;
  *out = value;
  return true;
}

template <typename T>
std::function<bool(Options&, const std::string&)> Number(T Options::*field, double low,
                                                         double high, bool whole = false) {
  return [=](Options& o, const std::string& text) {
    double value = 0;
    if (!ParseNumber(text, low, high, &value)) return false;
    if (whole && value != static_cast<double>(static_cast<long long>(value))) return false;
    o.*field = static_cast<T>(value);
    return true;
  };
}

bool AddOperator(Options& o, const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos || colon + 1 == text.size()) return false;
  double id = 0;
  if (!ParseNumber(text.substr(0, colon), 1, 2147483647, &id)) return false;
  o.operators.push_back({static_cast<long>(id), text.substr(colon + 1)});
  return true;
}

bool AddPid(std::vector<pid_t>* pids, const std::string& text) {
  double pid = 0;
  if (!ParseNumber(text, 1, 4194304, &pid) || pid != static_cast<pid_t>(pid)) return false;
  pids->push_back(static_cast<pid_t>(pid));
  return true;
}

// Each option's reader; false means its value is malformed or out of range.
const std::map<std::string, std::function<bool(Options&, const std::string&)>>& Readers() {
  static const auto* readers =
      new std::map<std::string, std::function<bool(Options&, const std::string&)>>{
          {"--duration", Number(&Options::duration, 1, 3600)},
          {"--drain", Number(&Options::drain, 0, 120)},
          {"--arrival-rate", Number(&Options::arrival_rate, 0.001, 1000)},
          {"--chat-share", Number(&Options::chat_share, 0, 1)},
          {"--message-interval", Number(&Options::message_interval, 0.05, 600)},
          {"--chat-messages", Number(&Options::chat_messages, 0, 10000, true)},
          {"--page-interval", Number(&Options::page_interval, 0.05, 600)},
          {"--pages", Number(&Options::pages, 1, 100, true)},
          {"--console-refresh", Number(&Options::console_refresh, 0.2, 600)},
          {"--operator-windows", Number(&Options::operator_windows, 0, 100000, true)},
          {"--writer-share", Number(&Options::writer_share, 0, 1)},
          {"--max-visitors", Number(&Options::max_visitors, 1, 100000, true)},
          {"--seed", Number(&Options::seed, 0, 9007199254740991.0, true)},
          {"--wait", Number(&Options::poll_wait, 0, 25, true)},
          {"--operator", AddOperator},
          {"--host-pid", [](Options& o, const std::string& t) { return AddPid(&o.host_pids, t); }},
          {"--pg-pid",
           [](Options& o, const std::string& t) {
             std::vector<pid_t> one;
             if (!AddPid(&one, t)) return false;
             o.pg_pid = one[0];
             return true;
           }},
          {"--pg-env",
           [](Options& o, const std::string& t) {
             o.pg_env = t;
             return !t.empty();
           }},
          {"--statement-counter",
           [](Options& o, const std::string& t) {
             o.statement_counters.push_back(t);
             return !t.empty();
           }},
          {"--label",
           [](Options& o, const std::string& t) {
             o.label = t;
             return !t.empty() && t.find('|') == std::string::npos;
           }},
          {"--result-row",
           [](Options& o, const std::string& t) {
             o.result_row = t;
             return !t.empty() && t.find('|') == std::string::npos;
           }},
      };
  return *readers;
}

}  // namespace

std::optional<Target> ParseLoopbackTarget(const std::string& text, std::string* error) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos) {
    *error = "--host " + text + ": give HOST:PORT";
    return std::nullopt;
  }
  std::string host = text.substr(0, colon);
  double port = 0;
  if (!ParseNumber(text.substr(colon + 1), 1, 65535, &port) || port != static_cast<int>(port)) {
    *error = "--host " + text + ": the port must be 1-65535";
    return std::nullopt;
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost") host = "127.0.0.1";
  boost::system::error_code ec;
  const auto address = boost::asio::ip::make_address(host, ec);
  if (ec || !address.is_loopback()) {
    *error = "--host " + text + ": only loopback addresses (127.0.0.0/8, ::1) are loaded";
    return std::nullopt;
  }
  return Target{address.to_string(), static_cast<unsigned short>(port)};
}

bool ReadOperatorsFile(const std::string& path, std::vector<OperatorLogin>* out,
                       std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = "--operators-file " + path + ": cannot be read";
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream words(line);
    std::string id, password, extra;
    if (!(words >> id) || id[0] == '#') continue;
    Options scratch;
    if (!(words >> password) || (words >> extra) || !AddOperator(scratch, id + ":" + password)) {
      *error = path + ":" + std::to_string(number) + ": expected \"ID PASSWORD\"";
      return false;
    }
    out->push_back(scratch.operators[0]);
  }
  return true;
}

ParsedOptions ParseOptions(const std::vector<std::string>& args) {
  Options options;
  long use_operators = -1;
  std::string error;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& name = args[i];
    if (name == "--help" || name == "-h") return {};
    if (i + 1 >= args.size()) return {std::nullopt, name + ": needs a value (see --help)"};
    const std::string& value = args[++i];
    if (name == "--host") {
      auto target = ParseLoopbackTarget(value, &error);
      if (!target) return {std::nullopt, error};
      options.hosts.push_back(*target);
    } else if (name == "--operators-file") {
      if (!ReadOperatorsFile(value, &options.operators, &error)) return {std::nullopt, error};
    } else if (name == "--operators") {
      double n = 0;
      if (!ParseNumber(value, 1, 100000, &n) || n != static_cast<long>(n))
        return {std::nullopt, "--operators " + value + ": give a count of at least 1"};
      use_operators = static_cast<long>(n);
    } else if (auto reader = Readers().find(name); reader != Readers().end()) {
      if (!reader->second(options, value)) return {std::nullopt, name + " " + value + ": invalid value"};
    } else {
      return {std::nullopt, name + ": unknown option (see --help)"};
    }
  }
  if (options.hosts.empty()) return {std::nullopt, "give at least one --host HOST:PORT"};
  if (options.operators.empty()) options.operators.push_back({5, "demo5"});
  if (use_operators > static_cast<long>(options.operators.size()))
    return {std::nullopt, "--operators " + std::to_string(use_operators) + ": only " +
                              std::to_string(options.operators.size()) + " logins given"};
  if (use_operators > 0) options.operators.resize(use_operators);
  return {options, ""};
}

std::string Usage() {
  return R"(usage: chat_load --host HOST:PORT [options]

Simulates a chat site's traffic against `zelto serve` hosts on this machine:
visitors arrive, browse the demo site, a share of them open a chat and talk
with the operators at human pace; operators refresh their console and answer
every visitor message, both sides polling with long polls. Stops by itself
after --duration plus --drain seconds and prints a report and RESULT lines.

  --host HOST:PORT        a host to load (repeatable; loopback addresses only);
                          visitors and operators are spread across the hosts
  --duration SEC          arrivals and messages for this long (default 60)
  --drain SEC             then this long for what is under way (default 10)
  --arrival-rate N        visitors per second, Poisson arrivals (default 2)
  --chat-share F          share of visitors who open a chat (default 0.25)
  --message-interval SEC  mean human pause before a message, jittered
                          0.5x-1.5x (default 10)
  --chat-messages N       visitor messages per chat, 0 for chats that last
                          until the end (default 5)
  --page-interval SEC     mean pause between page views (default 5)
  --pages N               page views of a visitor who does not chat (default 3)
  --operator ID:PASSWORD  an operator login (repeatable; default 5:demo5)
  --operators-file FILE   operator logins, one "ID PASSWORD" a line
  --operators N           use only the first N logins
  --console-refresh SEC   each operator's console refresh: visitor list and
                          own conversations (default 5)
  --operator-windows N    chat windows each operator keeps open, its oldest
                          conversations first (default 0: one per conversation);
                          visitor messages in conversations without one are
                          reported as waiting for an operator, not as lost
  --writer-share F        share of chatting visitors who write; the others
                          keep their chat window open, polling, until the end
                          (default 1)
  --max-visitors N        at most this many visitors in all (default 10000)
  --seed N                random seed (default 1)
  --wait SEC              the long polls' wait (default 25; 0 for plain polls
                          every 2 s)
  --host-pid PID          a host process to sample: CPU, VmRSS, VmHWM (repeatable)
  --pg-pid PID            the PostgreSQL server's main process: CPU of it and
                          its children
  --pg-env FILE           cluster.env of scripts/pg-cluster.sh: statements
                          counted by the server (pg_stat_statements, else
                          pg_stat_database transactions); also gives --pg-pid
  --statement-counter F   a host's ZELTO_STATEMENT_COUNTER file (repeatable)
  --label TEXT            the scenario's name in the RESULT lines
  --result-row N          the row of the RESULT lines (default 9)

Exit status: 0 the run ended without errors, 1 it counted errors or lost
messages, 2 usage.
)";
}

}  // namespace chatload
