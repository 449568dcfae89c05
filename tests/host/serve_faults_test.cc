// `zelto serve` under faults of what it stands on: the chat database made
// read-only, removed or full, the count database missing, a slow or endless
// page behind CheckDomain, clients that go away halfway, and a session store
// at its limit. Each time the host keeps answering other requests, logs the
// failure once with its cause, keeps no half-made change, works again when
// the fault is gone, and does not grow with the failing requests.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#include "tests/support/host/in_process_site.h"
#include "tests/support/local_http_server.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::seconds;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// The host's resident memory in KiB, from /proc.
long RssKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// The host's growth over `requests` failing requests: printed for the
// record, and bounded generously (no growth per request) where memory is
// not held back by a sanitizer's quarantine.
void ExpectBoundedGrowth(const char* what, long before_kb, long after_kb, int requests,
                         long bound_kb = 16 * 1024) {
  std::printf("[ faults ] %s: host RSS %ld -> %ld KiB over %d requests\n", what, before_kb,
              after_kb, requests);
  if (!kSanitized) EXPECT_LT(after_kb - before_kb, bound_kb) << what;
}

// CPU time the process has used, in clock ticks (user and system).
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; fields >> field && i <= 15; ++i) {
    if (i >= 14) ticks += std::atol(field.c_str());  // utime, stime
  }
  return ticks;
}

size_t OpenFiles(pid_t pid) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
    ++count;
  return count;
}

// Lines of `text` holding `needle`.
int LinesWith(const std::string& text, const std::string& needle) {
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) count += line.find(needle) != std::string::npos;
  return count;
}

// The host's own lines (not the access log's).
std::string HostLines(const std::string& output) {
  std::istringstream lines(output);
  std::string line, kept;
  while (std::getline(lines, line)) {
    // Past the time every line starts with ("2026-12-08T14:52:08.123+00:00 ").
    if (line.size() > 30 && line[10] == 'T' && line[29] == ' ') line.erase(0, 30);
    if (line.rfind("zelto serve: ", 0) == 0 || line.rfind("[message box]", 0) == 0)
      kept += line + "\n";
  }
  return kept;
}

// Lines saying that a failure happened (not its later counts or its end).
int FirstLines(const std::string& log, const std::string& needle) {
  std::istringstream lines(log);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    count += line.find(needle) != std::string::npos &&
             line.find("not seen for") == std::string::npos &&
             line.find("more times") == std::string::npos;
  }
  return count;
}

// The failures counted in the closing lines ("... (N times in all)") of
// the failures whose line holds `needle`.
long TotalCounted(const std::string& log, const std::string& needle) {
  std::istringstream lines(log);
  std::string line;
  long total = 0;
  while (std::getline(lines, line)) {
    const size_t open = line.rfind(" (");
    if (line.find(needle) == std::string::npos || line.find("in all)") == std::string::npos ||
        open == std::string::npos)
      continue;
    total += std::atol(line.c_str() + open + 2);
  }
  return total;
}

bool WaitForOutput(ServeProcess& process, const std::string& needle, seconds limit) {
  return WaitUntil([&] { return process.Output().find(needle) != std::string::npos; }, limit);
}

// Connections waiting in the accept queue of the listener on 127.0.0.1:port
// (for a listening socket, the receive queue of /proc/net/tcp); -1 when
// there is no such listener.
long AcceptQueue(uint16_t port) {
  std::ifstream table("/proc/net/tcp");
  char local[16];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, address, remote, state, queues;
    fields >> slot >> address >> remote >> state >> queues;
    if (address == local && state == "0A")
      return std::strtol(queues.c_str() + queues.find(':') + 1, nullptr, 16);
  }
  return -1;
}

// Sockets the process has open (its listener and connections).
size_t OpenSockets(pid_t pid) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    std::error_code ec;
    count += fs::read_symlink(entry.path(), ec).string().rfind("socket:", 0) == 0;
  }
  return count;
}

// One side of a conversation of the demo site: an operator (5) and a
// visitor who opened a chat but whose window never said it is open, so
// that the operator's posts are stored with their invitation copy in one
// transaction.
struct Conversation {
  std::unique_ptr<LoopbackHttpClient> op, visitor;
  std::string token, label;
  std::string cid;

