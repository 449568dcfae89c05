// The simulated browser's connection against a small server on 127.0.0.1:
// keep-alive reuse with cookies, a request sent again after the host closed
// an idle connection, deadlines, and a host that is not there.
#include "bench/chat_load/http_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/chat_load/load_run.h"

namespace chatload {
namespace {

// Answers each request with "ok" and a cookie; closes the connection after
// each answer (`close_after_answer`) or never answers (`silent`).
class FakeHost {
 public:
  FakeHost(bool close_after_answer, bool silent)
      : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)),
        close_after_answer_(close_after_answer),
        silent_(silent),
        thread_([this] { Serve(); }) {}
  ~FakeHost() {
    stopping_ = true;
    beast::error_code ignored;
    tcp::socket wake(io_);
    wake.connect(acceptor_.local_endpoint(), ignored);
    thread_.join();
  }
  tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
  std::vector<std::string> cookies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return cookies_;
  }

 private:
  void Serve() {
    std::vector<tcp::socket> kept;  // silent: held open until the end
    while (!stopping_) {
      tcp::socket socket(io_);
      beast::error_code error;
      acceptor_.accept(socket, error);
      if (error || stopping_) break;
      beast::flat_buffer buffer;
      http::request<http::string_body> request;
      while (http::read(socket, buffer, request, error), !error) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          cookies_.push_back(std::string(request[http::field::cookie]));
        }
        if (silent_) break;
        http::response<http::string_body> response(http::status::ok, 11);
        response.set(http::field::set_cookie, "N=" + std::to_string(cookies().size()) + "; Path=/");
        response.body() = "ok";
        response.prepare_payload();
        http::write(socket, response, error);
        if (close_after_answer_) break;
        request = {};
      }
      kept.push_back(std::move(socket));
      if (close_after_answer_) kept.clear();
    }
  }

  asio::io_context io_;
  tcp::acceptor acceptor_;
  bool close_after_answer_;
  bool silent_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> cookies_;
  std::thread thread_;
};

// Sends `count` GETs one after the other, the next when one is answered.
std::vector<Reply> SendInTurn(tcp::endpoint host, int count, std::chrono::milliseconds deadline,
                              uint64_t* connects) {
  asio::io_context io;
  auto connection = HttpConnection::Make(io, host, std::make_shared<CookieJar>(),
                                         std::chrono::milliseconds(0), connects);
  std::vector<Reply> replies;
  std::function<void()> next = [&] {
    connection->Send({http::verb::get, "/page", "", ""}, deadline, [&](Reply reply) {
      replies.push_back(std::move(reply));
      // Whether the host's close arrives before or after the next request
      // is written, the request must come back answered.
      if (static_cast<int>(replies.size()) < count) next();
    });
  };
  next();
  io.run();
  connection->Close();
  return replies;
}

// Three requests in turn: on one kept connection, or, when the host closes
// each connection after its answer, each sent again once on a new one. The
// cookie the host set on an answer goes with the next request either way.
TEST(ChatLoadHttp, KeepsTheConnectionOrSendsAgainOnceAfterTheHostClosedIt) {
  for (const bool host_closes : {false, true}) {
    FakeHost host(host_closes, false);
    uint64_t connects = 0;
    auto replies = SendInTurn(host.endpoint(), 3, std::chrono::seconds(5), &connects);
    ASSERT_EQ(replies.size(), 3u);
    for (const Reply& reply : replies) EXPECT_TRUE(reply.Ok()) << Failure(reply);
    EXPECT_EQ(connects, host_closes ? 3u : 1u);
    // Each request reached the host exactly once.
    EXPECT_EQ(host.cookies(), (std::vector<std::string>{"", "N=1", "N=2"})) << host_closes;
  }
}

TEST(ChatLoadHttp, AnUnansweredRequestEndsAtItsDeadline) {
  FakeHost host(false, true);
  uint64_t connects = 0;
  const auto start = std::chrono::steady_clock::now();
  auto replies = SendInTurn(host.endpoint(), 1, std::chrono::milliseconds(300), &connects);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(Failure(replies[0]), "timeout");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ChatLoadHttp, AHostThatIsNotThereIsRefused) {
  tcp::endpoint gone;
  {
    FakeHost host(false, false);
    gone = host.endpoint();
  }
  uint64_t connects = 0;
  auto replies = SendInTurn(gone, 1, std::chrono::seconds(5), &connects);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].error, asio::error::connection_refused) << Failure(replies[0]);
}

}  // namespace
}  // namespace chatload
