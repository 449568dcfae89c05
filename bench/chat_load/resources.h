// What the load costs the machine: the CPU time and memory of the host
// processes (from /proc), the database server's CPU (its main process and
// children), and statements run (the hosts' ZELTO_STATEMENT_COUNTER files,
// or PostgreSQL's own statistics). Every reading says when it could not be
// made rather than giving a made-up figure.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace chatload {

struct ProcessSample {
  double cpu_seconds = 0;  // user + system so far
  // Time its threads were ready to run but waited for a core (schedstat):
  // on a shared machine, how much of a slow answer was someone else's load.
  double run_queue_seconds = 0;
  uint64_t rss_kib = 0;
  uint64_t hwm_kib = 0;
};

// Fields of a /proc/PID/stat line after the command name (which may hold
// spaces or parentheses): index 0 is the state, 1 the parent pid, 11 utime,
// 12 stime, 13 cutime, 14 cstime.
std::vector<std::string> StatFields(std::string_view stat_line);
// The value in KiB of FIELD ("VmRSS") in a /proc/PID/status text; 0 if absent.
uint64_t StatusKib(std::string_view status_text, std::string_view field);

std::optional<ProcessSample> SampleProcess(pid_t pid);
// CPU seconds of `root`, the children it reaped and its living children.
std::optional<double> ProcessTreeCpuSeconds(pid_t root);

// KEY=VALUE lines (scripts/pg-cluster.sh's cluster.env).
std::optional<std::vector<std::pair<std::string, std::string>>> ReadEnvFile(
    const std::string& path, std::string* error);

// A host's statement counter file, mapped for reading.
class StatementCounterFile {
 public:
  static std::optional<StatementCounterFile> Open(const std::string& path, std::string* error);
  StatementCounterFile(StatementCounterFile&& other) noexcept;
  ~StatementCounterFile();
  uint64_t Read() const;

 private:
  explicit StatementCounterFile(const uint64_t* cell) : cell_(cell) {}
  const uint64_t* cell_;
};

// Statements the PostgreSQL server ran in the chat and count databases:
// pg_stat_statements calls when the extension is there, else committed and
// rolled back transactions (each statement outside a transaction is one).
class PostgresStatements {
 public:
  // From a cluster.env file; the error says why not.
  static std::optional<PostgresStatements> Connect(const std::string& env_file, std::string* error);
  std::optional<uint64_t> Read(std::string* error);
  std::string_view Source() const { return source_; }
  // The server's main process (PGDATA/postmaster.pid), 0 if unknown.
  pid_t ServerPid() const { return server_pid_; }

 private:
  std::string conninfo_;
  std::string source_;
  pid_t server_pid_ = 0;
};

}  // namespace chatload
