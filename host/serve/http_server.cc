#include "host/serve/http_server.h"

#include <sys/resource.h>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <optional>

namespace zelto::serve {

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;

class Connection;

struct HttpServer::Shared {
  Shared(HttpHandler& h, HttpLimits l, const AccessLog* log)
      : handler(h), limits(l), access_log(log && log->enabled() ? log : nullptr) {}
  HttpHandler& handler;
  HttpLimits limits;
  const AccessLog* access_log;
  std::atomic<bool> stopping{false};
  std::atomic<size_t> in_progress{0};  // connections with a request being handled
  std::mutex mutex;
  uint64_t next_id = 0;
  std::unordered_map<uint64_t, std::weak_ptr<Connection>> connections;
  std::unordered_map<std::string, size_t> per_address;  // open connections of each client

  // Counts a new connection of `address`; false when it has its share.
  bool TakePlace(const std::string& address) {
    std::lock_guard lock(mutex);
    size_t& open = per_address[address];
    if (open >= limits.connections_per_address) {
      if (open == 0) per_address.erase(address);
      return false;
    }
    ++open;
    return true;
  }
  void ReleasePlace(const std::string& address) {
    std::lock_guard lock(mutex);
    auto it = per_address.find(address);
    if (it != per_address.end() && --it->second == 0) per_address.erase(it);
  }
};

void ClientWatch::OnGone(std::function<void()> on_gone) {
  std::unique_lock lock(mutex_);
  if (!gone_) {
    on_gone_ = std::move(on_gone);
    return;
  }
  lock.unlock();
  on_gone();
}

void ClientWatch::Gone() {
  std::function<void()> on_gone;
  {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    gone_ = true;
    on_gone.swap(on_gone_);
  }
  if (on_gone) on_gone();
}

namespace {

HttpResponse PlainResponse(http::status status, unsigned version, std::string body) {
  HttpResponse response{status, version};
  response.set(http::field::content_type, "text/plain; charset=utf-8");
  response.body() = std::move(body);
  response.keep_alive(false);
  return response;
}

}  // namespace

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, std::shared_ptr<HttpServer::Shared> shared)
      : stream_(std::move(socket)),
        stop_timer_(stream_.get_executor()),
        shared_(std::move(shared)) {
    beast::error_code ec;
    const auto endpoint = stream_.socket().remote_endpoint(ec);
    if (!ec) remote_ = endpoint.address().to_string();
  }

  ~Connection() {
    SetBusy(false);
    shared_->ReleasePlace(remote_);
    std::lock_guard lock(shared_->mutex);
    shared_->connections.erase(id_);
  }


  void Start() {
    {
      std::lock_guard lock(shared_->mutex);
      id_ = shared_->next_id++;
      shared_->connections[id_] = weak_from_this();
    }
    asio::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->ReadHeader(); });
  }

  // On the server's stop: an idle connection closes now, a busy one after
  // its answer is written. A client still sending its request or not
  // reading the answer has kStopGrace for it, not the usual limits, so
  // that no client holds a stop for long.
  void OnStop() {
    asio::post(stream_.get_executor(), [self = shared_from_this()] {
      if (!self->busy_) return self->Close();
      if (self->awaiting_answer_) return;  // its answer is written with kStopGrace
      // A read or write in progress keeps the limit it began with: cut it off.
      self->stop_timer_.expires_after(kStopGrace);
      self->stop_timer_.async_wait([weak = std::weak_ptr<Connection>(self)](beast::error_code ec) {
        if (auto connection = weak.lock(); connection && !ec) connection->Close();
      });
    });
  }

 private:
  void ReadHeader() {
    if (shared_->stopping) return Close();
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(shared_->limits.header_limit));
    parser_->body_limit(shared_->limits.max_body_limit);
    // A new connection must send its first request soon; one kept alive
    // may wait longer for its next.
    stream_.expires_after(requests_ == 0 ? shared_->limits.header_timeout
                                         : shared_->limits.idle_timeout);
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnHeader(ec); });
  }

  void OnHeader(beast::error_code ec) {
    if (ec) return OnReadError(ec);
    SetBusy(true);  // from here on the request is in progress: a stop lets it finish
    started_ = std::chrono::steady_clock::now();
    const HttpRequest& header = parser_->get();
    if (shared_->access_log) Remember(header);
    const size_t limit =
        std::min(shared_->limits.max_body_limit, shared_->handler.BodyLimit(header));
    const auto length = parser_->content_length();
    if (length && *length > limit) return RejectTooLarge(header.version());
    parser_->body_limit(limit);
    stream_.expires_after(shared_->limits.read_timeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->OnBody(ec); });
  }

  void OnBody(beast::error_code ec) {
    if (ec) return OnReadError(ec);
    HttpRequest request = parser_->release();
    keep_alive_ = request.keep_alive();
    version_ = request.version();
    stream_.expires_never();  // the handler may take its time; the write has its own limit
    // The io_context runs on until the answer is written, even with nothing
    // else of this connection pending.
    pending_.emplace(stream_.get_executor());
    // dispatch: an answer given on the strand itself is written at once. The
    // callable holds just the connection, so Respond keeps it without
    // allocating.
    Respond respond = [self = shared_from_this()](HttpResponse response) {
      asio::dispatch(self->stream_.get_executor(),
                     [self, response = std::move(response)]() mutable {
                       self->Write(std::move(response));
                       self->pending_.reset();
                     });
    };
    awaiting_answer_ = true;
    auto watch = std::make_shared<ClientWatch>();
    shared_->handler.HandleWatched(std::move(request), remote_, std::move(respond), watch);
    if (awaiting_answer_) WatchClient(std::move(watch));
  }

  // While the handler holds the request, the socket turns readable with
  // nothing to read only when the client closed it.
  void WatchClient(std::shared_ptr<ClientWatch> watch) {
    stream_.socket().async_wait(
        tcp::socket::wait_read,
        [self = shared_from_this(), watch, request = requests_](beast::error_code ec) {
          if (ec || !self->awaiting_answer_ || self->requests_ != request) return;
          beast::error_code error;
          if (self->stream_.socket().available(error) == 0 || error) watch->Gone();
        });
  }

  void OnReadError(beast::error_code ec) {
    if (ec == http::error::header_limit) {
      if (RequestLineTooLong()) return RejectTooLarge(11);
      return WriteFinal(PlainResponse(http::status::request_header_fields_too_large, 11,
                                      "request header too large\n"));
    }
    if (ec == http::error::body_limit) return RejectTooLarge(11);
    const bool quiet = ec == http::error::end_of_stream || ec == beast::error::timeout ||
                       ec == asio::error::operation_aborted ||
                       ec == asio::error::connection_reset || ec == asio::error::eof;
    if (quiet || !parser_ || (!parser_->is_header_done() && buffer_.size() == 0)) return Close();
    WriteFinal(PlainResponse(http::status::bad_request, 11, "bad request\n"));
  }

  // A request line longer than the whole header allowance carries its bulk
  // in the target (a message text in a page's query): the request is too
  // large, not its header fields. The parser takes the request line as soon
  // as it is whole: a target still unknown at the limit means the line
  // alone was too long.
  bool RequestLineTooLong() const { return parser_ && parser_->get().target().empty(); }

  void RejectTooLarge(unsigned version) {
    if (shared_->access_log && parser_ && parser_->is_header_done()) Remember(parser_->get());
    WriteFinal(PlainResponse(http::status::payload_too_large, version, "request too large\n"));
  }

  void WriteFinal(HttpResponse response) {
    SetBusy(true);
    keep_alive_ = false;
    linger_ = true;
    Write(std::move(response));
  }

  void Write(HttpResponse response) {
    awaiting_answer_ = false;
    ++requests_;
    const bool keep = keep_alive_ && !shared_->stopping;
    response.version(version_ ? version_ : 11);
    response.keep_alive(keep && response.keep_alive());
    response.prepare_payload();
    response_.emplace(std::move(response));
    stream_.expires_after(shared_->stopping ? std::min<std::chrono::milliseconds>(
                                                  kStopGrace, shared_->limits.write_timeout)
                                            : shared_->limits.write_timeout);
    http::async_write(stream_, *response_,
                      [self = shared_from_this()](beast::error_code ec, size_t bytes) {
                        self->OnWritten(ec, bytes);
                      });
  }

  void OnWritten(beast::error_code ec, size_t bytes) {
    LogAccess(bytes);
    const bool again = !ec && response_->keep_alive() && !shared_->stopping;
    response_.reset();
    SetBusy(false);
    if (!again) return linger_ ? Linger() : Close();
    ReadHeader();
  }

  // After refusing a request whose body was not read: stop sending and read
  // what the client still sends for a moment before closing, so that the
  // close does not reset the connection and destroy the answer unread.
  void Linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(std::chrono::seconds(2));
    discard_.resize(64 * 1024);
    stream_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](beast::error_code ec, size_t n) {
                              self->lingered_ += n;
                              if (ec || self->lingered_ > kMaxLinger) return self->Close();
                              self->Linger();
                            });
  }

  // What the access log line tells of the request; copied only for it.
  void Remember(const HttpRequest& header) {
    logged_.received = std::chrono::system_clock::now();
    logged_.method = std::string(header.method_string());
    logged_.target = std::string(header.target());
    logged_.version = header.version() == 10 ? "HTTP/1.0" : "HTTP/1.1";
    logged_.referer = std::string(header[http::field::referer]);
    logged_.user_agent = std::string(header[http::field::user_agent]);
  }

  void LogAccess(size_t bytes) {
    if (!shared_->access_log) return;
    logged_.remote = remote_;
    if (logged_.method.empty()) logged_.received = std::chrono::system_clock::now();
    logged_.status = response_->result_int();
    logged_.bytes = bytes;
    logged_.taken = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - started_);
    shared_->access_log->Write(logged_);
    logged_ = AccessRecord{};
  }

  void SetBusy(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
      ++shared_->in_progress;
    else
      --shared_->in_progress;
  }

  void Close() {
    stop_timer_.cancel();
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

  using tcp_stream_executor = beast::tcp_stream::executor_type;

  beast::tcp_stream stream_;
  asio::steady_timer stop_timer_;  // the grace of a busy connection at a stop
  std::shared_ptr<HttpServer::Shared> shared_;
  uint64_t id_ = 0;
  std::string remote_ = "-";
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<HttpResponse> response_;  // the answer being written
  std::optional<asio::executor_work_guard<tcp_stream_executor>> pending_;
  static constexpr size_t kMaxLinger = 32 * 1024 * 1024;
  static constexpr std::chrono::milliseconds kStopGrace{5000};
  bool busy_ = false;
  bool awaiting_answer_ = false;  // the handler has the request
  uint64_t requests_ = 0;         // answers written, to tell a stale watch
  bool linger_ = false;
  size_t lingered_ = 0;
  std::vector<char> discard_;
  bool keep_alive_ = false;
  unsigned version_ = 11;
  AccessRecord logged_;  // the request being answered, for the access log
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};

