#include "tests/support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace zelto::testing {
namespace {

using std::chrono::milliseconds;
constexpr milliseconds kPollSlice{20};
constexpr milliseconds kRequestDeadline{5000};
constexpr size_t kMaxRequestHead = 64 * 1024;

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::abort();
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

// Binds a TCP socket to 127.0.0.1 at an ephemeral port; returns the fd.
int BindLoopback(uint16_t& port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  sockaddr_in address = LoopbackAddress(0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("bind");
  socklen_t length = sizeof address;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
  port = ntohs(address.sin_port);
  return fd;
}

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 307: return "Temporary Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string ResponseHead(const CannedResponse& response, const std::string& framing) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     ReasonPhrase(response.status) + "\r\n";
  for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
  return head + framing + "Connection: close\r\n\r\n";
}

}  // namespace

CannedResponse CannedResponse::Page(std::string body) {
  CannedResponse response;
  response.body = std::move(body);
  return response;
}

CannedResponse CannedResponse::Redirect(std::string location, int status) {
  CannedResponse response;
  response.status = status;
  response.headers.emplace_back("Location", std::move(location));
  return response;
}

LocalHttpServer::LocalHttpServer() {
  listen_fd_ = BindLoopback(port_);
  if (listen(listen_fd_, 64) != 0) Fail("listen");
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

LocalHttpServer::~LocalHttpServer() {
  stopping_ = true;
  acceptor_.join();
  for (std::thread& connection : connections_) connection.join();
  close(listen_fd_);
}

std::string LocalHttpServer::Address(const std::string& path) const {
  return "127.0.0.1:" + std::to_string(port_) + path;
}

std::string LocalHttpServer::Url(const std::string& path) const {
  return "http://" + Address(path);
}

void LocalHttpServer::Serve(const std::string& path, CannedResponse response) {
  std::lock_guard<std::mutex> lock(mutex_);
  responses_[path] = std::move(response);
}

std::vector<RecordedRequest> LocalHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

int LocalHttpServer::HitCount(const std::string& target) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                        [&](const auto& r) { return r.target == target; }));
}

void LocalHttpServer::AcceptLoop() {
  while (!stopping_) {
    pollfd waiting{listen_fd_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(kPollSlice.count())) <= 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Only this thread touches connections_ until the destructor joins it.
    connections_.emplace_back([this, fd] { HandleConnection(fd); });
  }
}

void LocalHttpServer::HandleConnection(int fd) {
  RecordedRequest request;
  if (ReadRequest(fd, request)) {
    CannedResponse response = CannedResponse::Page("not found");
    response.status = 404;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
      auto found = responses_.find(request.target);
      if (found != responses_.end()) response = found->second;
    }
    Respond(fd, response);
  }
  close(fd);
}

// Waits in short slices so that a stopping server never blocks on a peer.
bool LocalHttpServer::WaitWhileRunning(int fd, short events, milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
    pollfd waiting{fd, events, 0};
    int ready = poll(&waiting, 1, static_cast<int>(kPollSlice.count()));
    if (ready > 0) return true;
    if (ready < 0) return false;
  }
  return false;
}

bool LocalHttpServer::ReadRequest(int fd, RecordedRequest& request) {
  std::string head;
  size_t end;
  while ((end = head.find("\r\n\r\n")) == std::string::npos) {
    if (head.size() > kMaxRequestHead || !WaitWhileRunning(fd, POLLIN, kRequestDeadline)) {
      return false;
    }
    char chunk[4096];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    head.append(chunk, static_cast<size_t>(got));
  }
  std::string body = head.substr(end + 4);
  head.resize(end + 2);
  size_t line_end = head.find("\r\n");
  std::string line = head.substr(0, line_end);
  size_t first = line.find(' ');
  size_t second = line.find(' ', first + 1);
  if (first == std::string::npos || second == std::string::npos) return false;
  request.method = line.substr(0, first);
  request.target = line.substr(first + 1, second - first - 1);
  for (size_t at = line_end + 2; at < head.size();) {
    size_t next = head.find("\r\n", at);
    std::string field = head.substr(at, next - at);
    size_t colon = field.find(':');
    if (colon != std::string::npos) {
      size_t value = field.find_first_not_of(' ', colon + 1);
      request.headers[Lower(field.substr(0, colon))] =
          value == std::string::npos ? "" : field.substr(value);
    }
    at = next + 2;
  }
  // A body of Content-Length bytes (a POST's), read whole.
  const auto length = request.headers.find("content-length");
  const size_t wanted =
      length == request.headers.end() ? 0 : std::strtoul(length->second.c_str(), nullptr, 10);
  while (body.size() < wanted && body.size() <= kMaxRequestHead * 16) {
    if (!WaitWhileRunning(fd, POLLIN, kRequestDeadline)) return false;
    char chunk[4096];
    ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    body.append(chunk, static_cast<size_t>(got));
  }
  request.body = body.substr(0, wanted);
  return true;
}

bool LocalHttpServer::SendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    if (!WaitWhileRunning(fd, POLLOUT, kRequestDeadline)) return false;
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

void LocalHttpServer::Respond(int fd, const CannedResponse& response) {
  using Kind = CannedResponse::Kind;
  switch (response.kind) {
    case Kind::kFixed:
      SendAll(fd, ResponseHead(response, "Content-Length: " +
                                             std::to_string(response.body.size()) + "\r\n") +
                      response.body);
      return;
    case Kind::kChunked: {
      std::string out = ResponseHead(response, "Transfer-Encoding: chunked\r\n");
      constexpr size_t kChunk = 1000;
      for (size_t at = 0; at < response.body.size(); at += kChunk) {
        std::string piece = response.body.substr(at, kChunk);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        out += size + piece + "\r\n";
      }
      SendAll(fd, out + "0\r\n\r\n");
      return;
    }
    case Kind::kEndless:
      if (!SendAll(fd, ResponseHead(response, ""))) return;
      while (!stopping_ && SendAll(fd, response.body)) {
        std::this_thread::sleep_for(response.interval);
      }
      return;
    case Kind::kStall:
      // Until the client gives up (readable at end of stream) or we stop.
      while (!stopping_) {
        if (WaitWhileRunning(fd, POLLIN, kPollSlice)) {
          char byte;
          if (recv(fd, &byte, 1, 0) <= 0) return;
        }
      }
      return;
  }
}

uint16_t ClosedLocalPort() {
  uint16_t port = 0;
  int fd = BindLoopback(port);
  close(fd);
  return port;
}

}  // namespace zelto::testing
