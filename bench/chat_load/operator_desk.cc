#include "bench/chat_load/operator_desk.h"

#include <set>

#include "bench/chat_load/json_fields.h"
#include "text/url_encode.h"

namespace chatload {

OperatorDesk::OperatorDesk(LoadRun& run, size_t host, OperatorLogin login)
    : run_(run),
      host_(host),
      login_(std::move(login)),
      jar_(std::make_shared<CookieJar>()),
      console_(std::make_shared<RequestQueue>(run, run.Connection(host, jar_, false))),
      timer_(run.io()) {}

void OperatorDesk::Start(std::function<void(bool)> done) {
  const std::string form =
      "id=" + std::to_string(login_.id) + "&password=" + UrlEncodeText(login_.password);
  console_->Send({http::verb::post, "/api/login", form, ""},
                 [self = shared_from_this(), done = std::move(done)](Reply reply) {
                   self->token_ = reply.Ok() ? JsonText(reply.response.body(), "token") : "";
                   if (self->token_.empty()) {
                     self->run_.Error("operator login " + std::to_string(self->login_.id),
                                      reply.Ok() ? "no token in the answer" : Failure(reply));
                     return done(false);
                   }
                   self->company_ = JsonNumber(reply.response.body(), "companyId");
                   self->Refresh();
                   done(true);
                 });
}

void OperatorDesk::Refresh() {
  if (stopped_) return;
  console_->Send({http::verb::get, "/operator/GetClientList.asp?companyid=" + std::to_string(company_),
                  "", ""},
                 [self = shared_from_this()](Reply reply) {
                   if (!reply.Ok()) self->run_.Error("console visitor list", reply);
                 });
  console_->Send({http::verb::get, "/api/operator/conversations", "", ""},
                 [self = shared_from_this()](Reply reply) {
                   if (reply.Ok()) {
                     self->Conversations(reply.response.body());
                   } else {
                     self->run_.Error("console conversations", reply);
                   }
                   self->RefreshLater();
                 });
}

void OperatorDesk::RefreshLater() {
  timer_.expires_after(std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(run_.options().console_refresh)));
  timer_.async_wait([self = shared_from_this()](beast::error_code error) {
    if (!error) self->Refresh();
  });
}

void OperatorDesk::Conversations(const std::string& json) {
  const std::vector<long> cids = JsonNumbers(json, "cid");
  const std::set<long> listed(cids.begin(), cids.end());
  for (auto it = windows_.begin(); it != windows_.end();) {
    if (listed.count(it->first)) {
      ++it;
    } else {
      it->second->Close();  // the conversation ended
      it = windows_.erase(it);
    }
  }
  const size_t cap = run_.options().operator_windows;
  for (long cid : cids) {
    if (cap > 0 && windows_.size() >= cap) break;
    if (windows_.count(cid)) continue;
    auto window = std::make_shared<ChatWindow>(run_, host_, jar_, kOperatorWindow, cid, token_);
    windows_[cid] = window;
    std::weak_ptr<ChatWindow> weak = window;
    window->Open([&run = run_, weak](const std::vector<uint64_t>& ids) {
      // Each visitor message gets an answer after a human pause.
      if (auto window = weak.lock()) {
        for (size_t i = 0; i < ids.size(); ++i)
          window->PostAfter(run.Jittered(run.options().message_interval));
      }
    });
  }
}

void OperatorDesk::Stop() {
  stopped_ = true;
  timer_.cancel();
  console_->Close();
  for (auto& [cid, window] : windows_) window->Close();
  windows_.clear();
}

}  // namespace chatload
