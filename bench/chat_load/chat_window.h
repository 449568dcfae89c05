// The pieces a simulated browser window is made of.
//
// RequestQueue: requests sent one after the other on one connection, the way
// a window's scripts wait for each answer (posts, the chat API).
//
// ChatWindow: one side's chat window on a conversation. It polls with long
// polls (the next poll as soon as one is answered; every 2 s when the host
// did not hold it or the poll failed), reads the message marks of each
// answer into the run's DeliveryBook, and posts messages on a second
// connection, closed when idle so that thousands of windows keep only their
// held polls open.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "bench/chat_load/load_run.h"

namespace chatload {

class RequestQueue : public std::enable_shared_from_this<RequestQueue> {
 public:
  RequestQueue(LoadRun& run, std::shared_ptr<HttpConnection> connection)
      : run_(run), connection_(std::move(connection)) {}
  // `done` does not run once the queue is closed.
  void Send(Request request, HttpConnection::Done done);
  // A request still unanswered when the run stops is counted as an error.
  void Close();

 private:
  void Next();

  LoadRun& run_;
  std::shared_ptr<HttpConnection> connection_;
  std::deque<std::pair<Request, HttpConnection::Done>> waiting_;
  bool closed_ = false;
};

struct WindowSide {
  const char* poll_path;
  const char* post_path;
  Direction receives;
  Direction sends;
  const char* name;  // in error reports
};
inline constexpr WindowSide kVisitorWindow{"/visitor/GetClientMsg.asp", "/visitor/DoClientMsg.asp",
                                           kToVisitor, kToOperator, "visitor"};
inline constexpr WindowSide kOperatorWindow{"/operator/GetUserMsg.asp", "/operator/DoUserMsg.asp",
                                            kToOperator, kToVisitor, "operator"};

class ChatWindow : public std::enable_shared_from_this<ChatWindow> {
 public:
  // Runs with the ids of the messages a poll answer brought for the first time.
  using OnMessages = std::function<void(const std::vector<uint64_t>& ids)>;

  ChatWindow(LoadRun& run, size_t host, std::shared_ptr<CookieJar> jar, const WindowSide& side,
             long cid, std::string token);
  void Open(OnMessages on_messages);
  // Posts one new message (when the run still sends); `done` gets whether it
  // was stored.
  void Post(std::function<void(bool)> done = nullptr);
  // Post() after `pause`; pending ones are dropped by Close.
  void PostAfter(Clock::duration pause);
  // The window's request connection, for the chat API calls around it.
  RequestQueue& requests() { return *requests_; }
  void Close();
  long cid() const { return cid_; }

 private:
  void Poll();
  void Polled(Reply reply);
  void PollLater();

  LoadRun& run_;
  const WindowSide& side_;
  long cid_;
  std::string token_;
  std::shared_ptr<HttpConnection> poll_connection_;
  std::shared_ptr<RequestQueue> requests_;
  asio::steady_timer retry_timer_;
  std::set<std::shared_ptr<asio::steady_timer>> post_timers_;
  OnMessages on_messages_;
  Clock::time_point opened_{};
  bool closed_ = false;
};

}  // namespace chatload