HttpServer::HttpServer(asio::io_context& io, HttpHandler& handler, HttpLimits limits,
                       const AccessLog* access_log)
    : io_(io),
      acceptor_(io),
      accept_retry_(io),
      shared_(std::make_shared<Shared>(handler, limits, access_log)) {}

HttpServer::~HttpServer() = default;

size_t RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised{limit.rlim_max, limit.rlim_max};
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? SIZE_MAX : static_cast<size_t>(limit.rlim_cur);
}

bool OpenListener(const tcp::endpoint& endpoint, tcp::acceptor* listener, std::string* error) {
  beast::error_code ec;
  listener->open(endpoint.protocol(), ec);
  if (!ec) listener->set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) listener->bind(endpoint, ec);
  if (!ec) listener->listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) return true;
  const std::string where = endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
  if (ec == asio::error::address_in_use) {
    *error = where + " is already in use (is another server running there?)";
  } else {
    *error = "cannot listen on " + where + ": " + ec.message();
  }
  beast::error_code ignored;
  listener->close(ignored);
  return false;
}

bool HttpServer::Listen(const tcp::endpoint& endpoint, std::string* error) {
  tcp::acceptor listener(io_);
  if (!OpenListener(endpoint, &listener, error)) return false;
  Serve(std::move(listener));
  return true;
}

