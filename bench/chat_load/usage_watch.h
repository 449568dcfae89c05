// The cost side of a run: CPU and memory of the watched host processes, CPU
// of the PostgreSQL server, statements run, and the generator's own CPU,
// between Begin() and End(), with the hosts' resident memory sampled every
// second in between for its peak. What could not be measured is listed in
// notes() instead of being reported as zero.
#pragma once

#include <sys/types.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bench/chat_load/options.h"
#include "bench/chat_load/resources.h"

namespace chatload {

struct HostUsage {
  pid_t pid = 0;
  double cpu_seconds = 0;
  double run_queue_seconds = 0;  // ready to run, waiting for a core
  uint64_t rss_max_kib = 0;  // the largest VmRSS sampled
  uint64_t rss_end_kib = 0;
  uint64_t hwm_kib = 0;      // VmHWM at the end: the process's peak since it started
  bool measured = false;     // false when the process was gone at Begin or End
};

class UsageWatch {
 public:
  UsageWatch(boost::asio::io_context& io, const Options& options);
  void Begin();
  void End();

  double seconds() const { return seconds_; }
  const std::vector<HostUsage>& hosts() const { return hosts_; }
  std::optional<uint64_t> statements() const { return statements_; }
  const std::string& statements_source() const { return statements_source_; }
  std::optional<double> database_cpu_seconds() const { return database_cpu_; }
  double own_cpu_seconds() const { return own_cpu_; }
  // The generator's own wait for a core: time it could not see answers.
  double own_run_queue_seconds() const { return own_run_queue_; }
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  std::optional<uint64_t> CountStatements();
  void SampleMemory();

  boost::asio::steady_timer timer_;
  std::vector<HostUsage> hosts_;
  std::vector<ProcessSample> host_start_;
  std::vector<StatementCounterFile> counters_;
  std::optional<PostgresStatements> postgres_;
  pid_t database_pid_ = 0;
  std::optional<double> database_cpu_start_;
  std::optional<uint64_t> statements_start_;
  double own_cpu_start_ = 0;
  double own_run_queue_start_ = 0;
  std::chrono::steady_clock::time_point start_;
  bool running_ = false;

  double seconds_ = 0;
  std::optional<uint64_t> statements_;
  std::string statements_source_;
  std::optional<double> database_cpu_;
  double own_cpu_ = 0;
  double own_run_queue_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace chatload
