// ConversationNotifier: carries "something was stored in conversation N"
// between hosts of one PostgreSQL chat database. One dedicated libpq
// connection on a thread of its own LISTENs on the channel
// "zelto_conversation" and sends `NOTIFY zelto_conversation, 'N'` for each
// local post (queued by Publish, which never blocks). Notifications from
// other hosts reach `on_remote(cid)`; its own are skipped. When the server
// goes away it reconnects (every second at most); `on_link(false)` says
// notifications may be missed until `on_link(true)`; the loss and the
// return of the link are also said once each through `say` (one line each). Callbacks run on the
// notifier's thread. Notes (short texts, not numbers: a typing state)
// travel the same way to `on_note`, set before Start.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/serve/database_server.h"
#include "platform/com/hresult.h"

struct pg_conn;  // libpq's PGconn

namespace zelto::serve {

inline constexpr char kConversationChannel[] = "zelto_conversation";
inline constexpr size_t kMaxPendingNotes = 1000;

class ConversationNotifier {
 public:
  ConversationNotifier(DatabaseServer server, std::string database,
                       std::function<void(LONG)> on_remote, std::function<void(bool)> on_link,
                       std::function<void(const std::string& line)> say = nullptr);
  ~ConversationNotifier();  // Stop()
  ConversationNotifier(const ConversationNotifier&) = delete;
  ConversationNotifier& operator=(const ConversationNotifier&) = delete;

  void Start();
  // Sends the notification for `cid` soon (several may go in one round trip).
  void Publish(LONG cid);
  void Stop();  // idempotent; pending notifications are dropped
  // REQUIRES: before Start.
  void OnNote(std::function<void(const std::string&)> on_note) { on_note_ = std::move(on_note); }
  // Sends `note` (at most a few hundred bytes, never a number) soon.
  void PublishNote(std::string note);

 private:
  void Run();
  ::pg_conn* Connect();  // null when it failed or the notifier is stopping
  bool Session(void* conn);  // false when the connection failed
  bool SendPending(void* conn);
  bool SendNotes(void* conn);
  void WaitForWork(int socket, int timeout_ms);
  void Signal();
  void Say(const char* line);

  const DatabaseServer server_;
  const std::string database_;
  const std::function<void(LONG)> on_remote_;
  const std::function<void(bool)> on_link_;
  const std::function<void(const std::string&)> say_;  // null: nothing said
  int wake_fd_ = -1;  // eventfd: Publish and Stop interrupt the wait
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::set<LONG> pending_;
  std::vector<std::string> pending_notes_;
  std::function<void(const std::string&)> on_note_;  // null: notes are ignored
  std::thread thread_;
};

}  // namespace zelto::serve
