#include "bench/chat_load/load_run.h"

#include <algorithm>

#include "bench/chat_load/operator_desk.h"
#include "bench/chat_load/visitor.h"

namespace chatload {
namespace {

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Operators not logged in by then are counted as failed and the load starts.
constexpr std::chrono::seconds kLoginPatience{30};
constexpr std::chrono::seconds kIdleClose{5};

}  // namespace

std::string Failure(const Reply& reply) {
  if (reply.error == beast::error::timeout) return "timeout";
  if (reply.error) return reply.error.message();
  return "HTTP " + std::to_string(reply.response.result_int());
}

LoadRun::LoadRun(asio::io_context& io, const Options& options)
    : io_(io),
      options_(options),
      arrivals_random_(options.seed),
      pauses_random_(options.seed ^ 0x9E3779B97F4A7C15ull),
      arrival_timer_(io),
      phase_timer_(io) {
  for (const Target& host : options_.hosts)
    hosts_.emplace_back(asio::ip::make_address(host.address), host.port);
}

void LoadRun::Start(std::function<void()> load_started, std::function<void()> stopping,
                    std::function<void()> finished) {
  load_started_ = std::move(load_started);
  stopping_ = std::move(stopping);
  finished_ = std::move(finished);
  logins_pending_ = options_.operators.size();
  for (size_t i = 0; i < options_.operators.size(); ++i) {
    auto desk = std::make_shared<OperatorDesk>(*this, i % hosts_.size(), options_.operators[i]);
    Track(desk);
    desk->Start([this, desk](bool ok) {
      counts_.operators_logged_in += ok;
      if (--logins_pending_ == 0 && phase_ == Phase::kLogin) LoggedIn();
    });
  }
  phase_timer_.expires_after(kLoginPatience);
  phase_timer_.async_wait([this](beast::error_code error) {
    if (!error && phase_ == Phase::kLogin) LoggedIn();
  });
}

void LoadRun::LoggedIn() {
  phase_ = Phase::kLoad;
  if (load_started_) load_started_();
  load_start_ = open_chats_since_ = Clock::now();
  phase_timer_.expires_after(Seconds(options_.duration));
  phase_timer_.async_wait([this](beast::error_code error) {
    if (!error) EndLoad();
  });
  Arrive();
}

double LoadRun::LoadSeconds() const {
  if (phase_ == Phase::kLogin) return 0;
  const Clock::time_point end = phase_ == Phase::kLoad ? Clock::now() : load_end_;
  return std::chrono::duration<double>(end - load_start_).count();
}

Clock::duration LoadRun::Jittered(double mean_seconds) {
  std::uniform_real_distribution<double> factor(0.5, 1.5);
  return Seconds(mean_seconds * factor(pauses_random_));
}

void LoadRun::ScheduleArrival() {
  std::exponential_distribution<double> gap(options_.arrival_rate);
  arrival_timer_.expires_after(Seconds(gap(arrivals_random_)));
  arrival_timer_.async_wait([this](beast::error_code error) {
    if (!error && phase_ == Phase::kLoad) Arrive();
  });
}

void LoadRun::Arrive() {
  if (counts_.visitors >= static_cast<uint64_t>(options_.max_visitors)) return;
  std::bernoulli_distribution chats(options_.chat_share);
  std::bernoulli_distribution writes(options_.writer_share);
  const bool chatting = chats(arrivals_random_);
  auto visitor = std::make_shared<Visitor>(*this, counts_.visitors % hosts_.size(), chatting,
                                           chatting && writes(arrivals_random_));
  Track(visitor);
  visitor->Start();
  ScheduleArrival();
}

void LoadRun::EndLoad() {
  AccountOpenChats();
  phase_ = Phase::kDrain;
  load_end_ = Clock::now();
  arrival_timer_.cancel();
  phase_timer_.expires_after(Seconds(options_.drain));
  phase_timer_.async_wait([this](beast::error_code error) {
    if (!error) StopAll();
  });
}

void LoadRun::StopAll() {
  if (stopping_) stopping_();
  phase_ = Phase::kStopped;
  for (auto& weak : clients_) {
    if (auto client = weak.lock()) client->Stop();
  }
  clients_.clear();
  if (finished_) finished_();
}

void LoadRun::Track(std::weak_ptr<Client> client) {
  // Visitors who left are dropped now and then, so the list stays the size
  // of the people on the site.
  if (clients_.size() >= 1024 && clients_.size() == clients_.capacity()) {
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const std::weak_ptr<Client>& c) { return c.expired(); }),
                   clients_.end());
  }
  clients_.push_back(std::move(client));
}

std::shared_ptr<HttpConnection> LoadRun::Connection(size_t host, std::shared_ptr<CookieJar> jar,
                                                    bool close_when_idle) {
  return HttpConnection::Make(io_, hosts_[host], std::move(jar),
                              close_when_idle ? std::chrono::milliseconds(kIdleClose)
                                              : std::chrono::milliseconds(0),
                              &counts_.connections);
}

void LoadRun::Error(const std::string& what, const Reply& reply) {
  // A request cut by the end of the run is no error of the host's.
  if (phase_ == Phase::kStopped && reply.error == asio::error::operation_aborted) return;
  Error(what, Failure(reply));
}

void LoadRun::Error(const std::string& what, const std::string& cause) {
  ++counts_.errors[what + ": " + cause];
}

void LoadRun::AccountOpenChats() {
  if (phase_ != Phase::kLoad) return;
  const Clock::time_point now = Clock::now();
  counts_.open_chat_seconds +=
      static_cast<double>(counts_.open_chats) *
      std::chrono::duration<double>(now - open_chats_since_).count();
  open_chats_since_ = now;
}

void LoadRun::ChatOpened(long cid) {
  AccountOpenChats();
  ++counts_.chats_opened;
  ++counts_.open_chats;
  counts_.max_open_chats = std::max(counts_.max_open_chats, counts_.open_chats);
  chat_opened_at_[cid] = Clock::now();
}

void LoadRun::ChatEnded(long cid) {
  AccountOpenChats();
  if (counts_.open_chats > 0) --counts_.open_chats;
  if (phase_ != Phase::kStopped) ++counts_.chats_ended;
  chat_opened_at_.erase(cid);
}

void LoadRun::ChatPickedUp(long cid) {
  attended_.insert(cid);
  auto found = chat_opened_at_.find(cid);
  if (found == chat_opened_at_.end()) return;
  pickup_.Add(std::chrono::duration<double, std::milli>(Clock::now() - found->second).count());
}

}  // namespace chatload
