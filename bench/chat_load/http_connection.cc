#include "bench/chat_load/http_connection.h"

#include <cassert>

#include <boost/asio/connect.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

namespace chatload {
namespace {

constexpr std::uint64_t kBodyLimit = 64 << 20;

// Failures of a kept-alive connection that the host closed meanwhile.
bool IsStale(const beast::error_code& error) {
  return error == http::error::end_of_stream || error == asio::error::eof ||
         error == asio::error::connection_reset || error == asio::error::broken_pipe;
}

}  // namespace

void CookieJar::Take(const http::fields& response) {
  const auto range = response.equal_range(http::field::set_cookie);
  for (auto field = range.first; field != range.second; ++field) {
    const std::string_view text = field->value();
    const std::string_view pair = text.substr(0, text.find(';'));
    const size_t equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    values_[std::string(pair.substr(0, equals))] = std::string(pair.substr(equals + 1));
  }
}

std::string CookieJar::Header() const {
  std::string header;
  for (const auto& [name, value] : values_) {
    if (!header.empty()) header += "; ";
    header += name + "=" + value;
  }
  return header;
}

std::string CookieJar::Get(const std::string& name) const {
  auto found = values_.find(name);
  return found == values_.end() ? std::string() : found->second;
}

std::string Reply::Header(std::string_view name) const {
  auto found = response.find(beast::string_view(name.data(), name.size()));
  return found == response.end() ? std::string() : std::string(found->value());
}

std::shared_ptr<HttpConnection> HttpConnection::Make(asio::io_context& io, tcp::endpoint host,
                                                     std::shared_ptr<CookieJar> jar,
                                                     std::chrono::milliseconds idle_close,
                                                     uint64_t* connects) {
  return std::make_shared<HttpConnection>(io, host, std::move(jar), idle_close, connects);
}

HttpConnection::HttpConnection(asio::io_context& io, tcp::endpoint host,
                               std::shared_ptr<CookieJar> jar, std::chrono::milliseconds idle_close,
                               uint64_t* connects)
    : host_(host),
      jar_(std::move(jar)),
      idle_close_(idle_close),
      stream_(io),
      idle_timer_(io),
      connects_(connects) {}

void HttpConnection::Send(Request request, std::chrono::milliseconds deadline, Done done) {
  assert(!Busy());
  idle_timer_.cancel();
  request_ = {};
  request_.method(request.method);
  request_.target(request.target);
  request_.version(11);
  request_.set(http::field::host, host_.address().to_string() + ":" + std::to_string(host_.port()));
  request_.set(http::field::user_agent, "zelto-chat-load");
  if (const std::string cookies = jar_->Header(); !cookies.empty())
    request_.set(http::field::cookie, cookies);
  if (!request.token.empty()) request_.set("X-Zelto-Token", request.token);
  if (request.method == http::verb::post) {
    request_.set(http::field::content_type, "application/x-www-form-urlencoded");
    request_.body() = std::move(request.form);
  }
  request_.prepare_payload();
  deadline_ = deadline;
  done_ = std::move(done);
  retried_ = false;
  if (stream_.socket().is_open()) {
    reused_ = true;
    Write();
  } else {
    Connect();
  }
}

void HttpConnection::Connect() {
  reused_ = false;
  buffer_.clear();
  ++*connects_;
  stream_.expires_after(deadline_);
  stream_.async_connect(host_, [self = shared_from_this()](beast::error_code error) {
    if (error) return self->Failed(error);
    self->stream_.socket().set_option(tcp::no_delay(true));
    self->Write();
  });
}

void HttpConnection::Write() {
  stream_.expires_after(deadline_);
  http::async_write(stream_, request_,
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      if (error) return self->Failed(error);
                      self->Read();
                    });
}

void HttpConnection::Read() {
  parser_.emplace();
  parser_->body_limit(kBodyLimit);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     if (error) return self->Failed(error);
                     self->Finish({});
                   });
}

void HttpConnection::Failed(beast::error_code error) {
  beast::error_code ignored;
  stream_.socket().close(ignored);
  if (reused_ && !retried_ && IsStale(error) && done_) {
    retried_ = true;
    return Connect();
  }
  Finish(error);
}

void HttpConnection::Finish(beast::error_code error) {
  if (!done_) return;
  Reply reply;
  reply.error = error;
  if (!error) {
    reply.response = parser_->release();
    jar_->Take(reply.response.base());
    if (!reply.response.keep_alive()) {
      beast::error_code ignored;
      stream_.socket().close(ignored);
    }
  }
  Done done = std::move(done_);
  done_ = nullptr;
  if (!error) ArmIdleClose();
  done(std::move(reply));
}

void HttpConnection::ArmIdleClose() {
  if (idle_close_.count() <= 0 || !stream_.socket().is_open()) return;
  idle_timer_.expires_after(idle_close_);
  idle_timer_.async_wait([weak = weak_from_this()](beast::error_code error) {
    auto self = weak.lock();
    if (error || !self || self->Busy()) return;
    beast::error_code ignored;
    self->stream_.socket().close(ignored);
  });
}

void HttpConnection::Close() {
  idle_timer_.cancel();
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
  stream_.socket().close(ignored);
  stream_.cancel();
}

}  // namespace chatload