  HttpReply OperatorPost(const std::string& text) {
    return op->Get("/operator/DoUserMsg.asp?cid=" + cid + "&action=sub&msgContent=" + text +
                   "&token=" + token);
  }
  HttpReply VisitorPost(const std::string& text) {
    return visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid + "&action=sub&msgContent=" + text);
  }
};

bool Stored(const HttpReply& reply) {
  return reply.status == 200 && reply.Header("x-zelto-hresult") == "0x00000000" &&
         !reply.body.empty();
}

// A post that was not stored says so: never an echo of the message, and a
// failed result in the page's result header.
void ExpectRefused(const HttpReply& reply) {
  EXPECT_EQ(reply.status, 200);
  EXPECT_NE(reply.Header("x-zelto-hresult"), "0x00000000");
  EXPECT_EQ(reply.body, "");
}

class ServeFaultsTest : public ::testing::Test {
 protected:
  // A short interval, so that the end of a failure is logged within the
  // test; no access log, whose lines would interleave with the host's; no
  // message rate (the tests post in bursts) and page fetches allowed to the
  // test's own local servers.
  explicit ServeFaultsTest(std::vector<std::string> extra = {})
      : site_(WithDefaults(std::move(extra))) {}

  static std::vector<std::string> WithDefaults(std::vector<std::string> extra) {
    extra.insert(extra.end(), {"--failure-log-interval", "1", "--access-log", "off",
                               "--message-rate", "0", "--fetch-allow-private"});
    return extra;
  }

  Conversation Open() {
    Conversation c;
    c.op = site_.Client();
    c.token = ServedSite::Login(*c.op, 5, "demo5");
    c.visitor = site_.Client();
    c.label = site_.Visit(*c.visitor);
    c.cid = std::to_string(ServedSite::OpenChat(*c.visitor));
    return c;
  }

  // After a restart (a new port): new connections, the operator logged in
  // again, the visitor brought back by the visitor cookie.
  void Reconnect(Conversation& c) {
    c.op = site_.Client();
    c.token = ServedSite::Login(*c.op, 5, "demo5");
    const auto cookies = c.visitor->cookies();
    c.visitor = site_.Client();
    c.visitor->cookies() = cookies;
  }

  std::string Count(const std::string& sql) { return site_.db().Scalar("chat", sql); }
  fs::path File(const std::string& name) { return fs::path(site_.db().folder()) / name; }

  // What every fault must leave working: the health check, static pages,
  // and a request that needs no database.
  void ExpectServing() {
    auto client = site_.Client();
    EXPECT_EQ(client->Get("/healthz").body, "ok\n");
    EXPECT_EQ(client->Get("/css/site.css").status, 200);
  }

  std::string HostLog() { return HostLines(site_.process().Output()); }

  // The host stops cleanly after the faults: status 0, and no sanitizer
  // report (leaks, undefined behaviour) in its output.
  void TearDown() override {
    const int status = site_.process().Stop();
    const std::string output = site_.process().Output();
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output.find("Sanitizer"), std::string::npos) << output;
    EXPECT_EQ(output.find("runtime error"), std::string::npos) << output;
  }

  ServedSite site_;
};

// chattr +i makes the files read-only for the running host as well (root
// writes through any mode bits). Without root, the mode bits do, for the
// connections the host opens after the change; so the host restarts on it.
class ReadOnlyFiles {
 public:
  ReadOnlyFiles(ServedSite& site, std::vector<fs::path> files) : files_(std::move(files)) {
    for (const fs::path& file : files_) {
      if (!fs::exists(file)) continue;
      if (geteuid() == 0) {
        // Needs the right to make files immutable and a filesystem that can.
        if (std::system(("chattr +i '" + file.string() + "' 2>/dev/null").c_str()) != 0) {
          supported_ = false;
          Undo();
          return;
        }
      } else {
        fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
      }
      changed_.push_back(file);
    }
    if (geteuid() != 0) site.Restart();
  }
  ~ReadOnlyFiles() { Undo(); }
  bool supported() const { return supported_; }
  void Undo() {
    for (const fs::path& file : changed_) {
      if (geteuid() == 0) {
        std::system(("chattr -i '" + file.string() + "'").c_str());
      } else {
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write |
                                  fs::perms::group_read | fs::perms::others_read);
      }
    }
    changed_.clear();
  }

 private:
  std::vector<fs::path> files_, changed_;
  bool supported_ = true;
};

