// The one option parser of the `zelto` commands: both value forms, flags,
// operands, refusals with their reasons, the shared database login with its
// one password rule, and usage texts made from the tables.
#include "host/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/command.h"
#include "host/database_login.h"
#include "host/serve/site_options.h"
#include "tests/support/scratch_registry.h"

namespace zelto::testing {
namespace {

using Outcome = CommandLine::Outcome;

struct Parsed {
  Outcome outcome;
  std::string error;
  std::vector<std::string> operands;
};

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() : line_("try", "METHOD [ARG]", "Tries things.\n") {
    line_.Option("--name", "TEXT", "a name", TextValue(&name_, "a name"))
        .Option("--count", "N", "how many\nat most 9", IntegerValue(&count_, 1, 9))
        .Option("--ratio", "R", "a share",
                DecimalValue(
                    &ratio_, [](double r) { return r <= 1; }, "a share of at most 1"))
        .Flag("--quiet", "say nothing", [this] { quiet_ = true; });
    AddDatabaseLoginOptions(line_, &login_);
  }
  Parsed Parse(const std::vector<std::string>& args) {
    Parsed parsed;
    parsed.outcome = line_.Parse(args, &parsed.operands, &parsed.error);
    return parsed;
  }

  CommandLine line_;
  std::string name_;
  size_t count_ = 0;
  double ratio_ = 0;
  bool quiet_ = false;
  serve::DatabaseLogin login_;
};

TEST_F(CommandLineTest, ValuesFlagsAndOperands) {
  Parsed p =
      Parse({"--name", "a=b", "--count=3", "--ratio", "0.5", "--quiet", "Method", "--name", "x"});
  ASSERT_EQ(p.outcome, Outcome::kRun) << p.error;
  EXPECT_EQ(name_, "a=b");
  EXPECT_EQ(count_, 3u);
  EXPECT_EQ(ratio_, 0.5);
  EXPECT_TRUE(quiet_);
  EXPECT_EQ(p.operands, (std::vector<std::string>{"Method", "--name", "x"}))
      << "options end where the operands begin";

  p = Parse({"--name=", "--", "--count"});
  EXPECT_EQ(p.outcome, Outcome::kUsageError);
  p = Parse({"--count", "4", "--", "--count", "-5"});
  ASSERT_EQ(p.outcome, Outcome::kRun) << p.error;
  EXPECT_EQ(p.operands, (std::vector<std::string>{"--count", "-5"}));
  EXPECT_EQ(count_, 4u);
}

TEST_F(CommandLineTest, RefusalsSayWhy) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-x"}, "unknown option -x"},
      {{"--name"}, "--name needs a value"},
      {{"--name", ""}, "--name needs a name"},
      {{"--quiet=yes"}, "--quiet takes no value"},
      {{"--count", "0"}, "--count wants a number from 1 to 9"},
      {{"--count", "10"}, "--count wants a number from 1 to 9"},
      {{"--count", "3x"}, "--count wants a number from 1 to 9"},
      {{"--count", "-1"}, "--count wants a number from 1 to 9"},
      {{"--count", ""}, "--count wants a number from 1 to 9"},
      {{"--ratio", "2"}, "--ratio wants a share of at most 1"},
      {{"--ratio", "nan"}, "--ratio wants a share of at most 1"},
      {{"--ratio", "0.5s"}, "--ratio wants a share of at most 1"},
      {{"--server", ""}, "--server needs HOST[:PORT]"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.outcome, Outcome::kUsageError) << c.args[0];
    EXPECT_EQ(p.error, c.error);
  }
}

TEST_F(CommandLineTest, HelpWinsAnywhereBeforeTheOperandsEnd) {
  EXPECT_EQ(Parse({"--count", "0", "--help"}).outcome, Outcome::kHelp);
  EXPECT_EQ(Parse({"Method", "-h"}).outcome, Outcome::kHelp);
  EXPECT_EQ(Parse({"--", "--help"}).outcome, Outcome::kRun);
}

