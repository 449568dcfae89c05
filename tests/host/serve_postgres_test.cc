// Many `zelto serve` hosts on one PostgreSQL database, on a cluster of this
// suite's own (stopping its server must not disturb other suites): visitors
// and operators on different hosts talk, an invitation crosses hosts, a
// visitor moves to another host when one stops and continues the same
// conversation, and a host outlives a database server restart.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ado/engine.h"
#include "tests/support/loopback_http_client.h"
#include "tests/support/private_pg_cluster.h"
#include "tests/support/seeded_database.h"
#include "tests/support/serve_process.h"
#include "tests/support/served_site.h"
#include "tests/support/standing_operator.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr) << path;
  std::fputs(text.c_str(), f);
  std::fclose(f);
}

// A loopback port nothing listens on now.
uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

// nginx (Debian's nginx-light) as a load balancer of its own for a test:
// round robin over `ports`, on a free 127.0.0.1 port, all its files in
// `dir`; stopped with the object. port() is 0 when it did not start.
class NginxBalancer {
 public:
  NginxBalancer(const std::string& dir, const std::vector<uint16_t>& ports) {
    if (::access("/usr/sbin/nginx", X_OK) != 0) return;
    fs::create_directories(dir + "/logs");
    for (int attempt = 0; attempt < 5 && port_ == 0; ++attempt) {
      const uint16_t port = FreePort();
      std::string upstream;
      for (uint16_t p : ports) upstream += "    server 127.0.0.1:" + std::to_string(p) + ";\n";
      WriteFile(dir + "/nginx.conf",
                "daemon off;\nmaster_process off;\npid " + dir + "/nginx.pid;\n"
                "error_log " + dir + "/logs/error.log;\nevents {}\nhttp {\n"
                "  access_log off;\n  upstream zelto {\n" + upstream + "  }\n"
                "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n"
                "    location / {\n      proxy_pass http://zelto;\n"
                "      proxy_read_timeout 60s;\n      proxy_set_header Host $host;\n    }\n  }\n}\n");
      pid_ = ::fork();
      if (pid_ == 0) {
        ::execl("/usr/sbin/nginx", "nginx", "-p", dir.c_str(), "-c", (dir + "/nginx.conf").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
      }
      for (int i = 0; i < 100 && port_ == 0; ++i) {
        LoopbackHttpClient probe(port);
        if (probe.Get("/healthz").status == 200) port_ = port;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          break;
        }
        if (port_ == 0) ::usleep(50 * 1000);
      }
    }
  }
  ~NginxBalancer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  uint16_t port() const { return port_; }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

class ServePostgresTest : public ::testing::Test {
 public:
  static void SetUpTestSuite() { pg_ = std::make_unique<PrivatePgCluster>(); }
  static void TearDownTestSuite() { pg_.reset(); }

 protected:
  void SetUp() override {
    if (pg_->start_failed()) FAIL() << pg_->unavailable_reason();
    if (!pg_->available()) GTEST_SKIP() << pg_->unavailable_reason();
    cluster_ = pg_->settings();
    // Each test starts from no databases, so the first host creates them.
    for (const char* name : {"chat", "count"})
      Admin("DROP DATABASE IF EXISTS " + std::string(name));
    root_ =
        pg_->state_dir() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(root_);
    WriteFile(fs::path(root_) / "www" / "site" / "index.html",
              "<!doctype html><title>site</title>");
  }