TEST_F(ServeFaultsTest, ReadOnlyChatDatabase) {
  Conversation c = Open();
  ASSERT_TRUE(Stored(c.OperatorPost("before")));
  const std::string msgs = Count("select count(*) from msg where conid=" + c.cid);
  const std::string invites = Count("select count(*) from inviteMsg where conid=" + c.cid);

  {
    ReadOnlyFiles read_only(site_, {File("chat.db"), File("chat.db-wal")});
    if (!read_only.supported())
      GTEST_SKIP() << "chattr +i is refused here (root, no immutable files)";
    if (geteuid() != 0) Reconnect(c);
    const long rss_before = RssKb(site_.process().pid());
    // At least 150 posts, for at least 2.5 s: longer than the log's interval,
    // so that the count of the repeats is written meanwhile.
    const auto end = std::chrono::steady_clock::now() + milliseconds(2500);
    int requests = 0;
    for (int i = 0; i < 150 || std::chrono::steady_clock::now() < end; ++i, requests += 2) {
      ExpectRefused(c.OperatorPost("lost" + std::to_string(i)));
      // The operator's poll answers (it cannot mark what it read).
      EXPECT_EQ(c.op->Get("/operator/GetUserMsg.asp?cid=" + c.cid).status, 200);
    }
    ExpectServing();
    // A new visitor still gets the company site, though the visit is not kept.
    auto stranger = site_.Client();
    EXPECT_EQ(stranger->Get("/site/index.html").status, 200);
    EXPECT_EQ(stranger->Post("/api/visitor/chat", "").status, 500);
    ExpectBoundedGrowth("read-only", rss_before, RssKb(site_.process().pid()), requests + 2);

    const std::string log = HostLog();
    EXPECT_GE(LinesWith(log, "readonly database") + LinesWith(log, "disk I/O error"), 1) << log;
    EXPECT_LE(FirstLines(log, "readonly database"), 1) << "logged once, then counted\n" << log;
    EXPECT_GE(LinesWith(log, "more times in the last"), 1) << log;
    EXPECT_LT(static_cast<int>(std::count(log.begin(), log.end(), '\n')), 20) << log;
  }

  // Writable again: the next post is stored, and the log says the failure ended.
  ASSERT_TRUE(Stored(c.OperatorPost("after"))) << HostLog();
  EXPECT_TRUE(WaitForOutput(site_.process(), "not seen for", seconds(10))) << HostLog();
  // Every failure's closing line.
  EXPECT_TRUE(WaitUntil([&] {
    const std::string log = HostLog();
    return LinesWith(log, "not seen for") >= FirstLines(log, "");
  })) << HostLog();
  // Every refused post was counted, though written once.
  EXPECT_GE(TotalCounted(HostLog(), "readonly database") + TotalCounted(HostLog(), "I/O error"),
            150)
      << HostLog();
  // Of the refused posts nothing stayed, neither the message nor its copy.
  EXPECT_EQ(std::stoi(Count("select count(*) from msg where conid=" + c.cid)), std::stoi(msgs) + 1);
  EXPECT_EQ(Count("select count(*) from msg where msgContent like 'lost%'"), "0");
  EXPECT_EQ(Count("select count(*) from inviteMsg where content like 'lost%'"), "0");
  EXPECT_EQ(std::stoi(Count("select count(*) from inviteMsg where conid=" + c.cid)),
            std::stoi(invites) + 1);
}

