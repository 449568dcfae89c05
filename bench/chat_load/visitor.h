// A simulated visitor of the demo company site: views its pages (each view
// records the visit), and, if it is one who chats, opens a chat after the
// first page, opens the chat window (which polls), writes its messages at a
// human pace, and ends the conversation once its last message was answered
// (or waited for long enough), then leaves. A visitor who does not write
// keeps the chat window open until the end of the run.
#pragma once

#include <functional>
#include <memory>

#include "bench/chat_load/chat_window.h"
#include "bench/chat_load/load_run.h"

namespace chatload {

class Visitor : public Client, public std::enable_shared_from_this<Visitor> {
 public:
  // `chats`: opens a chat; `writes`: writes in it (else it keeps the window
  // open, polling, until the end of the run).
  Visitor(LoadRun& run, size_t host, bool chats, bool writes);
  void Start();
  void Stop() override;

 private:
  void ViewPage(int number);
  void OpenChat();
  void OpenWindow(long cid);
  void Answered(size_t count);
  void WriteMessage();
  void EndChat();
  void Leave();
  // Runs `step` after `pause` unless the visitor left meanwhile.
  void After(Clock::duration pause, std::function<void()> step);

  LoadRun& run_;
  size_t host_;
  bool chats_;
  bool writes_;
  std::shared_ptr<CookieJar> jar_;
  std::shared_ptr<RequestQueue> site_;
  std::shared_ptr<ChatWindow> window_;
  asio::steady_timer timer_;
  int sent_ = 0;
  size_t answers_ = 0;
  bool left_ = false;
};

}  // namespace chatload
