#include "tests/support/loopback_http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

namespace zelto::testing {

std::string HttpReply::Header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

LoopbackHttpClient::LoopbackHttpClient(uint16_t port) : port_(port) {}

LoopbackHttpClient::~LoopbackHttpClient() { Disconnect(); }

namespace {

// A connected socket with 10 s send and receive limits, or -1.
int ConnectLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  timeval timeout{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

RawConnection::RawConnection(uint16_t port) : fd_(ConnectLoopback(port)) {}

RawConnection::~RawConnection() {
  if (fd_ >= 0) ::close(fd_);
}

bool RawConnection::Send(const std::string& bytes) {
  return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                         static_cast<ssize_t>(bytes.size());
}

std::string RawConnection::ReceiveAll() {
  std::string data;
  char buffer[16384];
  ssize_t n;
  while (fd_ >= 0 && (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0) data.append(buffer, n);
  return data;
}

bool LoopbackHttpClient::Connect() {
  Disconnect();
  fd_ = ConnectLoopback(port_);
  if (fd_ < 0) return false;
  ++connections_opened_;
  return true;
}

void LoopbackHttpClient::Disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

HttpReply LoopbackHttpClient::Get(const std::string& target, const Headers& headers) {
  std::string request =
      "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n";
  for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
  return Exchange(request);
}

HttpReply LoopbackHttpClient::Post(const std::string& target, const std::string& body,
                                   const Headers& headers) {
  std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  bool typed = false;
  for (const auto& [name, value] : headers) {
    request += name + ": " + value + "\r\n";
    if (strcasecmp(name.c_str(), "Content-Type") == 0) typed = true;
  }
  if (!typed) request += "Content-Type: application/x-www-form-urlencoded\r\n";
  return Exchange(request + "\r\n" + body);
}

HttpReply LoopbackHttpClient::Exchange(const std::string& request) {
  std::string full = request;
  if (!cookies_.empty()) {
    std::string cookie;
    for (const auto& [name, value] : cookies_)
      cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
    const size_t end = full.find("\r\n") + 2;
    full.insert(end, "Cookie: " + cookie + "\r\n");
  }
  if (full.find("\r\n\r\n") == std::string::npos) full += "\r\n";
  // One retry on a fresh connection: the server may have closed an idle one.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (fd_ < 0 && !Connect()) return {};
    if (::send(fd_, full.data(), full.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(full.size())) {
      HttpReply reply = ReadReply();
      if (reply.status != 0) {
        KeepCookies(reply);
        if (reply.Header("connection") == "close") Disconnect();
        return reply;
      }
    }
    Disconnect();
  }
  return {};
}

HttpReply LoopbackHttpClient::SendRaw(const std::string& raw) {
  if (!Connect()) return {};
  ::send(fd_, raw.data(), raw.size(), MSG_NOSIGNAL);
  HttpReply reply = ReadReply();
  Disconnect();
  return reply;
}

HttpReply LoopbackHttpClient::ReadReply() {
  HttpReply reply;
  std::string& data = pending_;
  auto fill = [&]() {
    char buffer[16384];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<size_t>(n));
    return true;
  };
  size_t header_end;
  while ((header_end = data.find("\r\n\r\n")) == std::string::npos) {
    if (!fill()) return {};
  }
  const std::string head = data.substr(0, header_end);
  size_t line_end = head.find("\r\n");
  const std::string status_line = head.substr(0, line_end);
  if (status_line.size() < 12) return {};
  reply.status = std::atoi(status_line.c_str() + 9);
  while (line_end != std::string::npos && line_end < head.size()) {
    const size_t next = head.find("\r\n", line_end + 2);
    const std::string line = head.substr(
        line_end + 2, next == std::string::npos ? std::string::npos : next - line_end - 2);
    line_end = next;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string value = line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    if (name == "set-cookie") {
      reply.set_cookies.push_back(value);
      if (reply.headers.count(name)) continue;  // Header() gives the first
    }
    reply.headers[name] = value;
  }
  const size_t length = std::strtoul(reply.Header("content-length").c_str(), nullptr, 10);
  while (data.size() < header_end + 4 + length) {
    if (!fill()) return {};
  }
  reply.body = data.substr(header_end + 4, length);
  data.erase(0, header_end + 4 + length);
  return reply;
}

void LoopbackHttpClient::KeepCookies(const HttpReply& reply) {
  for (const std::string& cookie : reply.set_cookies) {
    const size_t eq = cookie.find('=');
    const size_t semi = cookie.find(';');
    if (eq == std::string::npos) continue;
    const std::string name = cookie.substr(0, eq);
    const std::string value =
        cookie.substr(eq + 1, semi == std::string::npos ? semi : semi - eq - 1);
    if (value.empty() || cookie.find("Max-Age=0") != std::string::npos) {
      cookies_.erase(name);
    } else {
      cookies_[name] = value;
    }
  }
}

}  // namespace zelto::testing