TEST_F(ServeFaultsTest, ChatDatabaseRemovedAndPutBack) {
  Conversation c = Open();
  ASSERT_TRUE(Stored(c.OperatorPost("before")));
  site_.db().Execute("chat", "PRAGMA wal_checkpoint(TRUNCATE)");
  const fs::path saved = File("chat.db.saved");
  fs::copy_file(File("chat.db"), saved);
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(File(std::string("chat.db") + suffix));

  const long rss_before = RssKb(site_.process().pid());
  for (int i = 0; i < 40; ++i) {
    // Never answered as stored: the file it would go to is gone.
    ExpectRefused(c.OperatorPost("gone" + std::to_string(i)));
    ExpectRefused(c.VisitorPost("gone" + std::to_string(i)));
    EXPECT_EQ(c.op->Get("/operator/GetUserMsg.asp?cid=" + c.cid).status, 200);
  }
  EXPECT_EQ(c.visitor->Post("/api/visitor/chat", "").status, 500);
  ExpectServing();
  EXPECT_FALSE(fs::exists(File("chat.db"))) << "the host never makes a database by opening it";
  ExpectBoundedGrowth("removed", rss_before, RssKb(site_.process().pid()), 121);
  const std::string log = HostLog();
  EXPECT_EQ(FirstLines(log, "unable to open database file"), 1) << log;
  EXPECT_LT(static_cast<int>(std::count(log.begin(), log.end(), '\n')), 12) << log;

  fs::rename(saved, File("chat.db"));
  EXPECT_TRUE(Stored(c.OperatorPost("back"))) << HostLog();
  EXPECT_TRUE(Stored(c.VisitorPost("back"))) << HostLog();
  EXPECT_TRUE(WaitForOutput(site_.process(), "not seen for", seconds(10))) << HostLog();
  EXPECT_EQ(Count("select count(*) from msg where msgContent like 'gone%'"), "0");
  EXPECT_EQ(Count("select count(*) from msg where msgContent='back'"), "2");
}

TEST_F(ServeFaultsTest, CountDatabaseMissing) {
  auto op = site_.Client();
  ServedSite::Login(*op, 5, "demo5");
  site_.db().Execute("count", "PRAGMA wal_checkpoint(TRUNCATE)");
  const fs::path saved = File("count.db.saved");
  fs::copy_file(File("count.db"), saved);
  for (const char* suffix : {"", "-wal", "-shm"})
    fs::remove(File(std::string("count.db") + suffix));

  // The visitor list reads the count database for each visitor; it answers.
  auto visitor = site_.Client();
  site_.Visit(*visitor);
  for (int i = 0; i < 20; ++i) {
    const HttpReply list = op->Get("/operator/GetClientList.asp?companyid=1");
    EXPECT_EQ(list.status, 200);
  }
  ExpectServing();
  Conversation c = Open();
  EXPECT_TRUE(Stored(c.OperatorPost("still")));
  const std::string log = HostLog();
  EXPECT_EQ(FirstLines(log, "count.db"), 1) << log;

  fs::rename(saved, File("count.db"));
  EXPECT_EQ(op->Get("/operator/GetClientList.asp?companyid=1").status, 200);
  EXPECT_TRUE(WaitForOutput(site_.process(), "not seen for", seconds(10))) << HostLog();
}

// A database at its size limit (ZELTO_SQLITE_MAX_PAGES, which the host's
// connections apply), the same as a full disk to SQLite, without needing a
// small filesystem and the privileges to mount one.
TEST_F(ServeFaultsTest, FullChatDatabase) {
  Conversation c = Open();
  ASSERT_TRUE(Stored(c.OperatorPost("before")));
  site_.db().Execute("chat", "PRAGMA wal_checkpoint(TRUNCATE)");
  const int pages = std::stoi(site_.db().Scalar("chat", "PRAGMA page_count"));
  setenv("ZELTO_SQLITE_MAX_PAGES", std::to_string(pages + 8).c_str(), 1);
  site_.Restart();
  unsetenv("ZELTO_SQLITE_MAX_PAGES");
  Reconnect(c);

  // Fill it: posts of 2000, then 200, then 20 bytes until one is refused.
  int stored = 0;
  for (const size_t size : {2000, 200, 20}) {
    const std::string text(size, 'x');
    for (int i = 0; i < 500 && Stored(c.OperatorPost("full" + text)); ++i) ++stored;
  }
  ASSERT_GT(stored, 0);
  for (int i = 0; i < 30; ++i) ExpectRefused(c.OperatorPost("full" + std::string(2000, 'y')));
  // A transfer adds a member, removes one and stores a message: all or nothing.
  const std::string members =
      Count("select count(*) from C_members where cid=" + c.cid + " and IsChat=1");
  const std::string messages = Count("select count(*) from msg where conid=" + c.cid);
  const HttpReply transfer =
      c.op->Get("/operator/TranstoUser.asp?cid=" + c.cid + "&serid=12&action=inv&token=" + c.token);
  EXPECT_EQ(transfer.status, 200);
  ExpectServing();
  const std::string log = HostLog();
  EXPECT_EQ(FirstLines(log, "database or disk is full"), 1) << log;

  // Every stored post has its invitation copy and no refused one left either.
  EXPECT_EQ(Count("select count(*) from msg where msgContent like 'full%'"),
            std::to_string(stored));
  EXPECT_EQ(Count("select count(*) from inviteMsg where content like 'full%'"),
            std::to_string(stored));
  const bool moved = transfer.body.find("会话转接失败") == std::string::npos;
  EXPECT_EQ(Count("select count(*) from C_members where cid=" + c.cid + " and serid=12"),
            moved ? "1" : "0")
      << transfer.body;
  EXPECT_EQ(Count("select count(*) from C_members where cid=" + c.cid + " and serid=5"),
            moved ? "0" : "1");
  EXPECT_EQ(std::stoi(Count("select count(*) from msg where conid=" + c.cid)),
            std::stoi(messages) + (moved ? 1 : 0));
  if (!moved) {
    EXPECT_EQ(Count("select count(*) from C_members where cid=" + c.cid + " and IsChat=1"),
              members);
  }

  // Room again: posts are stored.
  site_.db().Execute("chat", "delete from msg where msgContent like 'full%'");
  site_.db().Execute("chat", "delete from inviteMsg where content like 'full%'");
  // Only members post: after a transfer to 12, 5 is brought back in first.
  if (moved)
    site_.db().Execute("chat", "insert into C_members (cid, serid, cstlabel, IsChat) values (" +
                                   c.cid + ", 5, '', 1)");
  EXPECT_TRUE(Stored(c.OperatorPost("room"))) << HostLog();
}

