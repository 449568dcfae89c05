// `zelto serve` as an HTTP server: routes that do not exist, files that must
// not be served, size limits, keep-alive, the listening address, the data
// folder and a graceful stop.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/host/in_process_site.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

// Whether something accepts connections on 127.0.0.1:port.
bool Listening(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

class ServeHttpTest : public ::testing::Test {
 protected:
  ServedSite site_;
};

TEST_F(ServeHttpTest, UnknownPathsAndPagesAre404) {
  auto client = site_.Client();
  for (const char* path : {"/nothing-here", "/operator/NoSuchPage.asp", "/api/no/such/route",
                           "/site/missing.html", "/files/none.txt"}) {
    EXPECT_EQ(client->Get(path).status, 404) << path;
  }
  const HttpReply health = client->Get("/healthz");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, "ok\n");
}

TEST_F(ServeHttpTest, StaticFilesHaveTypesAndNeverLeaveTheFolder) {
  auto client = site_.Client();
  const HttpReply css = client->Get("/css/site.css");
  EXPECT_EQ(css.status, 200);
  EXPECT_EQ(css.Header("content-type"), "text/css; charset=utf-8");
  EXPECT_EQ(css.body, "body{color:#333}");
  const HttpReply start = client->Get("/");
  EXPECT_EQ(start.status, 200);
  EXPECT_NE(start.body.find("start"), std::string::npos);
  EXPECT_EQ(start.Header("content-type"), "text/html; charset=utf-8");

  for (const char* path : {"/../secret.txt", "/css/../../secret.txt", "/%2e%2e/secret.txt",
                           "/css/%2E%2E/%2e%2e/secret.txt", "/..%2fsecret.txt",
                           "/css%2f..%2f..%2fsecret.txt", "/%00", "/css\\..\\..\\secret.txt"}) {
    const HttpReply reply = client->Get(path);
    EXPECT_NE(reply.status, 200) << path;
    EXPECT_EQ(reply.body.find("not for the web"), std::string::npos) << path;
  }
}

TEST_F(ServeHttpTest, OversizedRequestsAreRefused) {
  auto client = site_.Client();
  // Declared too large: refused before the body is read.
  const HttpReply declared = client->SendRaw(
      "POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 10000000\r\n\r\nid=5");
  EXPECT_EQ(declared.status, 413);
  // Sent too large as chunks, where no length is declared.
  std::string chunked = "POST /api/login HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string piece(32 * 1024, 'a');
  for (int i = 0; i < 4; ++i) {
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  chunked += "0\r\n\r\n";
  EXPECT_EQ(client->SendRaw(chunked).status, 413);
  // An upload has a larger allowance, but not an unlimited one.
  auto visitor = site_.Client();
  site_.Visit(*visitor);
  EXPECT_EQ(visitor
                ->Post("/api/upload?name=a.bin", std::string(3 * 1024 * 1024, 'x'),
                       {{"Content-Type", "application/octet-stream"}})
                .status,
            413);
  EXPECT_EQ(visitor
                ->Post("/api/upload?name=a.bin", std::string(100 * 1024, 'x'),
                       {{"Content-Type", "application/octet-stream"}})
                .status,
            200);
  // Headers beyond the limit.
  const HttpReply header = client->SendRaw(
      "GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(64 * 1024, 'h') + "\r\n\r\n");
  EXPECT_EQ(header.status, 431);
  // The server is still there.
  EXPECT_EQ(site_.Client()->Get("/healthz").status, 200);
}

TEST_F(ServeHttpTest, KeepAliveServesManyRequestsOnOneConnection) {
  auto client = site_.Client();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(client->Get("/healthz").status, 200);
  EXPECT_EQ(client->connections_opened(), 1);
  const HttpReply closing = client->Get("/healthz", {{"Connection", "close"}});
  EXPECT_EQ(closing.Header("connection"), "close");
}

TEST_F(ServeHttpTest, MalformedRequestGets400) {
  auto client = site_.Client();
  EXPECT_EQ(client->SendRaw("THIS IS NOT HTTP\r\n\r\n").status, 400);
}

TEST_F(ServeHttpTest, TakenPortIsAClearFailure) {
  std::string output;
  const int status = ServeProcess::RunZelto({"serve", "--data", site_.db().folder(), "--listen",
                                             "127.0.0.1:" + std::to_string(site_.port())},
                                            &output);
  EXPECT_EQ(status, 3) << output;
  EXPECT_NE(output.find("already in use"), std::string::npos) << output;
  EXPECT_EQ(site_.Client()->Get("/healthz").status, 200);
}

// On a site in the test's process, which shows when it has the request.
TEST(ServeStopTest, StopFinishesTheRequestInProgress) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  // The stop arrives while a request's body is still coming: the request is
  // completed and answered, then the site ends.
  const std::string body = "id=5&password=demo5";
  const std::string head =
      "POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: " +
      std::to_string(body.size()) + "\r\n\r\n";
  RawConnection connection(site.port());
  ASSERT_TRUE(connection.Send(head + body.substr(0, 5)));
  ASSERT_TRUE(WaitUntil([&] { return site.site().server().requests_in_progress() == 1; }));
  site.site().Stop();
  ASSERT_TRUE(WaitUntil([&] { return !Listening(site.port()); }))
      << "the listener should be closed";
  EXPECT_EQ(site.Client()->Get("/healthz").status, 0) << "the listener should be closed";
  ASSERT_TRUE(connection.Send(body.substr(5)));
  const std::string answer = connection.ReceiveAll();
  EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u) << answer;
  EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
  // The site is already stopping: it ends by itself.
  EXPECT_TRUE(site.Stop());
  EXPECT_NE(site.Output().find("stopped"), std::string::npos);
}

