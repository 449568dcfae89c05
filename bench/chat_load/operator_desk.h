// A simulated operator: logs in, then refreshes the console (the visitor
// list page and its own conversations) every --console-refresh seconds,
// closes the chat windows of conversations that ended, opens one for every
// conversation it is given (at most --operator-windows, oldest first), and
// answers each visitor message after a human pause.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "bench/chat_load/chat_window.h"
#include "bench/chat_load/load_run.h"

namespace chatload {

class OperatorDesk : public Client, public std::enable_shared_from_this<OperatorDesk> {
 public:
  OperatorDesk(LoadRun& run, size_t host, OperatorLogin login);
  // `done` runs once the login was answered, with whether it succeeded.
  void Start(std::function<void(bool)> done);
  void Stop() override;

 private:
  void Refresh();
  void Conversations(const std::string& json);
  void RefreshLater();

  LoadRun& run_;
  size_t host_;
  OperatorLogin login_;
  std::shared_ptr<CookieJar> jar_;
  std::shared_ptr<RequestQueue> console_;
  asio::steady_timer timer_;
  std::string token_;
  long company_ = 0;
  std::map<long, std::shared_ptr<ChatWindow>> windows_;
  bool stopped_ = false;
};

}  // namespace chatload