// The pages behind CheckDomain: one that never answers and one that never
// ends. The fetches take a worker each for their time limit; the host keeps
// one worker for everything else and refuses more comparisons meanwhile.
class ServeSlowFetchTest : public ServeFaultsTest {
 protected:
  ServeSlowFetchTest() : ServeFaultsTest({"--threads", "2", "--fetch-timeout", "3"}) {}
};

TEST_F(ServeSlowFetchTest, SlowAndEndlessPagesDoNotStopTheSite) {
  LocalHttpServer pages;
  pages.Serve("/stall", CannedResponse{CannedResponse::Kind::kStall});
  CannedResponse endless{CannedResponse::Kind::kEndless};
  endless.body = std::string(1000, 'a');
  pages.Serve("/endless", endless);
  Conversation c = Open();

  for (const std::string path : {"/stall", "/endless"}) {
    const size_t asked_before = pages.Requests().size();
    const std::string domains = pages.Address(path) + ";" + pages.Address("/stall");
    auto fetching = std::async(std::launch::async, [&] {
      auto client = site_.Client();
      client->cookies() = c.op->cookies();
      return client->Get("/operator/CheckDomain.asp?domains=" + domains + "&token=" + c.token);
    });
    // The host fetches the first page (and waits).
    WaitUntil([&] { return pages.Requests().size() > asked_before; });
    ASSERT_GT(pages.Requests().size(), asked_before);
    // While it waits: a second comparison is refused at once, and the rest
    // of the site answers.
    auto second = site_.Client();
    second->cookies() = c.op->cookies();
    const HttpReply refused =
        second->Get("/operator/CheckDomain.asp?domains=" + domains + "&token=" + c.token);
    EXPECT_EQ(refused.status, 503) << refused.body;
    EXPECT_FALSE(refused.Header("retry-after").empty());
    EXPECT_TRUE(Stored(c.OperatorPost("meanwhile")));
    EXPECT_EQ(c.op->Get("/operator/GetUserMsg.asp?cid=" + c.cid).status, 200);
    ExpectServing();
    // All of that while the comparison still waits for its pages.
    EXPECT_EQ(fetching.wait_for(seconds(0)), std::future_status::timeout);

    const HttpReply result = fetching.get();
    EXPECT_EQ(result.status, 200) << path;
    EXPECT_EQ(result.body, "{\"result\":0}") << "a failed fetch never equals a page";
  }
  // Once per episode of refusals: the two are seconds apart.
  const std::string log = HostLog();
  EXPECT_EQ(FirstLines(log, "CheckDomain"), 2) << log;
}

