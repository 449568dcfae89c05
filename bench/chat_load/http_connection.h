// One keep-alive HTTP/1.1 connection of a simulated browser window to a host:
// one request at a time, each within a deadline, the window's cookies sent
// and updated from Set-Cookie. A request that fails at once on a connection
// the host closed while it sat idle is sent again on a new connection, as
// browsers do. Close() ends the connection; a request under way then
// completes with operation_aborted. Each TCP connection opened adds one to
// *connects. All calls on the io_context's thread.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace chatload {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

class CookieJar {
 public:
  // Takes each "Set-Cookie: NAME=VALUE; ..." of `response`.
  void Take(const http::fields& response);
  std::string Header() const;  // "A=1; B=2", empty when none
  std::string Get(const std::string& name) const;

 private:
  std::map<std::string, std::string> values_;
};

struct Reply {
  beast::error_code error;  // network failure, timeout or abort
  http::response<http::string_body> response;
  bool Ok() const { return !error && response.result_int() == 200; }
  std::string Header(std::string_view name) const;
};

struct Request {
  http::verb method = http::verb::get;
  std::string target;
  std::string form;   // body of a POST (form encoded)
  std::string token;  // X-Zelto-Token when not empty
};

class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  using Done = std::function<void(Reply)>;

  static std::shared_ptr<HttpConnection> Make(asio::io_context& io, tcp::endpoint host,
                                              std::shared_ptr<CookieJar> jar,
                                              std::chrono::milliseconds idle_close,
                                              uint64_t* connects);
  // REQUIRES: !Busy().
  void Send(Request request, std::chrono::milliseconds deadline, Done done);
  bool Busy() const { return static_cast<bool>(done_); }
  void Close();

  HttpConnection(asio::io_context& io, tcp::endpoint host, std::shared_ptr<CookieJar> jar,
                 std::chrono::milliseconds idle_close, uint64_t* connects);

 private:
  void Connect();
  void Write();
  void Read();
  void Failed(beast::error_code error);
  void Finish(beast::error_code error);
  void ArmIdleClose();

  tcp::endpoint host_;
  std::shared_ptr<CookieJar> jar_;
  std::chrono::milliseconds idle_close_;  // 0: kept until the host closes it
  beast::tcp_stream stream_;
  asio::steady_timer idle_timer_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> request_;
  std::optional<http::response_parser<http::string_body>> parser_;
  std::chrono::milliseconds deadline_{0};
  Done done_;
  bool reused_ = false;   // the request went out on a connection used before
  bool retried_ = false;  // and was already sent again once
  uint64_t* connects_;  // TCP connections opened, added to
};

}  // namespace chatload
