// The site's abuse limits, tried as an attacker would: password guessing,
// message floods, session and connection hoarding, upload floods, page
// fetches into the host's own network, cross-site requests. Each refusal is
// checked in the database and the files, not only in the status; time
// moves by the test's clock where the limit is measured by it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/host/in_process_site.h"
#include "tests/support/local_http_server.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

long Count(InProcessSite& site, const std::string& sql) {
  return std::stol("0" + site.db().Scalar("chat", sql));
}

size_t FilesIn(const std::string& dir) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); ++it) ++n;
  return n;
}

size_t Lines(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(ServeLoginThrottleTest, GuessingOneIdIsDelayedAndTheRightPasswordWaitsToo) {
  InProcessSite site({"--failure-log-interval", "3600"}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  auto attacker = site.Client();
  auto wrong = [&] { return attacker->Post("/api/login", "id=5&password=guess").status; };
  for (int i = 0; i < 10; ++i) EXPECT_EQ(wrong(), 401) << i;
  // From the 10th failure in a row, even the right password waits.
  const HttpReply locked = attacker->Post("/api/login", "id=5&password=demo5");
  EXPECT_EQ(locked.status, 429);
  EXPECT_EQ(locked.Header("retry-after"), "1");
  EXPECT_TRUE(locked.set_cookies.empty());
  for (int i = 0; i < 400; ++i) ASSERT_EQ(wrong(), 429) << "refused without trying";
  // The delay doubles with each failure after one: 1, 2, 4, ... s.
  for (int64_t wait : {1, 2, 4, 8}) {
    site.clock().Advance(seconds(wait) - milliseconds(1));
    EXPECT_EQ(wrong(), 429) << wait;
    site.clock().Advance(milliseconds(1));
    EXPECT_EQ(wrong(), 401) << wait;
  }
  site.clock().Advance(seconds(16));
  EXPECT_FALSE(ServedSite::Login(*attacker, 5, "demo5").empty());
  // The success reset the id: failures start again from none.
  for (int i = 0; i < 9; ++i) EXPECT_EQ(wrong(), 401);
  // Another id is not delayed by this one.
  auto other = site.Client();
  EXPECT_FALSE(ServedSite::Login(*other, 12, "demo12").empty());
  ASSERT_TRUE(site.Stop());
  EXPECT_EQ(Lines(site.Output(), "failed logins in a row"), 1) << site.Output();
}

TEST(ServeLoginThrottleTest, OneAddressGuessingManyIdsIsDelayed) {
  InProcessSite site({"--login-address-failures", "20"}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  auto attacker = site.Client();
  for (int id = 100; id < 120; ++id)
    EXPECT_EQ(attacker->Post("/api/login", "id=" + std::to_string(id) + "&password=x").status, 401);
  EXPECT_EQ(attacker->Post("/api/login", "id=12&password=demo12").status, 429);
  site.clock().Advance(seconds(1));
  EXPECT_FALSE(ServedSite::Login(*attacker, 12, "demo12").empty());
}

TEST(ServeMessageRateTest, AFloodOfMessagesIsCutAfterTheBurst) {
  InProcessSite site({}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  auto visitor = site.Client();
  site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  const std::string post = "/visitor/DoClientMsg.asp?cid=" + cid + "&action=sub&msgContent=";
  const std::string big(12 * 1024, 'x');
  int refused = 0;
  for (int i = 0; i < 300; ++i) {
    const HttpReply reply = visitor->Get(post + big);
    if (reply.status == 429) {
      ++refused;
      EXPECT_EQ(reply.Header("retry-after"), "1");
    } else {
      EXPECT_EQ(reply.status, 200) << i;
    }
  }
  EXPECT_EQ(refused, 290);
  EXPECT_EQ(Count(site, "select count(*) from msg where conid=" + cid), 10);
  site.clock().Advance(seconds(3));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(visitor->Get(post + "again").status, 200);
  EXPECT_EQ(visitor->Get(post + "again").status, 429);
  EXPECT_EQ(Count(site, "select count(*) from msg where conid=" + cid), 13);
}

TEST(ServeSessionHoardingTest, AnonymousViewsNeverLockOperatorsOut) {
  InProcessSite site({"--max-sessions", "30", "--visitor-sessions-per-address", "1000"},
                     InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  const long visitors_before = Count(site, "select count(*) from onlineCst");
  int served = 0;
  for (int i = 0; i < 40; ++i) {
    auto client = site.Client();
    if (client->Get("/site/index.html").status == 200) ++served;
  }
  EXPECT_EQ(served, 27) << "three places kept for logins";
  EXPECT_EQ(Count(site, "select count(*) from onlineCst"), visitors_before + 27);
  auto op = site.Client();
  EXPECT_FALSE(ServedSite::Login(*op, 5, "demo5").empty());
  EXPECT_EQ(op->Get("/api/me").status, 200);
}

TEST(ServeSessionHoardingTest, OneAddressHoldsItsShareOfVisitorSessions) {
  InProcessSite site({"--visitor-sessions-per-address", "5"}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  const long visitors_before = Count(site, "select count(*) from onlineCst");
  std::vector<int> statuses;
  for (int i = 0; i < 8; ++i) statuses.push_back(site.Client()->Get("/site/index.html").status);
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 200, 200, 503, 503, 503}));
  EXPECT_EQ(Count(site, "select count(*) from onlineCst"), visitors_before + 5);
  auto op = site.Client();
  EXPECT_FALSE(ServedSite::Login(*op, 5, "demo5").empty());
  // Sessions that end give their places back (once their visitors' leaving
  // is done, on a worker).
  site.clock().Advance(std::chrono::minutes(21));
  for (int i = 0; i < 5; ++i)
    EXPECT_TRUE(WaitUntil([&] { return site.Client()->Get("/site/index.html").status == 200; }))
        << i;
  EXPECT_EQ(site.Client()->Get("/site/index.html").status, 503);
}

// A connection to the site from `source` (a loopback address of its own).
int ConnectFrom(const char* source, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in from{};
  from.sin_family = AF_INET;
  inet_pton(AF_INET, source, &from.sin_addr);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends a request on `fd` and reads its answer's first line ("" on none
// within 5 s).
std::string StatusLine(int fd, const std::string& request) {
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return "";
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, 5000) != 1) return "";
  char buffer[512];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n <= 0) return "";
  const std::string text(buffer, static_cast<size_t>(n));
  return text.substr(0, text.find("\r\n"));
}

// Whether the site closes `fd` within `limit` (reads give end of file).
bool ClosedWithin(int fd, milliseconds limit) {
  pollfd ready{fd, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count())) != 1) return false;
  char byte;
  return ::recv(fd, &byte, 1, 0) <= 0;
}

