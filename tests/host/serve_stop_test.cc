// A site always stops, whatever is in progress: held polls, a page fetch
// that never ends, a client that never finishes sending, and a stop asked
// for while the site is still starting.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "tests/support/host/in_process_site.h"
#include "tests/support/local_http_server.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;

TEST(ServeStopBoundsTest, NothingInProgressHoldsTheStop) {
  // A fetch limit of an hour: only a cancelled fetch lets the stop end.
  // The stalled page is the test's own, on this machine.
  InProcessSite site({"--threads", "3", "--fetch-timeout", "3600", "--fetch-allow-private"});
  ASSERT_TRUE(site.running());
  auto op = site.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  auto visitor = site.Client();
  site.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));

  LocalHttpServer pages;
  CannedResponse stall;
  stall.kind = CannedResponse::Kind::kStall;
  pages.Serve("/stall", stall);
  auto fetch = std::async(std::launch::async, [&] {
    auto client = site.Client();
    client->cookies() = op->cookies();
    return client->Get("/operator/CheckDomain.asp?domains=" + pages.Address("/stall") +
                       ";x&token=" + token);
  });
  auto poll = std::async(std::launch::async, [&] {
    auto client = site.Client();
    client->cookies() = op->cookies();
    return client->Get("/operator/GetUserMsg.asp?cid=" + cid + "&wait=25");
  });
  RawConnection sending(site.port());  // a body that never comes
  ASSERT_TRUE(sending.Send("POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Length: 50\r\n\r\nid="));
  ASSERT_TRUE(WaitUntil([&] {
    return !pages.Requests().empty() && site.site().long_poll().held() == 1 &&
           site.site().server().requests_in_progress() == 3;
  })) << "fetch, held poll and partial request all in progress";

  EXPECT_TRUE(site.Stop()) << "the site ends without waiting for the fetch's hour";
  const HttpReply fetched = fetch.get();
  EXPECT_EQ(fetched.status, 200);
  EXPECT_EQ(fetched.body, "{\"result\":0}") << "a cancelled fetch equals no page";
  EXPECT_EQ(poll.get().status, 200) << "the held poll is answered";
  EXPECT_NE(site.Output().find("zelto serve: stopped"), std::string::npos);
}

// SIGTERM while the site starts (after the component is registered, while
// the databases are made): the start is not cut in the middle; the site
// stops at once after it, with status 0.
TEST(ServeStopBoundsTest, AStopDuringTheStart) {
  ScratchRegistry scratch;
  const std::string data = scratch.folder() + "/data";
  const std::string out = scratch.folder() + "/out";
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 1);
    dup2(fd, 2);
    execl(ZELTO_BIN_DIR "/zelto", "zelto", "serve", "--data", data.c_str(), "--listen",
          "127.0.0.1:0", "--demo", static_cast<char*>(nullptr));
    _exit(127);
  }
  const auto output = [&] {
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_TRUE(WaitUntil([&] { return output().find("component module") != std::string::npos; }))
      << output();
  kill(pid, SIGTERM);
  int status = 0;
  const bool ended = WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(ended) << output();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output();
  EXPECT_NE(output().find("stop asked for while starting"), std::string::npos) << output();
  EXPECT_NE(output().find("zelto serve: stopped"), std::string::npos) << output();
  EXPECT_EQ(output().find("ZeltoCom chat site:"), std::string::npos) << "no welcome";
  EXPECT_TRUE(fs::exists(data + "/chat.db") && fs::exists(data + "/count.db"))
      << "both databases made whole";
}

}  // namespace
}  // namespace zelto::testing
