// The Internet functions against servers on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/inet/internet_settings.h"
#include "platform/inet/wininet.h"
#include "tests/support/local_http_server.h"

namespace {

using zelto::testing::CannedResponse;
using zelto::testing::ClosedLocalPort;
using zelto::testing::LocalHttpServer;
using Kind = CannedResponse::Kind;

std::string Repeat(size_t size, char seed = 'a') {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>(seed + i % 26);
  return text;
}

CannedResponse Canned(Kind kind, std::string body, int status = 200) {
  CannedResponse response = CannedResponse::Page(std::move(body));
  response.kind = kind;
  response.status = status;
  return response;
}

class InetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = InternetGetSettings();
    InternetSettings settings = saved_;
    settings.loopback_only = true;
    settings.transfer_timeout_ms = 800;
    settings.max_body_bytes = 64 * 1024;
    InternetSetSettings(settings);
    session_ = InternetOpenA("check", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(session_, nullptr);
  }
  void TearDown() override {
    InternetCloseHandle(session_);
    InternetSetSettings(saved_);
  }

  HINTERNET Open(const std::string& url, const char* headers = nullptr) {
    return InternetOpenUrlA(session_, url.c_str(), headers, headers ? DWORD(-1) : 0,
                            INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 1);
  }

  // Reads the whole page in `chunk`-byte reads and closes the handle.
  static std::string ReadAll(HINTERNET page, DWORD chunk, int* reads = nullptr) {
    std::string text;
    std::vector<char> buffer(chunk);
    for (int count = 1;; ++count) {
      DWORD read = 12345;
      EXPECT_TRUE(InternetReadFile(page, buffer.data(), chunk, &read));
      EXPECT_LE(read, chunk);
      text.append(buffer.data(), read);
      if (read == 0) {
        if (reads) *reads = count;
        break;
      }
    }
    EXPECT_TRUE(InternetCloseHandle(page));
    return text;
  }

  LocalHttpServer server_;
  HINTERNET session_ = nullptr;
  InternetSettings saved_;
};

TEST_F(InetTest, ReadsTheWholePageInRequestedChunksThenZero) {
  std::string body = Repeat(2500);
  body[700] = '\0';  // bytes are bytes: nothing stops at a NUL here
  server_.Serve("/page?a=B", CannedResponse::Page(body));
  HINTERNET page = Open(server_.Url("/page?a=B"), "X-One: 1\r\nX-Two: two\r\n");
  ASSERT_NE(page, nullptr);
  int reads = 0;
  EXPECT_EQ(ReadAll(page, 1024, &reads), body);
  EXPECT_EQ(reads, 4);  // 1024, 1024, 452, 0

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].headers["user-agent"], "check");
  EXPECT_EQ(requests[0].headers["x-one"], "1");
  EXPECT_EQ(requests[0].headers["x-two"], "two");
}

TEST_F(InetTest, OpensWhatAServerAnswers) {
  struct Case {
    const char* name;
    CannedResponse response;
    std::string expected;
  } cases[] = {
      {"empty page", CannedResponse::Page(""), ""},
      {"error status keeps its body", Canned(Kind::kFixed, "gone", 404), "gone"},
      {"chunked body", Canned(Kind::kChunked, Repeat(5000)), Repeat(5000)},
      {"body exactly at the size limit", CannedResponse::Page(Repeat(64 * 1024)),
       Repeat(64 * 1024)},
      {"chunked body exactly at the size limit", Canned(Kind::kChunked, Repeat(64 * 1024)),
       Repeat(64 * 1024)},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = "/" + std::to_string(&c - cases);
    server_.Serve(path, c.response);
    HINTERNET page = Open(server_.Url(path));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ReadAll(page, 1024), c.expected);
  }
}

TEST_F(InetTest, FollowsRedirectsUpToTen) {
  // /r0 -> /r1 -> ... -> /r10 -> /end: ten redirects from /r1, eleven from /r0.
  for (int i = 0; i < 10; ++i) {
    server_.Serve("/r" + std::to_string(i),
                  CannedResponse::Redirect(server_.Url("/r" + std::to_string(i + 1))));
  }
  server_.Serve("/r10", CannedResponse::Redirect("/end", 301));  // relative
  server_.Serve("/end", CannedResponse::Page("arrived"));

  HINTERNET page = Open(server_.Url("/r1"));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ReadAll(page, 1024), "arrived");
  EXPECT_EQ(Open(server_.Url("/r0")), nullptr);
}

TEST_F(InetTest, RefusesWhatItMustNotFetch) {
  InternetSettings settings = InternetGetSettings();
  settings.transfer_timeout_ms = 300;
  InternetSetSettings(settings);
  server_.Serve("/loop", CannedResponse::Redirect("/loop"));
  server_.Serve("/to-ftp", CannedResponse::Redirect("ftp://127.0.0.1/x"));
  server_.Serve("/to-file", CannedResponse::Redirect("file:///etc/passwd"));
  server_.Serve("/big", CannedResponse::Page(Repeat(64 * 1024 + 1)));
  server_.Serve("/big-chunked", Canned(Kind::kChunked, Repeat(64 * 1024 + 1)));
  CannedResponse slow = Canned(Kind::kEndless, "z");
  slow.interval = std::chrono::milliseconds(20);
  server_.Serve("/slow", slow);
  server_.Serve("/stall", Canned(Kind::kStall, ""));
  server_.Serve("/endless-flood", Canned(Kind::kEndless, Repeat(4096)));

  const std::string port = std::to_string(server_.port());
  const std::string closed = std::to_string(ClosedLocalPort());
  const std::string failing[] = {
      "http://127.0.0.1:" + closed + "/",  // nothing listens
      server_.Address("/page"),            // no scheme: never guessed
      "ftp://127.0.0.1:" + port + "/",     // only http and https
      "file:///etc/passwd",
      "http:// 127.0.0.1:" + port + "/",   // malformed
      "",
      server_.Url("/loop"),
      server_.Url("/to-ftp"),
      server_.Url("/to-file"),
      server_.Url("/big"),
      server_.Url("/big-chunked"),
      server_.Url("/slow"),
      server_.Url("/stall"),
      server_.Url("/endless-flood"),  // hits the size limit before the time limit
  };
  for (const std::string& url : failing) {
    SCOPED_TRACE(url);
    EXPECT_EQ(Open(url), nullptr);
  }
  EXPECT_EQ(server_.HitCount("/page"), 0);
}