TEST(ServeConnectionHoardingTest, OneClientsIdleConnectionsLeaveRoomForOthers) {
  InProcessSite site({"--connections-per-address", "20", "--header-timeout", "1"});
  ASSERT_TRUE(site.running());
  std::vector<int> hoard;
  for (int i = 0; i < 200; ++i) hoard.push_back(ConnectFrom("127.0.0.2", site.port()));
  // Past its share, the hoarder's connections are closed at once...
  int closed = 0;
  for (size_t i = 20; i < hoard.size(); ++i)
    if (hoard[i] >= 0 && ClosedWithin(hoard[i], seconds(2))) ++closed;
  EXPECT_EQ(closed, 180);
  // ...and another client is served meanwhile.
  const int other = ConnectFrom("127.0.0.3", site.port());
  ASSERT_GE(other, 0);
  EXPECT_EQ(StatusLine(other, "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"), "HTTP/1.1 200 OK");
  ::close(other);
  // An idle new connection is closed after the header timeout, not 60 s.
  const int idle = ConnectFrom("127.0.0.4", site.port());
  EXPECT_TRUE(ClosedWithin(idle, seconds(10)));
  ::close(idle);
  for (int fd : hoard)
    if (fd >= 0) ::close(fd);
}

class ServeUploadQuotaTest : public ::testing::Test {
 protected:
  HttpReply Upload(LoopbackHttpClient& client, size_t kib) {
    return client.Post("/api/upload?name=file.bin", std::string(kib * 1024, 'u'),
                       {{"Content-Type", "application/octet-stream"}});
  }
  std::unique_ptr<LoopbackHttpClient> NewVisitor(InProcessSite& site) {
    auto client = site.Client();
    site.Visit(*client);
    return client;
  }
  std::string Files(InProcessSite& site) { return site.db().folder() + "/files"; }
};