void HttpServer::Serve(tcp::acceptor listener) {
  acceptor_ = std::move(listener);
  Accept();
}

size_t HttpServer::requests_in_progress() const { return shared_->in_progress.load(); }

unsigned short HttpServer::port() const {
  beast::error_code ec;
  const auto endpoint = acceptor_.local_endpoint(ec);
  return ec ? 0 : endpoint.port();
}

void HttpServer::Accept() {
  acceptor_.async_accept(asio::make_strand(io_), [this](beast::error_code ec, tcp::socket socket) {
    if (shared_->stopping) return;
    if (!ec) {
      socket.set_option(tcp::no_delay(true), ec);
      beast::error_code peer_ec;
      const auto peer = socket.remote_endpoint(peer_ec);
      const std::string address = peer_ec ? "-" : peer.address().to_string();
      // One client holding many connections closes its newest, so that the
      // descriptors stay for everyone else.
      if (shared_->TakePlace(address)) {
        std::make_shared<Connection>(std::move(socket), shared_)->Start();
      } else {
        socket.close(ec);
      }
      if (acceptor_.is_open()) Accept();
      return;
    }
    if (ec == asio::error::operation_aborted || !acceptor_.is_open()) return;
    // Out of file descriptors, mostly: accepting again at once would fail
    // again at once, a busy loop on the only HTTP thread. Connections
    // waiting meanwhile stay in the listen queue.
    if (report_failure_) report_failure_("accepting connections", ec.message());
    accept_retry_.expires_after(std::chrono::milliseconds(100));
    accept_retry_.async_wait([this](beast::error_code wait_ec) {
      if (!wait_ec && !shared_->stopping && acceptor_.is_open()) Accept();
    });
  });
}

void HttpServer::Stop() {
  asio::post(io_, [this] {
    if (shared_->stopping.exchange(true)) return;
    beast::error_code ignored;
    acceptor_.close(ignored);
    accept_retry_.cancel();
    std::vector<std::shared_ptr<Connection>> live;
    {
      std::lock_guard lock(shared_->mutex);
      for (auto& [id, weak] : shared_->connections) {
        if (auto connection = weak.lock()) live.push_back(std::move(connection));
      }
    }
    for (auto& connection : live) connection->OnStop();
  });
}

}  // namespace zelto::serve
