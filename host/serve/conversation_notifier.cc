#include "host/serve/conversation_notifier.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/ado/connection_string.h"
#include "platform/ado/postgres_target.h"

namespace zelto::serve {
namespace {

constexpr int kReconnectMs = 1000;

constexpr auto kConnectTimeout = std::chrono::seconds(5);

// A connection under way (PQconnectStartParams), or null.
PGconn* StartConnect(const DatabaseServer& server, const std::string& database) {
  ado::ConnectionString cs;
  cs.data_source = server.address;
  cs.initial_catalog = database;
  cs.user_id = server.user;
  cs.password = server.password;
  auto params = ado::PostgresTargetFrom(cs).Params();
  // A server that vanishes without closing the connection is noticed too.
  params.emplace_back("keepalives_idle", "10");
  params.emplace_back("keepalives_interval", "5");
  params.emplace_back("keepalives_count", "3");
  const ado::LibpqParamArrays arrays(params);
  return PQconnectStartParams(arrays.keys.data(), arrays.values.data(), 0);
}

bool Command(PGconn* conn, const std::string& sql) {
  PGresult* result = PQexec(conn, sql.c_str());
  const bool ok = result && PQresultStatus(result) == PGRES_COMMAND_OK;
  PQclear(result);
  return ok;
}

}  // namespace

ConversationNotifier::ConversationNotifier(DatabaseServer server, std::string database,
                                           std::function<void(LONG)> on_remote,
                                           std::function<void(bool)> on_link,
                                           std::function<void(const std::string&)> say)
    : server_(std::move(server)),
      database_(std::move(database)),
      on_remote_(std::move(on_remote)),
      on_link_(std::move(on_link)),
      say_(std::move(say)),
      wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ConversationNotifier::~ConversationNotifier() {
  Stop();
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

void ConversationNotifier::Start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
}

void ConversationNotifier::Publish(LONG cid) {
  {
    std::lock_guard lock(mutex_);
    pending_.insert(cid);
  }
  Signal();
}

void ConversationNotifier::PublishNote(std::string note) {
  {
    std::lock_guard lock(mutex_);
    // A link that stays down must not grow the queue without end: the
    // oldest notes matter least (a typing state is soon stale anyway).
    if (pending_notes_.size() >= kMaxPendingNotes) pending_notes_.erase(pending_notes_.begin());
    pending_notes_.push_back(std::move(note));
  }
  Signal();
}

void ConversationNotifier::Stop() {
  stopping_ = true;
  Signal();
  if (thread_.joinable()) thread_.join();
}

void ConversationNotifier::Say(const char* line) {
  if (say_) say_(std::string("zelto serve: ") + line);
}

void ConversationNotifier::Signal() {
  const uint64_t one = 1;
  if (wake_fd_ < 0) return;
  const ssize_t written = ::write(wake_fd_, &one, sizeof one);
  (void)written;  // a full counter wakes the thread just as well
}

void ConversationNotifier::WaitForWork(int socket, int timeout_ms) {
  pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {socket, POLLIN, 0}};
  ::poll(fds, socket >= 0 ? 2 : 1, timeout_ms);
  uint64_t count;
  if (fds[0].revents & POLLIN) {
    const ssize_t n = ::read(wake_fd_, &count, sizeof count);
    (void)n;
  }
}

// Connects without blocking a stop: the wait for the server also watches
// the wake-up descriptor.
PGconn* ConversationNotifier::Connect() {
  PGconn* conn = StartConnect(server_, database_);
  if (!conn || PQstatus(conn) == CONNECTION_BAD) {
    PQfinish(conn);
    return nullptr;
  }
  const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (status == PGRES_POLLING_FAILED || stopping_ || left.count() <= 0) {
      PQfinish(conn);
      return nullptr;
    }
    pollfd fds[2] = {{wake_fd_, POLLIN, 0},
                     {PQsocket(conn),
                      static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0}};
    if (::poll(fds, 2, static_cast<int>(left.count())) > 0 && fds[1].revents == 0) {
      uint64_t count;  // a Publish or Stop: posts wait for the connection
      const ssize_t n = ::read(wake_fd_, &count, sizeof count);
      (void)n;
      continue;
    }
    status = PQconnectPoll(conn);
  }
  PQsetnonblocking(conn, 0);
  return conn;
}

