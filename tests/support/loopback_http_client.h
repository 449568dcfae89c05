// LoopbackHttpClient: a tiny HTTP/1.1 client for tests of `zelto serve`, on
// 127.0.0.1 only. It keeps one connection alive across requests (opening a
// new one when the server closed it), keeps the cookies the server sets, and
// can send raw bytes for malformed or oversized requests. Reads time out
// after 10 s, which fails the test rather than hanging it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zelto::testing {

struct HttpReply {
  int status = 0;                              // 0: no answer (connection closed or timed out)
  std::map<std::string, std::string> headers;  // names lower-cased
  std::vector<std::string> set_cookies;        // every Set-Cookie, in order
  std::string body;
  std::string Header(const std::string& name) const;
};

class LoopbackHttpClient {
 public:
  explicit LoopbackHttpClient(uint16_t port);
  ~LoopbackHttpClient();
  LoopbackHttpClient(const LoopbackHttpClient&) = delete;
  LoopbackHttpClient& operator=(const LoopbackHttpClient&) = delete;

  using Headers = std::vector<std::pair<std::string, std::string>>;
  HttpReply Get(const std::string& target, const Headers& headers = {});
  // A form body (application/x-www-form-urlencoded) unless headers say else.
  HttpReply Post(const std::string& target, const std::string& body, const Headers& headers = {});
  // Sends `raw` as it is on a fresh connection and reads one answer.
  HttpReply SendRaw(const std::string& raw);

  // Cookies kept so far (name -> value); change them to play another user.
  std::map<std::string, std::string>& cookies() { return cookies_; }
  // How many connections this client has opened.
  int connections_opened() const { return connections_opened_; }

 private:
  HttpReply Exchange(const std::string& request);
  bool Connect();
  void Disconnect();
  HttpReply ReadReply();
  void KeepCookies(const HttpReply& reply);

  uint16_t port_;
  int fd_ = -1;
  int connections_opened_ = 0;
  std::string pending_;  // bytes read past the last answer
  std::map<std::string, std::string> cookies_;
};

// A bare connection to 127.0.0.1:port for requests sent piece by piece.
class RawConnection {
 public:
  explicit RawConnection(uint16_t port);
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;
  bool Send(const std::string& bytes);
  // Everything until the server closes (or 10 s pass).
  std::string ReceiveAll();

 private:
  int fd_ = -1;
};

}  // namespace zelto::testing