  std::vector<std::string> ServerArgs() const { return pg_->ServeArgs(); }
  std::unique_ptr<ServeProcess> StartHost(const std::string& name) {
    auto host = std::make_unique<ServeProcess>(
        root_ + "/" + name, ServerArgs(),
        std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", root_ + "/www"}});
    EXPECT_NE(host->port(), 0) << host->Output();
    // The first host made the databases: operator 5 stands by from then on.
    if (host->port() != 0 && Scalar("select count(*) from operatorState") == "0") {
      ado::ResultSet ignored;
      for (const char* sql : kStandingOperatorStatements) Run("chat", sql, &ignored);
    }
    return host;
  }

  ado::ConnectionString Target(const std::string& catalog) const {
    ado::ConnectionString target;
    target.data_source = cluster_.server;
    target.initial_catalog = catalog;
    target.user_id = cluster_.user;
    target.password = cluster_.password;
    return target;
  }
  bool Run(const std::string& catalog, const std::string& sql, ado::ResultSet* result) {
    std::string error;
    auto connection = ado::PostgresEngine()->Connect(Target(catalog), &error);
    if (!connection || !connection->Execute(sql, result, &error)) {
      ADD_FAILURE() << sql << ": " << error;
      return false;
    }
    return true;
  }
  void Admin(const std::string& sql) {
    ado::ResultSet ignored;
    Run("postgres", sql, &ignored);
  }
  // Every row's columns as text, rows one per line, columns tab-separated.
  std::vector<std::string> Rows(const std::string& sql) {
    ado::ResultSet rs;
    std::vector<std::string> rows;
    if (!Run("chat", sql, &rs)) return rows;
    for (size_t r = 0; r < rs.RowCount(); ++r) {
      std::string line;
      for (size_t c = 0; c < rs.columns.size(); ++c) {
        const ado::SqlValue& v = rs.At(r, c);
        if (c) line += '\t';
        line += v.kind == ado::SqlValue::Kind::kInteger ? std::to_string(v.integer) : v.bytes;
      }
      rows.push_back(line);
    }
    return rows;
  }
  std::string Scalar(const std::string& sql) {
    const auto rows = Rows(sql);
    return rows.empty() ? "" : rows[0];
  }
  // The new visitor's label after a first page view on `client`'s host.
  std::string Visit(LoopbackHttpClient& client) {
    const auto before = Rows("select cstLabel from onlineCst");
    EXPECT_EQ(client.Get("/site/index.html").status, 200);
    for (const std::string& label : Rows("select cstLabel from onlineCst")) {
      if (std::find(before.begin(), before.end(), label) == before.end()) return label;
    }
    ADD_FAILURE() << "no visitor row after the first page view";
    return "";
  }

  static inline std::unique_ptr<PrivatePgCluster> pg_;
  TestCluster cluster_;
  std::string root_;
};

std::string Post(LoopbackHttpClient& client, const std::string& page, int cid,
                 const std::string& text, const std::string& token = "") {
  HttpReply reply =
      client.Get(page + "?cid=" + std::to_string(cid) + "&action=sub&msgContent=" + text +
                 (token.empty() ? "" : "&token=" + token));
  EXPECT_EQ(reply.status, 200) << page << " " << text << " " << reply.body;
  return reply.body;
}

TEST_F(ServePostgresTest, TwoHostsShareOneDatabase) {
  auto first = StartHost("first");
  ASSERT_NE(first->port(), 0);
  EXPECT_NE(first->Output().find("created"), std::string::npos) << first->Output();
  auto second = StartHost("second");
  ASSERT_NE(second->port(), 0);
  EXPECT_NE(second->Output().find("using the chat and count databases"), std::string::npos)
      << second->Output();

  // The operator works on the second host, the visitor on the first. Who is
  // logged in is known per host, so the visitor gets the company's first
  // operator (5): the one logged in elsewhere.
  LoopbackHttpClient op(second->port());
  const std::string token = ServedSite::Login(op, 5, "demo5");
  auto visitor = std::make_unique<LoopbackHttpClient>(first->port());
  Visit(*visitor);
  const int cid = ServedSite::OpenChat(*visitor);
  ASSERT_GT(cid, 1);
  const std::string c = std::to_string(cid);
  EXPECT_EQ(Scalar("select serid from conversation where cid=" + c), "5");
  EXPECT_EQ(visitor->Post("/api/visitor/chat-opened", "cid=" + c).status, 200);

  std::vector<std::string> sent;  // every message, in the order sent
  for (const std::string n : {"1", "2", "3"}) {
    sent.push_back("visitor" + n);
    Post(*visitor, "/visitor/DoClientMsg.asp", cid, sent.back());
    EXPECT_NE(op.Get("/operator/GetUserMsg.asp?cid=" + c).body.find(sent.back()),
              std::string::npos);
    sent.push_back("operator" + n);
    Post(op, "/operator/DoUserMsg.asp", cid, sent.back(), token);
    EXPECT_NE(visitor->Get("/visitor/GetClientMsg.asp?cid=" + c).body.find(sent.back()),
              std::string::npos);
  }

  // An invitation made on the second host reaches a visitor on the first.
  LoopbackHttpClient browsing(first->port());
  const std::string label = Visit(browsing);
  ASSERT_FALSE(label.empty());
  const HttpReply taken =
      op.Get("/operator/cstReWin.asp?cstLabel=" + label + "&companyid=1&token=" + token);
  ASSERT_EQ(taken.status, 302) << taken.body;
  const HttpReply invitation = browsing.Get("/api/visitor/invitation");
  EXPECT_EQ(JsonNumber(invitation.body, "invited"), 1) << invitation.body;

  // The first host stops mid-conversation, the operator's last words not
  // yet read. The browser keeps its cookies: on the second host the signed
  // visitor cookie brings the same visitor back, in the same conversation.
  sent.push_back("while-moving");
  Post(op, "/operator/DoUserMsg.asp", cid, sent.back(), token);
  const std::string visitor_label = Scalar("select cstlabel from conversation where cid=" + c);
  const auto cookies = visitor->cookies();
  visitor.reset();
  EXPECT_EQ(first->Stop(), 0) << first->Output();
  LoopbackHttpClient moved(second->port());
  moved.cookies() = cookies;
  EXPECT_NE(moved.Get("/visitor/GetClientMsg.asp?cid=" + c).body.find("while-moving"),
            std::string::npos);
  EXPECT_EQ(ServedSite::OpenChat(moved), cid) << "the running chat, not a new one";
  sent.push_back("after-moving");
  Post(moved, "/visitor/DoClientMsg.asp", cid, sent.back());
  EXPECT_NE(op.Get("/operator/GetUserMsg.asp?cid=" + c).body.find("after-moving"),
            std::string::npos);
  sent.push_back("welcome-back");
  Post(op, "/operator/DoUserMsg.asp", cid, sent.back(), token);
  EXPECT_NE(moved.Get("/visitor/GetClientMsg.asp?cid=" + c).body.find("welcome-back"),
            std::string::npos);
  EXPECT_EQ(Rows("select beChatting from onlineCst where cstLabel='" + visitor_label + "'"),
            std::vector<std::string>{"1"})
      << "online again once, still chatting";

  // A forged cookie (another label, the MAC kept) is a stranger: a fresh
  // label, and nothing of the conversation to read.
  LoopbackHttpClient forger(second->port());
  const std::string genuine = cookies.at("ZVISITOR");
  forger.cookies()["ZVISITOR"] = label + genuine.substr(genuine.find('.'));
  EXPECT_EQ(forger.Get("/visitor/GetClientMsg.asp?cid=" + c).status, 403);
  forger.cookies()["ZVISITOR"] = visitor_label + "." + std::string(64, '0');
  EXPECT_EQ(forger.Get("/visitor/GetClientMsg.asp?cid=" + c).status, 403);
  const std::string stranger = Visit(forger);
  EXPECT_NE(stranger, visitor_label);
  EXPECT_NE(stranger, label);
  const HttpReply foreign = forger.Get("/visitor/GetClientMsg.asp?cid=" + c);
  EXPECT_EQ(foreign.status, 403) << "not a member of it";
  EXPECT_EQ(foreign.body.find("welcome-back"), std::string::npos);

  // Every message is stored once, in order, in the one conversation.
  EXPECT_EQ(Rows("select msgContent from msg where conid=" + c + " order by msgID"), sent);
  EXPECT_EQ(Scalar("select count(*) from conversation where cstlabel='" + visitor_label + "'"),
            "1");
  EXPECT_EQ(Scalar("select count(*) from conversation where cid=" + c), "1");
}

// Behind a load balancer without sticky sessions: an operator's requests
// alternate between two hosts with one login; a logout on one host, or the
// operator's removal by a command, ends the session on both at once. The
// database holds a hash of the session id, never the id.
// Whispers and typing across hosts: the operator on one host whispers and
// the visitor on the other never receives it, at once or held; the
// visitor's typing reaches the operator's held activity on the other host.
TEST_F(ServePostgresTest, WhispersStayWithOperatorsAndTypingCrossesHosts) {
  auto first = StartHost("first");
  auto second = StartHost("second");
  ASSERT_NE(first->port(), 0);
  ASSERT_NE(second->port(), 0);
  LoopbackHttpClient op(second->port());
  const std::string token = ServedSite::Login(op, 5, "demo5");
  LoopbackHttpClient visitor(first->port());
  Visit(visitor);
  const std::string c = std::to_string(ServedSite::OpenChat(visitor));
  ASSERT_EQ(visitor.Post("/api/visitor/chat-opened", "cid=" + c).status, 200);

  // The visitor's poll is held on the first host while the whisper is said
  // on the second: the notification wakes it, and it still carries nothing.
  HttpReply held;
  std::thread poll([&] { held = visitor.Get("/visitor/GetClientMsg.asp?cid=" + c + "&wait=3"); });
  const HttpReply said = op.Post("/api/conversation/whisper", "cid=" + c + "&text=hush%20now",
                                 {{"X-Zelto-Token", token}});
  EXPECT_EQ(said.status, 200) << said.body;
  poll.join();
  EXPECT_EQ(held.status, 200);
  EXPECT_EQ(held.body.find("hush"), std::string::npos) << held.body;
  for (const std::string& path : {"/visitor/GetClientMsg.asp?cid=" + c,
                                  "/api/conversation/activity?cid=" + c}) {
    const HttpReply reply = visitor.Get(path);
    EXPECT_EQ(reply.status, 200) << path;
    EXPECT_EQ(reply.body.find("hush"), std::string::npos) << path << ": " << reply.body;
  }
  EXPECT_EQ(Rows("select content from whisper where cid=" + c),
            std::vector<std::string>{"hush now"});
  EXPECT_EQ(Scalar("select count(*) from msg where conid=" + c), "0");
  EXPECT_NE(op.Get("/api/conversation/activity?cid=" + c).body.find("hush now"),
            std::string::npos);

  // Typing on the first host wakes the operator's held activity on the second.
  const std::string activity = "/api/conversation/activity?cid=" + c;
  const std::string version = op.Get(activity).Header("x-zelto-version");
  HttpReply woken;
  std::thread watch([&] { woken = op.Get(activity + "&wait=20&since=" + version); });
  EXPECT_EQ(visitor.Post("/api/conversation/typing", "cid=" + c + "&on=1").status, 200);
  watch.join();
  EXPECT_NE(woken.body.find("\"side\":\"visitor\""), std::string::npos) << woken.body;
}

TEST_F(ServePostgresTest, AnOperatorSessionIsValidOnEveryHostUntilItEnds) {
  auto first = StartHost("first");
  auto second = StartHost("second");
  LoopbackHttpClient a(first->port());
  const std::string token = ServedSite::Login(a, 5, "demo5");
  ASSERT_FALSE(token.empty());
  LoopbackHttpClient b(second->port());
  b.cookies() = a.cookies();
  const std::string id = a.cookies().begin()->second;
  EXPECT_EQ(Scalar("select count(*) from operatorSession where id='" + id + "'"), "0");
  EXPECT_EQ(Scalar("select count(*) from operatorSession where operatorId=5"), "1");
  for (int round = 0; round < 3; ++round) {
    for (LoopbackHttpClient* host : {&a, &b}) {
      const HttpReply me = host->Get("/api/me");
      ASSERT_EQ(me.status, 200) << me.body;
      EXPECT_EQ(JsonText(me.body, "token"), token);
      EXPECT_EQ(host->Get("/operator/GetUserMsg.asp?cid=1").status, 200);
    }
  }
  // An action with the token on the other host: posted once.
  EXPECT_EQ(b.Get("/operator/DoUserMsg.asp?cid=1&action=sub&msgContent=from-b&token=" + token)
                .status,
            200);
  EXPECT_EQ(Scalar("select count(*) from msg where msgContent='from-b'"), "1");

  ASSERT_EQ(b.Post("/api/logout", "", {{"X-Zelto-Token", token}}).status, 200);
  EXPECT_EQ(a.Get("/api/me").status, 401);
  EXPECT_EQ(Scalar("select count(*) from operatorSession where operatorId=5"), "0");

  LoopbackHttpClient c(first->port());
  ASSERT_FALSE(ServedSite::Login(c, 12, "demo12").empty());
  LoopbackHttpClient d(second->port());
  d.cookies() = c.cookies();
  ASSERT_EQ(d.Get("/api/me").status, 200);
  // Each host's copy of the session counts in the availability, so that
  // its end on one host leaves the operator online while the other holds it.
  EXPECT_EQ(Scalar("select state from operatorState where operatorId=12"), "online");
  EXPECT_EQ(Scalar("select sessions from operatorState where operatorId=12"), "2");
  std::string output;
  const std::vector<std::string> remove = {
      "operator", "remove",         "--id",          "12",         "--engine",
      "postgresql", "--server",     cluster_.server, "--user",     cluster_.user,
      "--db-password", cluster_.password};
  ASSERT_EQ(ServeProcess::RunZelto(remove, &output), 0) << output;
  EXPECT_EQ(c.Get("/api/me").status, 401);
  EXPECT_EQ(d.Get("/api/me").status, 401);
  EXPECT_EQ(Scalar("select state from operatorState where operatorId=12"), "offline");
  EXPECT_EQ(Scalar("select sessions from operatorState where operatorId=12"), "0");
}

// The documented set-up: nginx round robin over two hosts; an operator
// logs in once, and every later request (on either host) keeps the login
// until the logout, after which neither host knows it.
TEST_F(ServePostgresTest, BehindNginxAnOperatorLogsInOnce) {
  auto first = StartHost("first");
  auto second = StartHost("second");
  NginxBalancer nginx(root_ + "/nginx", {first->port(), second->port()});
  if (nginx.port() == 0) GTEST_SKIP() << "no nginx (apt install nginx-light)";
  LoopbackHttpClient op(nginx.port());
  const std::string token = ServedSite::Login(op, 5, "demo5");
  ASSERT_FALSE(token.empty());
  for (int i = 0; i < 6; ++i) {
    const HttpReply me = op.Get("/api/me");
    ASSERT_EQ(me.status, 200) << i << ": " << me.body;
  }
  // Round robin: both hosts answered the operator.
  for (const auto* host : {first.get(), second.get()})
    EXPECT_NE(host->Output().find("\"GET /api/me HTTP/1.0\" 200"), std::string::npos)
        << host->Output();
  const auto cookies = op.cookies();
  ASSERT_EQ(op.Post("/api/logout", "", {{"X-Zelto-Token", token}}).status, 200);
  op.cookies() = cookies;  // the old session id, replayed
  for (int i = 0; i < 2; ++i) EXPECT_EQ(op.Get("/api/me").status, 401);
}

TEST_F(ServePostgresTest, HostOutlivesADatabaseRestart) {
  auto host = StartHost("host");
  ASSERT_NE(host->port(), 0);
  LoopbackHttpClient op(host->port());
  const std::string token = ServedSite::Login(op, 5, "demo5");
  LoopbackHttpClient visitor(host->port());
  Visit(visitor);
  const int cid = ServedSite::OpenChat(visitor);
  ASSERT_GT(cid, 1);
  const std::string c = std::to_string(cid);
  Post(visitor, "/visitor/DoClientMsg.asp", cid, "before");

  ASSERT_TRUE(pg_->Halt());
  struct Resume {
    ~Resume() { pg_->Resume(); }
  } resume_on_failure;
  // Every kind of request is answered, none is taken as done.
  const HttpReply post =
      visitor.Get("/visitor/DoClientMsg.asp?cid=" + c + "&action=sub&msgContent=during");
  EXPECT_NE(post.status, 0) << "the host must answer";
  EXPECT_EQ(post.body.find("during"), std::string::npos) << "no echo of an unstored message";
  EXPECT_NE(op.Get("/operator/GetUserMsg.asp?cid=" + c).status, 0);
  EXPECT_EQ(LoopbackHttpClient(host->port()).Post("/api/login", "id=5&password=demo5").status, 500);
  LoopbackHttpClient newcomer(host->port());
  EXPECT_EQ(newcomer.Get("/site/index.html").status, 200) << "static pages go on";
  EXPECT_EQ(newcomer.Post("/api/visitor/chat", "").status, 500);

  ASSERT_TRUE(pg_->Resume());
  // The same process serves again, on the sessions it had before.
  Post(visitor, "/visitor/DoClientMsg.asp", cid, "after");
  EXPECT_NE(op.Get("/operator/GetUserMsg.asp?cid=" + c).body.find("after"), std::string::npos);
  Post(op, "/operator/DoUserMsg.asp", cid, "answer", token);
  EXPECT_NE(visitor.Get("/visitor/GetClientMsg.asp?cid=" + c).body.find("answer"),
            std::string::npos);
  EXPECT_EQ(Rows("select msgContent from msg where conid=" + c + " order by msgID"),
            (std::vector<std::string>{"before", "after", "answer"}));
  EXPECT_EQ(host->Stop(), 0) << host->Output();
}

TEST_F(ServePostgresTest, OnlyOneDatabaseIsRefusedUntouched) {
  StartHost("maker")->Stop();
  Admin("DROP DATABASE count");
  std::vector<std::string> args = {"serve", "--listen", "127.0.0.1:0", "--data", root_ + "/d"};
  for (const std::string& arg : ServerArgs()) args.push_back(arg);
  std::string output;
  EXPECT_EQ(ServeProcess::RunZelto(args, &output), 1) << output;
  EXPECT_NE(output.find("count is missing"), std::string::npos) << output;
  EXPECT_EQ(Scalar("select count(*) from userinfo"), "3") << "the chat database is kept";
}

// Without a cluster: the command line and a server that is not there.
// The password may come from a file, so that it never shows in the process
// list; only its first line counts.
TEST_F(ServePostgresTest, PasswordFromAFile) {
  const std::string file = root_ + "/password";
  WriteFile(file, cluster_.password + "\nnot the password\n");
  std::vector<std::string> args = pg_->ServeArgs();
  const auto password = std::find(args.begin(), args.end(), "--password");
  ASSERT_NE(password, args.end());
  *password = "--password-file";
  *(password + 1) = file;
  ServeProcess host(
      root_ + "/host", args,
      std::vector<std::pair<std::string, std::string>>{{"ZELTO_WWW", root_ + "/www"}});
  ASSERT_NE(host.port(), 0) << host.Output();
  LoopbackHttpClient op(host.port());
  EXPECT_FALSE(ServedSite::Login(op, 5, "demo5").empty());
  EXPECT_EQ(host.Stop(), 0) << host.Output();
}

TEST(ServeDatabaseServerOptions, RefusedClearly) {
  const struct {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{"--engine", "postgresql"}, 2, "needs --server"},
      {{"--server", "127.0.0.1:5432"}, 2, "are for --engine postgresql"},
      {{"--engine", "sqlite", "--user", "u"}, 2, "are for --engine postgresql"},
      {{"--engine", "postgresql", "--server", ""}, 2, "--server needs"},
      {{"--engine", "postgresql", "--server", "127.0.0.1:1", "--password-file",
        "/nonexistent/zelto-password"},
       2,
       "--password-file: cannot read /nonexistent/zelto-password"},
      {{"--engine", "postgresql", "--server", "127.0.0.1:1", "--password", "p", "--password-file",
        "/dev/null"},
       2,
       "once"},
      // Port 1 on the loopback: nothing listens there.
      {{"--engine", "postgresql", "--server", "127.0.0.1:1", "--user", "u", "--password", "p"},
       1,
       "cannot use the database server 127.0.0.1:1"},
  };
  const std::string data = ::testing::TempDir() + "/zelto-pgserve-options";
  for (const auto& c : cases) {
    std::vector<std::string> args = {"serve", "--listen", "127.0.0.1:0", "--data", data};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string output;
    EXPECT_EQ(ServeProcess::RunZelto(args, &output), c.status) << output;
    EXPECT_NE(output.find(c.says), std::string::npos) << output;
  }
  EXPECT_FALSE(fs::exists(data)) << "nothing is created for a refused start";
}

}  // namespace
}  // namespace zelto::testing