TEST_F(ServeUploadQuotaTest, AVisitSessionStoresItsShareOnly) {
  InProcessSite site({"--upload-session-max", "3"});
  ASSERT_TRUE(site.running());
  auto visitor = NewVisitor(site);
  for (int i = 0; i < 25; ++i) {
    const int status = Upload(*visitor, 1024).status;
    EXPECT_EQ(status, i < 3 ? 200 : 413) << i;
  }
  EXPECT_EQ(FilesIn(Files(site)), 3u);
}

TEST_F(ServeUploadQuotaTest, AnAddressStoresItsHourlyShareOnly) {
  InProcessSite site({"--upload-address-max", "2"}, InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  std::vector<int> statuses;
  for (int i = 0; i < 4; ++i) {
    auto visitor = NewVisitor(site);
    statuses.push_back(Upload(*visitor, 600).status);
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 200, 429}));
  EXPECT_EQ(FilesIn(Files(site)), 3u);
  site.clock().Advance(std::chrono::hours(1));
  auto later = NewVisitor(site);
  EXPECT_EQ(Upload(*later, 600).status, 200);
}

TEST_F(ServeUploadQuotaTest, TheFolderHasACap) {
  InProcessSite site({"--files-max", "2"});
  ASSERT_TRUE(site.running());
  std::vector<int> statuses;
  for (int i = 0; i < 3; ++i) {
    auto visitor = NewVisitor(site);
    statuses.push_back(Upload(*visitor, 900).status);
  }
  EXPECT_EQ(statuses, (std::vector<int>{200, 200, 507}));
  EXPECT_EQ(FilesIn(Files(site)), 2u);
}

TEST(ServePageFetchTest, ComparisonsNeverReachThisMachine) {
  LocalHttpServer target;
  target.Serve("/a", CannedResponse::Page("same"));
  target.Serve("/b", CannedResponse::Page("same"));
  target.Serve("/hop", CannedResponse::Redirect(target.Url("/a")));
  InProcessSite site;
  ASSERT_TRUE(site.running());
  auto op = site.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  for (const std::string& domains :
       {target.Url("/a") + ";" + target.Url("/b"), target.Address("/a") + ";" + target.Address("/b"),
        "http://localhost:" + std::to_string(target.port()) + "/a;" + target.Url("/hop"),
        "http://[::ffff:127.0.0.1]:" + std::to_string(target.port()) + "/a;" + target.Url("/a"),
        std::string("http://169.254.169.254/latest;http://10.255.255.1/")}) {
    const HttpReply reply = op->Get("/operator/CheckDomain.asp?token=" + token + "&domains=" + domains);
    EXPECT_EQ(reply.status, 200) << domains;
    EXPECT_EQ(reply.body, "{\"result\":0}") << domains;
  }
  EXPECT_TRUE(target.Requests().empty()) << target.Requests().size() << " requests reached it";
  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += target.Url("/a") + ";";
  EXPECT_EQ(op->Get("/operator/CheckDomain.asp?token=" + token + "&domains=" + eleven).status, 400);
  EXPECT_TRUE(target.Requests().empty());
}

TEST(ServePageFetchTest, AllowedWhenTheAdministratorSaysSo) {
  LocalHttpServer target;
  target.Serve("/a", CannedResponse::Page("same"));
  target.Serve("/b", CannedResponse::Page("same"));
  InProcessSite site({"--fetch-allow-private"});
  ASSERT_TRUE(site.running());
  auto op = site.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  const HttpReply reply = op->Get("/operator/CheckDomain.asp?token=" + token +
                                  "&domains=" + target.Url("/a") + ";" + target.Url("/b"));
  EXPECT_EQ(reply.body, "{\"result\":1}");
  EXPECT_EQ(target.Requests().size(), 2u);
}

