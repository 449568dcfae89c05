// HttpServer: HTTP/1.1 over Boost.Beast and Asio. Connections are served
// asynchronously on an io_context (no thread per connection): keep-alive,
// an idle limit while waiting for the next request, a read limit once a
// request's body is coming, header and body size limits (431, 413), and an
// access log line per answered request. The handler answers through a
// Respond callback that may be called later and from any thread (a worker);
// the answer is written on the connection's strand.
//
// Stop() closes the listener and the idle connections; requests being
// handled finish and are answered (with Connection: close). The io_context's
// run() returns once the last of them is written.
#pragma once

#include <atomic>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "host/serve/access_log.h"

namespace zelto::serve {

namespace http = boost::beast::http;
using HttpRequest = http::request<http::string_body>;
using HttpResponse = http::response<http::string_body>;
// Callable once, from any thread.
using Respond = std::function<void(HttpResponse)>;

struct HttpLimits {
  std::chrono::milliseconds header_timeout{10'000};  // a new connection's first header
  std::chrono::milliseconds idle_timeout{60'000};  // waiting for a kept-alive request's header
  std::chrono::milliseconds read_timeout{15'000};  // reading its body
  std::chrono::milliseconds write_timeout{30'000};
  size_t header_limit = 16 * 1024;
  size_t max_body_limit = 8 * 1024 * 1024;  // no route may allow more
  size_t connections_per_address = 256;     // more from one client are closed at once
};

// Raises the process's open-file limit to its hard limit; the limit now.
size_t RaiseOpenFileLimit();

// Tells a handler that holds a request that its client went away before the
// answer (the connection closed). Thread-safe; the callback runs at most once,
// on the connection's strand, or at once when the client is already gone.
class ClientWatch {
 public:
  void OnGone(std::function<void()> on_gone);
  void Gone();  // by the server

 private:
  std::mutex mutex_;
  bool gone_ = false;
  std::function<void()> on_gone_;
};

class HttpHandler {
 public:
  virtual ~HttpHandler() = default;
  // The largest body accepted for this request (at most max_body_limit).
  virtual size_t BodyLimit(const HttpRequest& header) const = 0;
  // `remote` is the peer's address ("127.0.0.1").
  virtual void Handle(HttpRequest request, const std::string& remote, Respond respond) = 0;
  // What the server calls: Handle, with a watch on the client for handlers
  // that may hold a request for long.
  virtual void HandleWatched(HttpRequest request, const std::string& remote, Respond respond,
                             std::shared_ptr<ClientWatch> /*watch*/) {
    Handle(std::move(request), remote, std::move(respond));
  }
};

// Opens, binds and listens on `endpoint` without accepting yet, so that a
// taken address is known before anything else starts. False with a
// one-line reason ("127.0.0.1:8080 is already in use (...)").
bool OpenListener(const boost::asio::ip::tcp::endpoint& endpoint,
                  boost::asio::ip::tcp::acceptor* listener, std::string* error);

class HttpServer {
 public:
  // `access_log` may be null (no log); it must outlive the server.
  HttpServer(boost::asio::io_context& io, HttpHandler& handler, HttpLimits limits,
             const AccessLog* access_log);
  ~HttpServer();

  // Binds and listens; false with a one-line reason (address in use, ...).
  bool Listen(const boost::asio::ip::tcp::endpoint& endpoint, std::string* error);
  // Serves the connections of a socket already listening (OpenListener).
  void Serve(boost::asio::ip::tcp::acceptor listener);
  // The bound port (useful with port 0).
  unsigned short port() const;
  void Stop();  // thread-safe
  // Where a failure to accept connections goes (what failed, the cause);
  // the server then tries again shortly instead of at once. Set before Listen.
  void OnFailure(std::function<void(std::string_view what, std::string_view cause)> report) {
    report_failure_ = std::move(report);
  }

  // Requests read and not yet answered (a stop lets them finish).
  size_t requests_in_progress() const;

  // Internals shared with the connections.
  struct Shared;

 private:
  void Accept();

  boost::asio::io_context& io_;
  boost::asio::ip::tcp::acceptor acceptor_;
  boost::asio::steady_timer accept_retry_;
  std::function<void(std::string_view, std::string_view)> report_failure_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace zelto::serve