TEST_F(ServeFaultsTest, ClientsGoingAwayHalfway) {
  Conversation c = Open();
  // An attachment big enough that its answer is still being written when
  // the client goes.
  const HttpReply upload =
      c.visitor->Post("/api/upload?name=big.bin", std::string(2 * 1000 * 1000, 'z'),
                      {{"Content-Type", "application/octet-stream"}});
  ASSERT_EQ(upload.status, 200) << upload.body;
  const std::string name = JsonText(upload.body, "name");
  const pid_t pid = site_.process().pid();

  auto round = [&](int times) {
    for (int i = 0; i < times; ++i) {
      {  // Halfway through the request's header.
        RawConnection raw(site_.port());
        raw.Send("GET /healthz HTTP/1.1\r\nHost: x\r\nX-Half: ");
      }
      {  // Halfway through its body.
        RawConnection raw(site_.port());
        raw.Send("POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\nid=5&pa");
      }
      {  // A component page asked for, not waited for.
        RawConnection raw(site_.port());
        raw.Send("GET /operator/GetUserMsg.asp?cid=" + c.cid +
                 " HTTP/1.1\r\nHost: x\r\nCookie: ZSESSIONID=" + c.op->cookies()["ZSESSIONID"] +
                 "\r\n\r\n");
      }
      {  // Halfway through a large answer.
        RawConnection raw(site_.port());
        raw.Send("GET /files/" + name + " HTTP/1.1\r\nHost: x\r\n\r\n");
      }
    }
  };
  // The host has taken every connection the clients left and closed it:
  // none waits to be accepted, and it has no more sockets than before.
  const size_t sockets_before = OpenSockets(pid);
  const auto closed = [&] {
    return AcceptQueue(site_.port()) == 0 && OpenSockets(pid) <= sockets_before;
  };
  // Under a sanitizer on a busy two-core machine the one HTTP thread takes
  // minutes for what takes seconds otherwise.
  const auto patience = kSanitized ? seconds(240) : seconds(60);
  round(20);
  ASSERT_TRUE(WaitUntil(closed, patience));
  const long rss_before = RssKb(pid);
  const size_t files_before = OpenFiles(pid);
  round(200);
  EXPECT_TRUE(WaitUntil(closed, patience))
      << AcceptQueue(site_.port()) << " waiting, " << OpenSockets(pid) << " sockets";
  ExpectServing();
  EXPECT_TRUE(Stored(c.OperatorPost("still")));
  ExpectBoundedGrowth("clients going away", rss_before, RssKb(pid), 800);
  EXPECT_LE(OpenFiles(pid), files_before + 4) << "connections left open";
  EXPECT_EQ(HostLog(), "") << "a client going away is no failure of the host";
}

