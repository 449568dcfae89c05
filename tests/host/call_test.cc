// `zelto call` as people and later tests use it: one process per page
// request, the body on stdout, the status as the last stderr line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/scratch_registry.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int exit_code = -1;
  std::string out;
  std::string err;

  std::string LastErrLine() const {
    std::string text = err;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
  }
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Each test starts from an empty registry, so the first call registers the
// module itself. The program runs inside the scratch folder.
class CallTest : public ::testing::Test {
 protected:
  Result Zelto(std::vector<std::string> args) { return Command("call", std::move(args)); }
  Result Command(const char* command, std::vector<std::string> args) {
    args.insert(args.begin(), {ZELTO_BIN_DIR "/zelto", command});
    const fs::path out = fs::path(registry_.folder()) / "stdout";
    const fs::path err = fs::path(registry_.folder()) / "stderr";
    const pid_t pid = fork();
    if (pid == 0) {
      if (chdir(registry_.folder().c_str()) != 0) _exit(126);
      const int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
  }

  zelto::testing::ScratchRegistry registry_;
};

TEST_F(CallTest, TestWritesNothingAndSucceeds) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"Test"},
        {"--no-session", "Test"},
        {"--data", "elsewhere", "--query", "cid=1", "--session", "timelabel=V1", "--session",
         "userid:int=-5", "--server-var", "REMOTE_ADDR=10.0.0.9", "Test"}}) {
    const Result r = Zelto(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.LastErrLine(), "hr=0x00000000 end=0") << args.size();
  }
  EXPECT_TRUE(fs::exists(registry_.path())) << "the module registered itself";
}

TEST_F(CallTest, ResultValueAndExitStatusFollowTheHresult) {
  Result r = Zelto({"CheckDomain", "www.example.com"});  // one address: nothing fetched
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.LastErrLine(), "hr=0x00000000 end=0 ret=1");

  r = Zelto({"CheckDomain", "a;;b"});  // an empty item: S_FALSE at once
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.LastErrLine(), "hr=0x00000001 end=0 ret=0");
}

TEST_F(CallTest, PageObjectsArePassedWhereTheMethodWantsThem) {
  // GetClientMsg takes the page's Request, Response and Application; without
  // a session object it stops early.
  const Result r = Zelto({"--no-session", "--query", "cid=1&cstlabel=V1", "GetClientMsg"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.LastErrLine(), "hr=0x00000001 end=0");
  EXPECT_EQ(r.out, "");
}

TEST_F(CallTest, UnknownMethodFailsClearly) {
  const Result r = Zelto({"Nope"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("no method named 'Nope'"), std::string::npos) << r.err;
  EXPECT_TRUE(std::regex_match(r.LastErrLine(), std::regex("hr=0x8[0-9A-F]{7} end=0")))
      << r.LastErrLine();
  EXPECT_EQ(r.out, "");
}

TEST_F(CallTest, UsageErrorsGiveAReasonAndTheUsage) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{}, "METHOD is missing"},
      {{"--session", "foo", "Test"}, "--session wants KEY=VALUE"},
      {{"--session", "n:int=12x", "Test"}, "wants a 32-bit integer"},
      {{"--session", "n:int=4294967296", "Test"}, "wants a 32-bit integer"},
      {{"--server-var", "=1", "Test"}, "--server-var wants KEY=VALUE"},
      {{"--charset", "latin1", "Test"}, "unknown charset"},
      {{"--engine", "oracle", "Test"}, "unknown database engine"},
      {{"--bogus", "Test"}, "unknown option --bogus"},
      {{"Test", "a", "b"}, "too many arguments"},
      {{"--data"}, "--data needs a value"},
      {{"--password-file", "/nonexistent/zelto-pw", "Test"},
       "--password-file: cannot read /nonexistent/zelto-pw"},
  };
  for (const Case& c : cases) {
    const Result r = Zelto(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.reason;
    EXPECT_EQ(r.err.rfind("zelto call: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.substr(0, r.err.find('\n')).find(c.reason), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("usage: zelto call"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(fs::exists(registry_.path())) << "nothing is registered for a usage error";
}

// The component's code page: GBK unless --codepage (or ZELTO_CODEPAGE) says
// otherwise; on UTF-8 an emoji the page sends as a surrogate pair survives.
TEST_F(CallTest, CodePageOption) {
  ASSERT_EQ(Command("init-db", {"--data", "data", "--demo"}).exit_code, 0);
  const std::vector<std::string> post = {
      "--data",    "data",         "--query",    "cid=1&action=sub&msgContent=%u4F60%uD83D%uDE00",
      "--session", "timelabel=V1", "DoClientMsg"};
  const struct {
    std::vector<std::string> options;
    const char* shown;
  } cases[] = {
      {{}, "你?"},
      {{"--codepage", "936"}, "你?"},
      {{"--codepage", "65001"}, "你😀"},
      {{"--codepage=UTF-8"}, "你😀"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), post.begin(), post.end());
    const Result r = Zelto(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("<td>") + c.shown + "</td>"), std::string::npos) << r.out;
  }
  const Result refused = Zelto({"--codepage", "4242", "Test"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.err.find("--codepage wants a code page"), std::string::npos) << refused.err;
  const Result help = Zelto({"--help"});
  EXPECT_NE(help.out.find("--codepage CP"), std::string::npos);
  EXPECT_NE(help.out.find("ZELTO_CODEPAGE"), std::string::npos);
}

TEST_F(CallTest, HelpGoesToStdout) {
  const Result r = Zelto({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("usage: zelto call", 0), 0u);
  EXPECT_EQ(r.err, "");
}

}  // namespace