TEST(ServeCrossSiteTest, ForeignPagesCannotActForTheBrowser) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  auto visitor = site.Client();
  site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  const std::string post = "/visitor/DoClientMsg.asp?cid=" + cid + "&action=sub&msgContent=";
  const std::string host = "127.0.0.1:" + std::to_string(site.port());
  struct Case {
    LoopbackHttpClient::Headers headers;
    int status;
  };
  const std::vector<Case> cases = {
      {{{"Sec-Fetch-Site", "cross-site"}}, 403},
      {{{"Origin", "http://evil.example"}}, 403},
      {{{"Origin", "null"}}, 403},
      {{{"Origin", "http://" + host + ".evil.example"}}, 403},
      {{{"Sec-Fetch-Site", "same-origin"}, {"Origin", "http://" + host}}, 200},
      {{{"Sec-Fetch-Site", "none"}}, 200},
      {{}, 200},
  };
  long stored = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(visitor->Get(post + "m", c.headers).status, c.status);
    if (c.status == 200) ++stored;
  }
  EXPECT_EQ(Count(site, "select count(*) from msg where conid=" + cid), stored);
  // The visitor's own identity in a header a foreign page cannot set.
  const std::string signed_label = visitor->cookies()["ZVISITOR"];
  EXPECT_EQ(visitor->Get(post + "m", {{"Sec-Fetch-Site", "cross-site"}, {"X-Zelto-Visitor", signed_label}})
                .status,
            200);
  EXPECT_EQ(visitor->Get(post + "m", {{"Sec-Fetch-Site", "cross-site"}, {"X-Zelto-Visitor", "x.y"}})
                .status,
            403);
  const long chats = Count(site, "select count(*) from conversation");
  EXPECT_EQ(visitor->Post("/api/visitor/chat", "", {{"Origin", "http://evil.example"}}).status, 403);
  EXPECT_EQ(visitor->Post("/api/upload?name=a.txt", "x", {{"Sec-Fetch-Site", "cross-site"}}).status,
            403);
  EXPECT_EQ(Count(site, "select count(*) from conversation"), chats);
  EXPECT_EQ(FilesIn(site.db().folder() + "/files"), 0u);
  // Login CSRF: a foreign form logs nobody in.
  auto browser = site.Client();
  const HttpReply forged =
      browser->Post("/api/login", "id=5&password=demo5", {{"Origin", "http://evil.example"}});
  EXPECT_EQ(forged.status, 403);
  EXPECT_TRUE(forged.set_cookies.empty());
}

TEST(ServeHeadersTest, CookiesAndFramesAndReferrers) {
  InProcessSite site;
  ASSERT_TRUE(site.running());
  auto plain = site.Client();
  const HttpReply login = plain->Post("/api/login", "id=5&password=demo5");
  ASSERT_EQ(login.set_cookies.size(), 1u);
  EXPECT_EQ(login.set_cookies[0].find("Secure"), std::string::npos);
  EXPECT_EQ(login.Header("content-security-policy"), "frame-ancestors 'none'");
  EXPECT_EQ(login.Header("referrer-policy"), "same-origin");
  auto proxied = site.Client();
  const HttpReply secure =
      proxied->Post("/api/login", "id=5&password=demo5", {{"X-Forwarded-Proto", "https"}});
  ASSERT_EQ(secure.set_cookies.size(), 1u);
  EXPECT_NE(secure.set_cookies[0].find("; Secure"), std::string::npos);
  const HttpReply visit = proxied->Get("/site/index.html", {{"Forwarded", "for=1.2.3.4;proto=https"}});
  for (const std::string& cookie : visit.set_cookies)
    EXPECT_NE(cookie.find("; Secure"), std::string::npos) << cookie;
  EXPECT_EQ(plain->Get("/operator/login.html").Header("x-frame-options"), "DENY");
  EXPECT_EQ(plain->Get("/site/index.html").Header("content-security-policy"), "");
}

TEST(ServeAccessLogTest, UploadNamesAndMessagesStayOut) {
  ScratchRegistry scratch;
  const std::string log_path = scratch.folder() + "/access.log";
  InProcessSite site({"--access-log", log_path});
  ASSERT_TRUE(site.running());
  auto visitor = site.Client();
  site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  EXPECT_EQ(visitor->Post("/api/upload?name=PrivateScan.png", "x").status, 200);
  visitor->Get("/visitor/DoClientMsg.asp?CID=" + cid + "&Action=sub&MsgContent=%u79D8SecretWords");
  visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid + "&msgContent=SecretWords%26x=y;z");
  ASSERT_TRUE(site.Stop());
  std::ifstream in(log_path);
  const std::string log((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(log.find("PrivateScan"), std::string::npos) << log;
  EXPECT_EQ(log.find("SecretWords"), std::string::npos) << log;
  EXPECT_NE(log.find("/api/upload?name=*"), std::string::npos) << log;
}

}  // namespace
}  // namespace zelto::testing
