#include "bench/chat_load/visitor.h"

#include <algorithm>

#include "bench/chat_load/json_fields.h"

namespace chatload {
namespace {

const char* const kPages[] = {"/site/index.html", "/site/products.html", "/site/about.html"};

// How long a visitor waits for the answer to its last message before it
// ends the chat all the same: a few human pauses, at least half a minute.
Clock::duration AnswerPatience(double message_interval) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(std::max(30.0, 4 * message_interval)));
}

}  // namespace

Visitor::Visitor(LoadRun& run, size_t host, bool chats, bool writes)
    : run_(run),
      host_(host),
      chats_(chats),
      writes_(writes),
      jar_(std::make_shared<CookieJar>()),
      site_(std::make_shared<RequestQueue>(run, run.Connection(host, jar_, true))),
      timer_(run.io()) {}

void Visitor::Start() {
  ++run_.counts().visitors;
  ViewPage(0);
}

void Visitor::After(Clock::duration pause, std::function<void()> step) {
  timer_.expires_after(pause);
  timer_.async_wait([self = shared_from_this(), step = std::move(step)](beast::error_code error) {
    if (!error && !self->left_) step();
  });
}

void Visitor::ViewPage(int number) {
  site_->Send({http::verb::get, kPages[number % std::size(kPages)], "", ""},
              [self = shared_from_this(), number](Reply reply) {
                LoadRun& run = self->run_;
                if (!reply.Ok()) {
                  run.Error("page view", reply);
                  return self->Leave();
                }
                ++run.counts().page_views;
                const auto pause = run.Jittered(run.options().page_interval);
                if (self->chats_) return self->After(pause, [self] { self->OpenChat(); });
                if (number + 1 >= run.options().pages || !run.Sending()) return self->Leave();
                self->After(pause, [self, number] { self->ViewPage(number + 1); });
              });
}

void Visitor::OpenChat() {
  if (!run_.Sending()) return Leave();
  site_->Send({http::verb::post, "/api/visitor/chat", "", ""},
              [self = shared_from_this()](Reply reply) {
                const long cid = reply.Ok() ? JsonNumber(reply.response.body(), "cid") : 0;
                if (cid <= 0) {
                  self->run_.Error("chat open", reply.Ok() ? "no cid in the answer" : Failure(reply));
                  return self->Leave();
                }
                self->run_.ChatOpened(cid);
                self->OpenWindow(cid);
              });
}

void Visitor::OpenWindow(long cid) {
  window_ = std::make_shared<ChatWindow>(run_, host_, jar_, kVisitorWindow, cid, "");
  window_->requests().Send(
      {http::verb::post, "/api/visitor/chat-opened", "cid=" + std::to_string(cid), ""},
      [self = shared_from_this()](Reply reply) {
        if (!reply.Ok()) {
          self->run_.Error("chat window open", reply);
          return self->EndChat();
        }
        self->window_->Open([self](const std::vector<uint64_t>& ids) { self->Answered(ids.size()); });
        if (!self->writes_) return;
        self->After(self->run_.Jittered(self->run_.options().message_interval),
                    [self] { self->WriteMessage(); });
      });
}

void Visitor::WriteMessage() {
  if (!run_.Sending()) return;  // the end of the run: the window stays open
  ++sent_;
  window_->Post();
  const Options& o = run_.options();
  if (o.chat_messages == 0 || sent_ < o.chat_messages) {
    After(run_.Jittered(o.message_interval), [self = shared_from_this()] { self->WriteMessage(); });
  } else {
    After(AnswerPatience(o.message_interval), [self = shared_from_this()] { self->EndChat(); });
  }
}

void Visitor::Answered(size_t count) {
  answers_ += count;
  const int last = run_.options().chat_messages;
  if (last > 0 && sent_ >= last && answers_ >= static_cast<size_t>(sent_)) {
    // Reads the last answer for a moment, then closes the chat.
    After(run_.Jittered(run_.options().page_interval), [self = shared_from_this()] { self->EndChat(); });
  }
}

void Visitor::EndChat() {
  if (!window_) return Leave();
  window_->requests().Send(
      {http::verb::post, "/api/conversation/end", "cid=" + std::to_string(window_->cid()), ""},
      [self = shared_from_this()](Reply reply) {
        if (!reply.Ok()) self->run_.Error("chat end", reply);
        self->Leave();
      });
}

void Visitor::Leave() {
  if (left_) return;
  left_ = true;
  timer_.cancel();
  site_->Close();
  if (window_) {
    run_.ChatEnded(window_->cid());
    window_->Close();
    window_.reset();  // its message callback holds this visitor
  }
}

void Visitor::Stop() { Leave(); }

}  // namespace chatload
