#include "bench/chat_load/usage_watch.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace chatload {
namespace {

double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

UsageWatch::UsageWatch(boost::asio::io_context& io, const Options& options)
    : timer_(io), database_pid_(options.pg_pid) {
  for (pid_t pid : options.host_pids) hosts_.push_back({pid});
  std::string error;
  for (const std::string& path : options.statement_counters) {
    if (auto counter = StatementCounterFile::Open(path, &error)) {
      counters_.push_back(std::move(*counter));
    } else {
      notes_.push_back("statement counter " + error);
    }
  }
  if (!options.pg_env.empty()) {
    postgres_ = PostgresStatements::Connect(options.pg_env, &error);
    if (!postgres_) notes_.push_back("database statements: " + error);
    if (postgres_ && database_pid_ == 0) database_pid_ = postgres_->ServerPid();
  }
}

std::optional<uint64_t> UsageWatch::CountStatements() {
  if (postgres_) {
    std::string error;
    auto count = postgres_->Read(&error);
    if (!count) notes_.push_back("database statements: " + error);
    statements_source_ = std::string(postgres_->Source()) + " (PostgreSQL server)";
    return count;
  }
  if (counters_.empty()) return std::nullopt;
  uint64_t sum = 0;
  for (const auto& counter : counters_) sum += counter.Read();
  statements_source_ = "the hosts' statement counters";
  return sum;
}

void UsageWatch::Begin() {
  start_ = std::chrono::steady_clock::now();
  own_cpu_start_ = OwnCpuSeconds();
  own_run_queue_start_ = SampleProcess(getpid()).value_or(ProcessSample{}).run_queue_seconds;
  for (HostUsage& host : hosts_) {
    auto sample = SampleProcess(host.pid);
    host_start_.push_back(sample.value_or(ProcessSample{}));
    host.measured = sample.has_value();
    if (!sample) notes_.push_back("host pid " + std::to_string(host.pid) + ": no such process");
  }
  if (database_pid_ != 0) database_cpu_start_ = ProcessTreeCpuSeconds(database_pid_);
  statements_start_ = CountStatements();
  running_ = true;
  SampleMemory();
}

void UsageWatch::SampleMemory() {
  if (!running_) return;
  for (HostUsage& host : hosts_) {
    if (auto sample = SampleProcess(host.pid))
      host.rss_max_kib = std::max(host.rss_max_kib, sample->rss_kib);
  }
  timer_.expires_after(std::chrono::seconds(1));
  timer_.async_wait([this](boost::system::error_code error) {
    if (!error) SampleMemory();
  });
}

void UsageWatch::End() {
  running_ = false;
  timer_.cancel();
  seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  own_cpu_ = OwnCpuSeconds() - own_cpu_start_;
  own_run_queue_ =
      SampleProcess(getpid()).value_or(ProcessSample{}).run_queue_seconds - own_run_queue_start_;
  for (size_t i = 0; i < hosts_.size(); ++i) {
    HostUsage& host = hosts_[i];
    auto sample = SampleProcess(host.pid);
    if (!sample) {
      if (host.measured)
        notes_.push_back("host pid " + std::to_string(host.pid) + ": gone before the end");
      host.measured = false;
      continue;
    }
    host.cpu_seconds = sample->cpu_seconds - host_start_[i].cpu_seconds;
    host.run_queue_seconds = sample->run_queue_seconds - host_start_[i].run_queue_seconds;
    host.rss_end_kib = sample->rss_kib;
    host.rss_max_kib = std::max(host.rss_max_kib, sample->rss_kib);
    host.hwm_kib = sample->hwm_kib;
  }
  if (database_cpu_start_) {
    if (auto now = ProcessTreeCpuSeconds(database_pid_)) database_cpu_ = *now - *database_cpu_start_;
  } else if (database_pid_ != 0) {
    notes_.push_back("database pid " + std::to_string(database_pid_) + ": no such process");
  }
  if (auto end = CountStatements(); end && statements_start_) statements_ = *end - *statements_start_;
}

}  // namespace chatload