TEST_F(CommandLineTest, OnePasswordRuleForTheDatabaseLogin) {
  ScratchRegistry scratch;  // only for its folder
  const std::string file = scratch.folder() + "/password";
  std::ofstream(file, std::ios::binary) << "from file\r\nsecond line\n";

  Parsed p = Parse(
      {"--engine", "postgresql", "--server", "db:5433", "--user", "u", "--password-file", file});
  ASSERT_EQ(p.outcome, Outcome::kRun) << p.error;
  EXPECT_EQ(login_.engine, "postgresql");
  EXPECT_EQ(login_.server, "db:5433");
  EXPECT_EQ(login_.user, "u");
  EXPECT_EQ(login_.password, "from file") << "the first line, without its line end";

  for (const std::vector<std::string>& both :
       {std::vector<std::string>{"--password", "p", "--password-file", file},
        {"--password-file", file, "--password", "p"},
        {"--password", "p", "--password=q"}}) {
    login_ = {};
    p = Parse(both);
    EXPECT_EQ(p.outcome, Outcome::kUsageError) << both[0] << " " << both[2];
    EXPECT_EQ(p.error, "give --password or --password-file, once");
  }
  login_ = {};
  p = Parse({"--password-file", scratch.folder() + "/missing"});
  EXPECT_EQ(p.outcome, Outcome::kUsageError);
  EXPECT_EQ(p.error.rfind("--password-file: cannot read " + scratch.folder() + "/missing", 0), 0u)
      << p.error;
  EXPECT_FALSE(login_.password.has_value());
}

// Every option of every command is in its usage text, which is what
// `zelto COMMAND --help` prints.
TEST(CommandUsageTest, MadeFromTheTable) {
  serve::SiteOptions options;
  const std::string usage = ServeCommandLine(&options).Usage();
  EXPECT_EQ(usage.rfind("usage: zelto serve [--data DIR] [--listen ADDR:PORT]", 0), 0u) << usage;
  for (const char* option :
       {"--data", "--listen", "--threads", "--session-timeout", "--max-sessions", "--charset",
        "--access-log", "--long-poll-max", "--fetch-timeout", "--failure-log-interval", "--engine",
        "--server", "--user", "--password", "--password-file"}) {
    EXPECT_NE(usage.find("\n  " + std::string(option) + " "), std::string::npos) << option;
  }
  EXPECT_NE(usage.find("\ndatabase login:\n"), std::string::npos);
  EXPECT_NE(usage.find("Exit status: 0 stopped"), std::string::npos);
  std::istringstream lines(usage);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

TEST(CommandUsageTest, ServeOptionsAsTheSiteGetsThem) {
  serve::SiteOptions options;
  std::vector<std::string> operands;
  std::string error;
  ASSERT_EQ(ServeCommandLine(&options).Parse(
                {"--listen", "[::1]:0", "--threads", "3", "--session-timeout", "0.5", "--charset",
                 "gbk", "--access-log", "off", "--long-poll-max", "0"},
                &operands, &error),
            Outcome::kRun)
      << error;
  EXPECT_EQ(options.address, "::1");
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.threads, 3u);
  EXPECT_EQ(options.session_minutes, 0.5);
  EXPECT_EQ(options.charset, PageCharset::kGbk);
  EXPECT_EQ(options.access_log, "off");
  EXPECT_EQ(options.long_poll_max, 0u);
  EXPECT_EQ(options.data_dir, "./data") << "defaults stay";
  EXPECT_EQ(options.max_sessions, serve::SessionStore::kDefaultLimit);

  for (const std::string listen :
       {"nowhere", "127.0.0.1:70000", "127.0.0.1:", "127.0.0.1:8x", "300.1.1.1:80"}) {
    serve::SiteOptions refused;
    EXPECT_EQ(ServeCommandLine(&refused).Parse({"--listen", listen}, &operands, &error),
              Outcome::kUsageError)
        << listen;
    EXPECT_EQ(refused.port, 8080) << "untouched";
  }
  EXPECT_EQ(ServeCommandLine(&options).Parse({"stray"}, &operands, &error), Outcome::kUsageError);
  EXPECT_EQ(error, "unexpected argument 'stray'");
}

