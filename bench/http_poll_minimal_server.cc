// The smallest keep-alive HTTP server Boost.Beast makes: one io_context
// thread, every request answered at once with a fixed empty 200. It is the
// yardstick for `zelto serve`'s poll rate in bench/http_poll.sh.
//   http_poll_minimal_server PORT   (127.0.0.1 only; prints "listening PORT")
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

class Session : public std::enable_shared_from_this<Session> {
 public:
  explicit Session(tcp::socket socket) : stream_(std::move(socket)) {}
  void Read() {
    request_ = {};
    http::async_read(stream_, buffer_, request_,
                     [self = shared_from_this()](beast::error_code ec, size_t) {
                       if (ec) return self->stream_.close();
                       self->Write();
                     });
  }

 private:
  void Write() {
    response_ = {http::status::ok, request_.version()};
    response_.set(http::field::content_type, "text/html; charset=utf-8");
    response_.keep_alive(request_.keep_alive());
    response_.prepare_payload();
    http::async_write(stream_, response_,
                      [self = shared_from_this()](beast::error_code ec, size_t) {
                        if (ec || !self->response_.keep_alive()) return self->stream_.close();
                        self->Read();
                      });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  http::request<http::string_body> request_;
  http::response<http::string_body> response_;
};

void Accept(tcp::acceptor& acceptor, asio::io_context& io) {
  acceptor.async_accept(asio::make_strand(io), [&](beast::error_code ec, tcp::socket socket) {
    if (ec) return;
    socket.set_option(tcp::no_delay(true));
    std::make_shared<Session>(std::move(socket))->Read();
    Accept(acceptor, io);
  });
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: http_poll_minimal_server PORT\n");
    return 2;
  }
  asio::io_context io(1);
  tcp::acceptor acceptor(
      io, {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(std::atoi(argv[1]))});
  std::printf("listening %u\n", acceptor.local_endpoint().port());
  std::fflush(stdout);
  Accept(acceptor, io);
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](beast::error_code, int) { io.stop(); });
  io.run();
  return 0;
}
