// One run of the chat load: the clock and randomness the simulated people
// share, the hosts, the counters, and the run's phases. Arrivals and new
// messages stop at the end of the duration; what is under way gets the drain
// time; then every client is stopped (its connections closed) and the
// run is over. Everything runs on the io_context's one thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bench/chat_load/delivery.h"
#include "bench/chat_load/http_connection.h"
#include "bench/chat_load/options.h"

namespace chatload {

// A simulated person: stopped once at the end of the run (or earlier when
// it leaves by itself, then Stop does nothing).
class Client {
 public:
  virtual ~Client() = default;
  virtual void Stop() = 0;
};

struct RunCounts {
  uint64_t visitors = 0;
  uint64_t page_views = 0;
  uint64_t chats_opened = 0;
  uint64_t chats_ended = 0;
  uint64_t operators_logged_in = 0;
  uint64_t polls = 0;
  uint64_t polls_not_held = 0;  // answered at once although a wait was asked
  uint64_t connections = 0;     // TCP connections opened
  uint64_t open_chats = 0;
  uint64_t max_open_chats = 0;
  double open_chat_seconds = 0;  // integral of open chats over the duration
  std::map<std::string, uint64_t> errors;
};

class LoadRun {
 public:
  LoadRun(asio::io_context& io, const Options& options);

  // Logs the operators in, then lets visitors arrive. `load_started` runs
  // when the first visitor arrives, `stopping` at the end of the drain just
  // before the clients are stopped, `finished` once they were.
  void Start(std::function<void()> load_started, std::function<void()> stopping,
             std::function<void()> finished);

  asio::io_context& io() { return io_; }
  const Options& options() const { return options_; }
  DeliveryBook& book() { return book_; }
  RunCounts& counts() { return counts_; }
  Latencies& chat_pickup() { return pickup_; }
  // Seconds from the first arrival to the end of the duration (so far).
  double LoadSeconds() const;

  // New messages may be started (false once the duration is over).
  bool Sending() const { return phase_ == Phase::kLoad; }
  bool Stopped() const { return phase_ == Phase::kStopped; }
  // A random pause: uniform between half and one and a half times `mean`.
  Clock::duration Jittered(double mean_seconds);

  std::shared_ptr<HttpConnection> Connection(size_t host, std::shared_ptr<CookieJar> jar,
                                             bool close_when_idle);
  void Track(std::weak_ptr<Client> client);
  void Error(const std::string& what, const Reply& reply);
  void Error(const std::string& what, const std::string& cause);

  void ChatOpened(long cid);
  void ChatEnded(long cid);
  // An operator opened a chat window on `cid`.
  void ChatPickedUp(long cid);
  bool Attended(long cid) const { return attended_.count(cid) != 0; }

 private:
  enum class Phase { kLogin, kLoad, kDrain, kStopped };
  void LoggedIn();
  void ScheduleArrival();
  void Arrive();
  void EndLoad();
  void StopAll();
  void AccountOpenChats();

  asio::io_context& io_;
  Options options_;
  std::vector<tcp::endpoint> hosts_;
  // Who arrives when, and who chats and writes, come from a stream of their
  // own, so that the same seed brings the same visitors whatever the timing;
  // the pauses draw from another.
  std::mt19937_64 arrivals_random_;
  std::mt19937_64 pauses_random_;
  Phase phase_ = Phase::kLogin;
  asio::steady_timer arrival_timer_;
  asio::steady_timer phase_timer_;
  Clock::time_point load_start_{};
  Clock::time_point load_end_{};
  Clock::time_point open_chats_since_{};
  std::function<void()> load_started_, stopping_, finished_;
  size_t logins_pending_ = 0;
  std::vector<std::weak_ptr<Client>> clients_;
  std::unordered_map<long, Clock::time_point> chat_opened_at_;
  std::unordered_set<long> attended_;
  DeliveryBook book_;
  RunCounts counts_;
  Latencies pickup_;
};

// What went wrong with a reply: "HTTP 503", "timeout", the system's text.
std::string Failure(const Reply& reply);

}  // namespace chatload