// Out of file descriptors: the host is held to a few more than it uses and
// then offered many more connections than that.
TEST_F(ServeFaultsTest, OutOfFileDescriptors) {
  if (kSanitized)
    GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own (UndefinedBehavior"
                    "Sanitizer tests memory through a pipe, and reports a false invalid vptr "
                    "without one)";
  const pid_t pid = site_.process().pid();
  const rlimit limit{OpenFiles(pid) + 16, OpenFiles(pid) + 16};
  ASSERT_EQ(prlimit(pid, RLIMIT_NOFILE, &limit, nullptr), 0) << std::strerror(errno);
  std::vector<std::unique_ptr<RawConnection>> crowd;
  for (int i = 0; i < 60; ++i) crowd.push_back(std::make_unique<RawConnection>(site_.port()));
  ASSERT_TRUE(
      WaitForOutput(site_.process(), "accepting connections: Too many open files", seconds(10)))
      << HostLog();
  // Waiting for descriptors is no busy loop: well under a tenth of a core
  // over a window of 2 s.
  const long ticks = CpuTicks(pid);
  std::this_thread::sleep_for(seconds(2));
  EXPECT_LT(CpuTicks(pid) - ticks, sysconf(_SC_CLK_TCK) / 5) << "CPU ticks in 2 s";
  crowd.clear();
  // The connections that waited are served, then everyone else again.
  WaitUntil([&] { return site_.Client()->Get("/healthz").status == 200; });
  ExpectServing();
  const std::string log = HostLog();
  EXPECT_EQ(FirstLines(log, "accepting connections: Too many open files"), 1) << log;
}

// On a site in the test's process whose clock the test moves: the wait
// for the quiet sessions to expire takes no time.
TEST(ServeSessionLimitTest, FullStoreRefusesNewSessionsOnly) {
  InProcessSite site(
      {"--max-sessions", "20", "--session-timeout", "0.1", "--failure-log-interval", "1"},
      InProcessSite::Time::kManual);
  ASSERT_TRUE(site.running());
  const auto expect_serving = [&site] {
    auto client = site.Client();
    EXPECT_EQ(client->Get("/healthz").body, "ok\n");
    EXPECT_EQ(client->Get("/css/site.css").status, 200);
  };
  std::vector<std::unique_ptr<LoopbackHttpClient>> visitors;
  // Two of the 20 places are kept for operators' logins.
  for (int i = 0; i < 18; ++i) {
    visitors.push_back(site.Client());
    ASSERT_EQ(visitors.back()->Get("/site/index.html").status, 200) << i;
  }
  // The first visitor keeps using the site (the session lives 6 s unused);
  // the others go quiet.
  auto& regular = *visitors[0];
  const std::string kept = regular.cookies()["ZSESSIONID"];
  const long rss_before = RssKb(getpid());
  for (int i = 0; i < 200; ++i) {
    auto stranger = site.Client();
    const HttpReply refused = stranger->Get("/site/index.html");
    EXPECT_EQ(refused.status, 503);
    EXPECT_FALSE(refused.Header("retry-after").empty());
    EXPECT_TRUE(refused.set_cookies.empty()) << "no session id for a session never made";
    if (i % 20 == 0) {
      EXPECT_EQ(regular.Get("/site/about.html").status, 200);
    }
  }
  // Visitors never take the places kept for logins.
  auto op = site.Client();
  EXPECT_EQ(op->Post("/api/login", "id=5&password=demo5").status, 200);
  expect_serving();
  ExpectBoundedGrowth("sessions full", rss_before, RssKb(getpid()), 201, 8 * 1024);

  // The sessions there go on, unchanged.
  EXPECT_EQ(regular.Get("/site/about.html").status, 200);
  EXPECT_EQ(regular.cookies()["ZSESSIONID"], kept);
  EXPECT_NE(ServedSite::OpenChat(regular), 0);

  // Once the others expired, new visitors are let in, and the one who kept
  // using the site keeps the session.
  auto late = site.Client();
  int status = 0;
  for (int i = 0; i < 40 && status != 200; ++i) {
    site.clock().Advance(milliseconds(500));
    EXPECT_EQ(regular.Get("/site/about.html").status, 200);
    status = late->Get("/site/index.html").status;
  }
  EXPECT_EQ(status, 200);
  EXPECT_FALSE(late->cookies()["ZSESSIONID"].empty());
  EXPECT_EQ(regular.cookies()["ZSESSIONID"], kept);
  EXPECT_EQ(ServedSite::Login(*op, 5, "demo5").empty(), false);
  // Written once per stretch of refusals (the wait for the expiry may have
  // made a second), never once per refused request.
  const std::string log = HostLines(site.Output());
  EXPECT_GE(FirstLines(log, "new sessions refused"), 1) << log;
  EXPECT_LE(FirstLines(log, "new sessions refused"), 2) << log;
  EXPECT_TRUE(site.Stop());
}

TEST(ServeFaultOptionsTest, LimitsAreCheckedAtTheStart) {
  for (const std::vector<std::string> bad : {std::vector<std::string>{"--max-sessions", "0"},
                                             {"--max-sessions", "x"},
                                             {"--failure-log-interval", "0"},
                                             {"--failure-log-interval", "-1"},
                                             {"--fetch-timeout", "0"},
                                             {"--fetch-timeout", "1e9"}}) {
    std::vector<std::string> args = {"serve", "--data", "/nonexistent-zelto-faults"};
    args.insert(args.end(), bad.begin(), bad.end());
    std::string output;
    EXPECT_EQ(ServeProcess::RunZelto(args, &output), 2) << bad[0] << " " << bad[1] << output;
    EXPECT_NE(output.find(bad[0]), std::string::npos) << output;
  }
}

}  // namespace
}  // namespace zelto::testing
