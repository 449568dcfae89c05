// A small HTTP/1.1 server for tests, on 127.0.0.1 only, at an ephemeral port.
// It serves canned responses by request path (query included), one thread
// per connection, one response per connection (then it closes). Unknown paths
// get 404. It records every request it reads. Destruction stops it, ending
// endless and stalled responses.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zelto::testing {

struct CannedResponse {
  enum class Kind {
    kFixed,     // status, headers, body with Content-Length
    kChunked,   // the body in chunked encoding, no Content-Length
    kEndless,   // headers, then `body` again and again every `interval`
    kStall,     // reads the request and never answers
  };
  Kind kind = Kind::kFixed;
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::chrono::milliseconds interval{10};

  static CannedResponse Page(std::string body);
  static CannedResponse Redirect(std::string location, int status = 302);
};

struct RecordedRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::map<std::string, std::string> headers;  // names lower-cased
  std::string body;  // Content-Length bytes after the head
};

class LocalHttpServer {
 public:
  LocalHttpServer();  // binds and starts; aborts the test binary if it cannot
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  uint16_t port() const { return port_; }
  // "127.0.0.1:<port><path>" and the same with "http://" in front.
  std::string Address(const std::string& path) const;
  std::string Url(const std::string& path) const;

  void Serve(const std::string& path, CannedResponse response);
  std::vector<RecordedRequest> Requests() const;
  int HitCount(const std::string& target) const;

 private:
  void AcceptLoop();
  void HandleConnection(int fd);
  bool ReadRequest(int fd, RecordedRequest& request);
  void Respond(int fd, const CannedResponse& response);
  bool SendAll(int fd, const std::string& bytes);
  bool WaitWhileRunning(int fd, short events, std::chrono::milliseconds timeout);

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::map<std::string, CannedResponse> responses_;
  std::vector<RecordedRequest> requests_;
  std::vector<std::thread> connections_;
  std::thread acceptor_;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed again).
uint16_t ClosedLocalPort();

}  // namespace zelto::testing
