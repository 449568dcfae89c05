#include "bench/chat_load/chat_window.h"

#include "platform/win/codepage.h"

namespace chatload {
namespace {

constexpr std::chrono::milliseconds kRequestDeadline{10000};
constexpr std::chrono::seconds kPlainPollInterval{2};

}  // namespace

void RequestQueue::Send(Request request, HttpConnection::Done done) {
  if (closed_) return;
  waiting_.emplace_back(std::move(request), std::move(done));
  Next();
}

void RequestQueue::Next() {
  // A handler may already have sent the next request on the connection.
  if (waiting_.empty() || closed_ || connection_->Busy()) return;
  auto [request, done] = std::move(waiting_.front());
  waiting_.pop_front();
  connection_->Send(std::move(request), kRequestDeadline,
                    [self = shared_from_this(), done = std::move(done)](Reply reply) {
                      // Closed: the owner is gone or going; nothing more runs.
                      if (self->closed_) return;
                      done(std::move(reply));
                      self->Next();
                    });
}

void RequestQueue::Close() {
  if (run_.Stopped() && connection_->Busy() && !closed_)
    run_.Error("request", "no answer by the end of the run");
  closed_ = true;
  waiting_.clear();
  connection_->Close();
}

ChatWindow::ChatWindow(LoadRun& run, size_t host, std::shared_ptr<CookieJar> jar,
                       const WindowSide& side, long cid, std::string token)
    : run_(run),
      side_(side),
      cid_(cid),
      token_(std::move(token)),
      poll_connection_(run.Connection(host, jar, false)),
      requests_(std::make_shared<RequestQueue>(run, run.Connection(host, jar, true))),
      retry_timer_(run.io()) {}

void ChatWindow::Open(OnMessages on_messages) {
  on_messages_ = std::move(on_messages);
  opened_ = Clock::now();
  if (side_.receives == kToOperator) run_.ChatPickedUp(cid_);
  Poll();
}

void ChatWindow::Poll() {
  if (closed_) return;
  std::string target = std::string(side_.poll_path) + "?cid=" + std::to_string(cid_);
  const int wait = run_.options().poll_wait;
  if (wait > 0) target += "&wait=" + std::to_string(wait);
  ++run_.counts().polls;
  poll_connection_->Send({http::verb::get, target, "", ""},
                         kRequestDeadline + std::chrono::seconds(wait),
                         [self = shared_from_this()](Reply reply) { self->Polled(std::move(reply)); });
}

void ChatWindow::Polled(Reply reply) {
  if (closed_) return;
  if (!reply.Ok()) {
    run_.Error(std::string(side_.name) + " poll", reply);
    return PollLater();
  }
  auto ids = run_.book().Seen(side_.receives, cid_, reply.response.body(), Clock::now(), opened_);
  if (!ids.empty() && on_messages_) on_messages_(ids);
  const int wait = run_.options().poll_wait;
  if (wait > 0 && std::atoi(reply.Header("X-Zelto-Wait").c_str()) > 0) return Poll();
  if (wait > 0) ++run_.counts().polls_not_held;
  PollLater();
}

void ChatWindow::PollLater() {
  retry_timer_.expires_after(kPlainPollInterval);
  retry_timer_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (!error) self->Poll();
  });
}

void ChatWindow::Post(std::function<void(bool)> done) {
  if (closed_ || !run_.Sending()) return;
  const uint64_t id = run_.book().Posting(side_.sends, cid_, Clock::now());
  std::string target = std::string(side_.post_path) + "?cid=" + std::to_string(cid_) +
                       "&action=sub&msgContent=" +
                       EscapeForPage(Utf8ToWide(MessageText(id, side_.sends))) + "&adjunct=";
  if (!token_.empty()) target += "&token=" + token_;
  requests_->Send({http::verb::get, target, "", ""},
                 [self = shared_from_this(), id, done = std::move(done)](Reply reply) {
                   // The page takes an empty answer as "not saved".
                   const bool stored = reply.Ok() && !reply.response.body().empty();
                   if (stored) {
                     self->run_.book().Stored(id);
                   } else {
                     self->run_.book().NotStored(id);
                     self->run_.Error(std::string(self->side_.name) + " post",
                                      reply.Ok() ? "not stored" : Failure(reply));
                   }
                   if (done) done(stored);
                 });
}

void ChatWindow::PostAfter(Clock::duration pause) {
  auto timer = std::make_shared<asio::steady_timer>(run_.io(), pause);
  post_timers_.insert(timer);
  timer->async_wait([self = shared_from_this(), timer](beast::error_code error) {
    self->post_timers_.erase(timer);
    if (!error) self->Post();
  });
}

void ChatWindow::Close() {
  if (closed_) return;
  closed_ = true;
  retry_timer_.cancel();
  for (const auto& timer : post_timers_) timer->cancel();
  poll_connection_->Close();
  requests_->Close();
}

}  // namespace chatload