TEST_F(InetTest, DefaultLimitsAllowEightMebibytesAndNoMore) {
  InternetSettings settings = InternetSettings{};
  settings.loopback_only = true;
  InternetSetSettings(settings);
  EXPECT_EQ(settings.max_body_bytes, size_t{8} << 20);
  EXPECT_EQ(settings.connect_timeout_ms, 10'000);
  EXPECT_EQ(settings.transfer_timeout_ms, 30'000);
  EXPECT_EQ(settings.max_redirects, 10);
  server_.Serve("/cap", CannedResponse::Page(Repeat(size_t{8} << 20)));
  server_.Serve("/over", Canned(Kind::kChunked, Repeat((size_t{8} << 20) + 1)));
  HINTERNET page = Open(server_.Url("/cap"));
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ReadAll(page, 1 << 20).size(), size_t{8} << 20);
  EXPECT_EQ(Open(server_.Url("/over")), nullptr);
}

TEST_F(InetTest, HandlesAreCheckedAndIndependent) {
  server_.Serve("/p", CannedResponse::Page("abc"));
  char buffer[8];
  DWORD read = 99;
  EXPECT_FALSE(InternetReadFile(session_, buffer, sizeof buffer, &read));  // not a page
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(InternetReadFile(nullptr, buffer, sizeof buffer, &read));
  EXPECT_FALSE(InternetCloseHandle(nullptr));
  int not_a_handle = 0;
  EXPECT_FALSE(InternetCloseHandle(&not_a_handle));
  EXPECT_EQ(InternetOpenUrlA(&not_a_handle, server_.Url("/p").c_str(), nullptr, 0, 0, 1),
            nullptr);

  HINTERNET other = InternetOpenA("check", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(other, nullptr);
  HINTERNET page = InternetOpenUrlA(other, server_.Url("/p").c_str(), nullptr, 0, 0, 1);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(InternetOpenUrlA(page, server_.Url("/p").c_str(), nullptr, 0, 0, 1), nullptr);
  EXPECT_TRUE(InternetCloseHandle(other));   // the session first, as the console does
  EXPECT_FALSE(InternetCloseHandle(other));  // and only once
  EXPECT_EQ(InternetOpenUrlA(other, server_.Url("/p").c_str(), nullptr, 0, 0, 1), nullptr);
  EXPECT_EQ(ReadAll(page, 2), "abc");        // the page outlives its session
  EXPECT_FALSE(InternetReadFile(page, buffer, sizeof buffer, &read));  // closed by ReadAll

  EXPECT_EQ(InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(InternetOpenA("check", 3 /* named proxy */, "p", nullptr, 0), nullptr);
}

TEST_F(InetTest, OfflineProcessReportsNoConnectionAndFetchesNothing) {
  server_.Serve("/p", CannedResponse::Page("abc"));
  DWORD flags = 0;
  EXPECT_TRUE(InternetGetConnectedState(&flags, 0));  // loopback at least is up
  EXPECT_EQ(flags, INTERNET_CONNECTION_LAN);

  InternetSettings settings = InternetGetSettings();
  settings.offline = true;
  InternetSetSettings(settings);
  EXPECT_FALSE(InternetGetConnectedState(&flags, 0));
  EXPECT_EQ(flags, INTERNET_CONNECTION_OFFLINE);
  EXPECT_EQ(Open(server_.Url("/p")), nullptr);
  EXPECT_EQ(server_.HitCount("/p"), 0);
}

TEST_F(InetTest, ConcurrentFetchesEachGetTheirOwnPage) {
  constexpr int kThreads = 4, kFetches = 5;
  for (int t = 0; t < kThreads; ++t) {
    server_.Serve("/t" + std::to_string(t), CannedResponse::Page(Repeat(3000, 'a' + t)));
  }
  std::vector<std::thread> threads;
  std::vector<int> good(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::string path = "/t" + std::to_string(t);
      for (int i = 0; i < kFetches; ++i) {
        HINTERNET session = InternetOpenA("check", 0, nullptr, nullptr, 0);
        HINTERNET page = InternetOpenUrlA(session, server_.Url(path).c_str(), nullptr, 0, 0, 1);
        std::string text;
        char buffer[700];
        DWORD read = 0;
        while (InternetReadFile(page, buffer, sizeof buffer, &read) && read > 0) {
          text.append(buffer, read);
        }
        InternetCloseHandle(session);
        InternetCloseHandle(page);
        if (text == Repeat(3000, 'a' + t)) ++good[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(good, std::vector<int>(kThreads, kFetches));
}

}  // namespace
