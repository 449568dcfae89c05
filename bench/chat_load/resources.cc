#include "bench/chat_load/resources.h"

#include <dirent.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

namespace chatload {
namespace {

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

double TicksToSeconds(const std::string& ticks) {
  static const double per_second = static_cast<double>(sysconf(_SC_CLK_TCK));
  return std::strtod(ticks.c_str(), nullptr) / per_second;
}

std::optional<std::vector<std::string>> ProcessStat(pid_t pid) {
  auto text = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (!text) return std::nullopt;
  auto fields = StatFields(*text);
  if (fields.size() < 15) return std::nullopt;
  return fields;
}

// Summed over the process's threads; threads that ended are not counted.
double RunQueueSeconds(pid_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/task";
  std::unique_ptr<DIR, int (*)(DIR*)> tasks(opendir(folder.c_str()), closedir);
  double seconds = 0;
  while (dirent* task = tasks ? readdir(tasks.get()) : nullptr) {
    if (task->d_name[0] == '.') continue;
    std::istringstream fields(ReadFile(folder + "/" + task->d_name + "/schedstat").value_or(""));
    double on_cpu_ns = 0, waiting_ns = 0;
    if (fields >> on_cpu_ns >> waiting_ns) seconds += waiting_ns / 1e9;
  }
  return seconds;
}

std::string Quoted(const std::string& value) {
  std::string out = "'";
  for (char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "'";
}

}  // namespace

std::vector<std::string> StatFields(std::string_view stat_line) {
  std::vector<std::string> fields;
  const size_t close = stat_line.rfind(')');
  if (close == std::string_view::npos) return fields;
  std::istringstream words{std::string(stat_line.substr(close + 1))};
  for (std::string word; words >> word;) fields.push_back(word);
  return fields;
}

uint64_t StatusKib(std::string_view status_text, std::string_view field) {
  for (size_t at = 0; at < status_text.size();) {
    size_t end = status_text.find('\n', at);
    if (end == std::string_view::npos) end = status_text.size();
    const std::string_view line = status_text.substr(at, end - at);
    if (line.size() > field.size() && line.substr(0, field.size()) == field &&
        line[field.size()] == ':')
      return std::strtoull(std::string(line.substr(field.size() + 1)).c_str(), nullptr, 10);
    at = end + 1;
  }
  return 0;
}

std::optional<ProcessSample> SampleProcess(pid_t pid) {
  auto stat = ProcessStat(pid);
  auto status = ReadFile("/proc/" + std::to_string(pid) + "/status");
  if (!stat || !status) return std::nullopt;
  ProcessSample sample;
  sample.cpu_seconds = TicksToSeconds((*stat)[11]) + TicksToSeconds((*stat)[12]);
  sample.run_queue_seconds = RunQueueSeconds(pid);
  sample.rss_kib = StatusKib(*status, "VmRSS");
  sample.hwm_kib = StatusKib(*status, "VmHWM");
  return sample;
}

std::optional<double> ProcessTreeCpuSeconds(pid_t root) {
  auto stat = ProcessStat(root);
  if (!stat) return std::nullopt;
  double seconds = 0;
  for (int field : {11, 12, 13, 14}) seconds += TicksToSeconds((*stat)[field]);
  std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
  if (!proc) return seconds;
  const std::string parent = std::to_string(root);
  while (dirent* entry = readdir(proc.get())) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0) continue;
    auto child = ProcessStat(static_cast<pid_t>(pid));
    if (child && (*child)[1] == parent)
      seconds += TicksToSeconds((*child)[11]) + TicksToSeconds((*child)[12]);
  }
  return seconds;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ReadEnvFile(
    const std::string& path, std::string* error) {
  auto text = ReadFile(path);
  if (!text) {
    *error = path + ": cannot be read";
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::string>> values;
  std::istringstream lines(*text);
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos || line[0] == '#') continue;
    values.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  return values;
}

std::optional<StatementCounterFile> StatementCounterFile::Open(const std::string& path,
                                                               std::string* error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  void* mapped = MAP_FAILED;
  if (fd >= 0) mapped = mmap(nullptr, sizeof(uint64_t), PROT_READ, MAP_SHARED, fd, 0);
  const int saved = errno;
  if (fd >= 0) close(fd);
  if (mapped == MAP_FAILED) {
    *error = path + ": " + std::strerror(saved);
    return std::nullopt;
  }
  return StatementCounterFile(static_cast<const uint64_t*>(mapped));
}

StatementCounterFile::StatementCounterFile(StatementCounterFile&& other) noexcept
    : cell_(other.cell_) {
  other.cell_ = nullptr;
}

StatementCounterFile::~StatementCounterFile() {
  if (cell_) munmap(const_cast<uint64_t*>(cell_), sizeof(uint64_t));
}

uint64_t StatementCounterFile::Read() const {
  // The host adds to it with atomic increments; a torn read is impossible
  // for an aligned 8-byte load done atomically.
  return __atomic_load_n(cell_, __ATOMIC_RELAXED);
}

std::optional<PostgresStatements> PostgresStatements::Connect(const std::string& env_file,
                                                              std::string* error) {
  auto values = ReadEnvFile(env_file, error);
  if (!values) return std::nullopt;
  std::string host, port, user, password, data;
  for (const auto& [key, value] : *values) {
    if (key == "PGHOST") host = value;
    if (key == "PGPORT") port = value;
    if (key == "ZELTO_PG_USER") user = value;
    if (key == "ZELTO_PG_PASSWORD") password = value;
    if (key == "PGDATA") data = value;
  }
  if (host.empty() || port.empty() || user.empty()) {
    *error = env_file + ": PGHOST, PGPORT and ZELTO_PG_USER are needed";
    return std::nullopt;
  }
  PostgresStatements statements;
  statements.conninfo_ = "host=" + Quoted(host) + " port=" + Quoted(port) + " user=" +
                         Quoted(user) + " password=" + Quoted(password) +
                         " dbname=postgres connect_timeout=5";
  if (auto pid_file = ReadFile(data + "/postmaster.pid"))
    statements.server_pid_ = static_cast<pid_t>(std::strtol(pid_file->c_str(), nullptr, 10));
  if (!statements.Read(error)) return std::nullopt;
  return statements;
}

std::optional<uint64_t> PostgresStatements::Read(std::string* error) {
  std::unique_ptr<PGconn, void (*)(PGconn*)> conn(PQconnectdb(conninfo_.c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    *error = std::string("PostgreSQL: ") + PQerrorMessage(conn.get());
    return std::nullopt;
  }
  struct Query {
    const char* source;
    const char* sql;
  };
  static const Query kQueries[] = {
      {"pg_stat_statements",
       "select coalesce(sum(calls), 0) from pg_stat_statements s join pg_database d "
       "on d.oid = s.dbid where d.datname in ('chat', 'count')"},
      {"pg_stat_database transactions",
       "select coalesce(sum(xact_commit + xact_rollback), 0) from pg_stat_database "
       "where datname in ('chat', 'count')"},
  };
  for (const Query& query : kQueries) {
    if (!source_.empty() && source_ != query.source) continue;
    std::unique_ptr<PGresult, void (*)(PGresult*)> result(PQexec(conn.get(), query.sql), PQclear);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK) continue;
    source_ = query.source;
    return std::strtoull(PQgetvalue(result.get(), 0, 0), nullptr, 10);
  }
  *error = std::string("PostgreSQL statistics: ") + PQerrorMessage(conn.get());
  return std::nullopt;
}

}  // namespace chatload