TEST(ServeDataFolderTest, NewFolderGetsDemoDataAndForeignFolderIsRefused) {
  ScratchRegistry scratch;
  const fs::path fresh = fs::path(scratch.folder()) / "fresh";
  {
    ServeProcess serve(fresh.string());
    ASSERT_NE(serve.port(), 0) << serve.Output();
    EXPECT_NE(serve.Output().find("created new databases with demo data"), std::string::npos);
    EXPECT_NE(serve.Output().find("demo5"), std::string::npos) << serve.Output();
    EXPECT_EQ(serve.Stop(), 0);
  }
  EXPECT_TRUE(fs::exists(fresh / "chat.db"));
  EXPECT_TRUE(fs::exists(fresh / "count.db"));

  // Other programs' entries may share the folder; one that clashes with
  // the site's own is refused by name.
  const fs::path foreign = fs::path(scratch.folder()) / "foreign";
  fs::create_directories(foreign);
  std::ofstream(foreign / "thesis.txt") << "mine";
  std::ofstream(foreign / "files") << "not a folder";
  std::string output;
  EXPECT_EQ(ServeProcess::RunZelto({"serve", "--data", foreign.string(), "--listen", "127.0.0.1:0"},
                                   &output),
            1);
  EXPECT_NE(output.find("files is not a folder"), std::string::npos) << output;
  EXPECT_FALSE(fs::exists(foreign / "chat.db"));
}

TEST(ServeUsageTest, BadOptionsAreUsageErrors) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"serve", "--listen", "nowhere"},
        {"serve", "--listen", "127.0.0.1:70000"},
        {"serve", "--threads", "0"},
        {"serve", "--session-timeout", "-1"},
        {"serve", "--charset", "latin1"},
        {"serve", "--frobnicate"},
        {"serve", "--www", "/nonexistent/zelto-www"},
        {"serve", "--log-format", "xml"}}) {
    std::string output;
    EXPECT_EQ(ServeProcess::RunZelto(args, &output), 2) << args[1] << " " << output;
    EXPECT_NE(output.find("usage: zelto serve"), std::string::npos);
  }
}

}  // namespace
}  // namespace zelto::testing
