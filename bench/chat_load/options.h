// The chat load generator's command line: the scenario (arrivals, chats,
// pace, duration), the hosts it loads (loopback only) and the processes it
// watches. ParseOptions never exits; it gives the options or an error text.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace chatload {

struct Target {
  std::string address;  // numeric, loopback
  unsigned short port = 0;
};

struct OperatorLogin {
  long id = 0;
  std::string password;
};

struct Options {
  std::vector<Target> hosts;
  double duration = 60;          // seconds of arrivals and messages
  double drain = 10;             // seconds after, for messages under way
  double arrival_rate = 2;       // visitors per second (Poisson arrivals)
  double chat_share = 0.25;      // share of visitors who open a chat
  double message_interval = 10;  // mean pause before a message, jittered
  int chat_messages = 5;         // visitor messages per chat; 0 = until the end
  double page_interval = 5;      // mean pause between page views
  int pages = 3;                 // page views of a visitor who does not chat
  std::vector<OperatorLogin> operators;
  double console_refresh = 5;    // operator console refresh period
  int operator_windows = 0;      // chat windows an operator keeps open; 0: one per chat
  double writer_share = 1;       // share of chatting visitors who write
  int max_visitors = 10000;
  unsigned long long seed = 1;
  int poll_wait = 25;            // the long polls' wait= seconds
  std::vector<pid_t> host_pids;
  pid_t pg_pid = 0;
  std::string pg_env;            // scripts/pg-cluster.sh's cluster.env
  std::vector<std::string> statement_counters;
  std::string label = "chat load";
  std::string result_row = "9";
};

struct ParsedOptions {
  std::optional<Options> options;  // empty on error or --help
  std::string error;               // empty with --help
};

ParsedOptions ParseOptions(const std::vector<std::string>& args);
std::string Usage();

// "HOST:PORT" with HOST a loopback address (127.0.0.0/8, ::1, [::1] or
// localhost); anything else is refused, saying why.
std::optional<Target> ParseLoopbackTarget(const std::string& text, std::string* error);

// Lines "ID PASSWORD" (blank lines and # comments skipped).
bool ReadOperatorsFile(const std::string& path, std::vector<OperatorLogin>* out,
                       std::string* error);

}  // namespace chatload