// Every form of --listen: the default address or port fills what is left out.
TEST(CommandUsageTest, ListenForms) {
  const struct {
    const char* text;
    const char* address;  // null: refused
    unsigned short port;
  } cases[] = {
      {"9000", "127.0.0.1", 9000},
      {":9000", "127.0.0.1", 9000},
      {"0.0.0.0", "0.0.0.0", 8080},
      {"localhost", "127.0.0.1", 8080},
      {"::1", "::1", 8080},
      {"[::1]", "::1", 8080},
      {"[::]:81", "::", 81},
      {"10.0.0.1:0", "10.0.0.1", 0},
      {"::1:80", "::1:80", 8080},  // a bare IPv6 address, not a port
      {":", nullptr, 0},
      {"", nullptr, 0},
      {"[::1]80", nullptr, 0},
      {"[::1", nullptr, 0},
      {"65536", nullptr, 0},
      {"example.com:80", nullptr, 0},
      {"1.2.3.4:80:90", nullptr, 0},
      {":-1", nullptr, 0},
  };
  for (const auto& c : cases) {
    std::string address = "before";
    unsigned short port = 1;
    EXPECT_EQ(serve::ParseListenAddress(c.text, &address, &port), c.address != nullptr) << c.text;
    EXPECT_EQ(address, c.address ? c.address : "before") << c.text;
    EXPECT_EQ(port, c.address ? c.port : 1) << c.text;
  }
}

class ConfigFileTest : public CommandLineTest {
 protected:
  ConfigFileTest() { line_.ConfigFile(); }
  Parsed WithConfig(const std::string& text, std::vector<std::string> args = {}) {
    std::ofstream(path_) << text;
    args.insert(args.begin(), {"--config", path_});
    return Parse(args);
  }
  ScratchRegistry scratch_;  // for its folder
  std::string path_ = scratch_.folder() + "/zelto.conf";
};

TEST_F(ConfigFileTest, OptionsFromTheFileAndTheCommandLineWins) {
  const Parsed parsed = WithConfig(
      "# comment\n; another\n\n  name =  \"two words\"  \ncount=3\nratio = 0.5\nquiet = "
      "yes\nuser = chat\n",
      {"--count", "7", "run"});
  ASSERT_EQ(parsed.outcome, Outcome::kRun) << parsed.error;
  EXPECT_EQ(name_, "two words");
  EXPECT_EQ(count_, 7u) << "the command line wins";
  EXPECT_EQ(ratio_, 0.5);
  EXPECT_TRUE(quiet_);
  EXPECT_EQ(login_.user, "chat");
  EXPECT_EQ(parsed.operands, std::vector<std::string>{"run"});

  quiet_ = false;
  ASSERT_EQ(WithConfig("quiet = off\n").outcome, Outcome::kRun);
  EXPECT_FALSE(quiet_);
}

TEST_F(ConfigFileTest, RefusalsNameTheLine) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"name = a\nbogus = 1\n", "line 2: unknown option 'bogus'"},
      {"\nname\n", "line 2: wants 'name = value'"},
      {"count = 1\ncount = 2\n", "line 2: 'count' is given again (also line 1)"},
      {"count = 10\n", "line 1: --count wants a number from 1 to 9"},
      {"config = other.conf\n", "line 1: unknown option 'config'"},
      {"quiet = maybe\n", "line 1: --quiet takes no value"},
      {"--name = a\n", "line 1: unknown option '--name'"},
  };
  for (const auto& c : cases) {
    const Parsed parsed = WithConfig(c.text);
    EXPECT_EQ(parsed.outcome, Outcome::kUsageError) << c.text;
    EXPECT_EQ(parsed.error, path_ + " " + c.says) << c.text;
  }
  EXPECT_EQ(Parse({"--config", path_ + ".missing"}).error,
            "cannot read the config file " + path_ + ".missing");
}

TEST(CommandUsageTest, ServeTakesAConfigFile) {
  ScratchRegistry scratch;
  const std::string path = scratch.folder() + "/serve.conf";
  std::ofstream(path) << "listen = :9000\nlog-format = json\nthreads = 3\n";
  serve::SiteOptions options;
  std::vector<std::string> operands;
  std::string error;
  ASSERT_EQ(
      ServeCommandLine(&options).Parse({"--config=" + path, "--threads", "5"}, &operands, &error),
      Outcome::kRun)
      << error;
  EXPECT_EQ(options.port, 9000);
  EXPECT_EQ(options.log_format, serve::LogFormat::kJson);
  EXPECT_EQ(options.threads, 5u);
}

}  // namespace
}  // namespace zelto::testing