void ConversationNotifier::Run() {
  bool down_reported = false;  // said once per outage, not once per retry
  bool was_down = false;
  while (!stopping_) {
    PGconn* conn = Connect();
    if (conn && Command(conn, std::string("LISTEN ") + kConversationChannel)) {
      if (was_down) Say("conversation notifications: back");
      was_down = false;
      down_reported = false;
      on_link_(true);
      Session(conn);
      // Whatever was sent while the link was lost is unknown: the next
      // link (true again) makes every held poll look once more.
      if (!stopping_) on_link_(false);
    }
    PQfinish(conn);
    if (stopping_) break;
    if (!down_reported) {
      down_reported = true;
      was_down = true;
      on_link_(false);
      Say("conversation notifications: no connection to the database; held polls recheck "
          "every few seconds until it is back");
    }
    WaitForWork(-1, kReconnectMs);
  }
}

bool ConversationNotifier::Session(void* handle) {
  PGconn* conn = static_cast<PGconn*>(handle);
  const int own_pid = PQbackendPID(conn);
  // Notifications read during a command wait in libpq's queue: take them
  // before waiting on the socket.
  auto deliver = [&] {
    while (PGnotify* note = PQnotifies(conn)) {
      LONG cid = 0;
      const std::string_view payload = note->extra ? note->extra : "";
      const auto parsed = std::from_chars(payload.data(), payload.data() + payload.size(), cid);
      const bool valid = parsed.ec == std::errc() && parsed.ptr == payload.data() + payload.size();
      if (note->be_pid != own_pid) {
        if (valid)
          on_remote_(cid);
        else if (on_note_ && !payload.empty())
          on_note_(std::string(payload));
      }
      PQfreemem(note);
    }
  };
  while (!stopping_) {
    if (!SendPending(conn)) return false;
    deliver();
    WaitForWork(PQsocket(conn), -1);
    if (stopping_) return true;
    if (!PQconsumeInput(conn) || PQstatus(conn) != CONNECTION_OK) return false;
    deliver();
  }
  return true;
}

bool ConversationNotifier::SendNotes(void* handle) {
  std::vector<std::string> notes;
  {
    std::lock_guard lock(mutex_);
    notes.swap(pending_notes_);
  }
  PGconn* conn = static_cast<PGconn*>(handle);
  for (size_t i = 0; i < notes.size(); ++i) {
    // A bound value: the note's text never becomes part of a statement.
    const char* values[] = {kConversationChannel, notes[i].c_str()};
    PGresult* result = PQexecParams(conn, "select pg_notify($1, $2)", 2, nullptr, values, nullptr,
                                    nullptr, 0);
    const bool ok = result && PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    if (!ok) return false;  // stale by the next connection: dropped
  }
  return true;
}

bool ConversationNotifier::SendPending(void* handle) {
  if (!SendNotes(handle)) return false;
  std::set<LONG> cids;
  {
    std::lock_guard lock(mutex_);
    cids.swap(pending_);
  }
  if (cids.empty()) return true;
  std::string sql;
  for (LONG cid : cids)
    sql += std::string("NOTIFY ") + kConversationChannel + ", '" + std::to_string(cid) + "';";
  if (Command(static_cast<PGconn*>(handle), sql)) return true;
  // Kept for the next connection: a host waiting on them rechecks anyway,
  // but sooner is better.
  std::lock_guard lock(mutex_);
  pending_.insert(cids.begin(), cids.end());
  return false;
}

}  // namespace zelto::serve
