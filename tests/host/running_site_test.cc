// The running site as one object: a start that fails for any reason leaves
// nothing behind (no databases, no access log file, no socket), and a site
// that ends hands back every process-wide setting it took.
#include "host/serve/running_site.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/serve/administration.h"
#include "host/serve/web_app.h"
#include "platform/ado/engine_failures.h"
#include "platform/inet/internet_settings.h"
#include "tests/support/host/in_process_site.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

namespace fs = std::filesystem;
using serve::StartFailure;
using serve::WebApp;

// A loopback port nothing listens on now.
unsigned short FreePort() {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor probe(io);
  std::string error;
  EXPECT_TRUE(serve::OpenListener({boost::asio::ip::make_address("127.0.0.1"), 0}, &probe, &error))
      << error;
  return probe.local_endpoint().port();
}

std::string ReadAll(FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

class RunningSiteStartTest : public ::testing::Test {
 protected:
  serve::SiteOptions Options() {
    serve::SiteOptions options;
    options.data_dir = folder_ + "/data";
    options.access_log = folder_ + "/access.log";
    options.address = "127.0.0.1";
    options.port = FreePort();
    options.www_root = WriteTestPages(folder_ + "/pages");
    options.demo = true;
    EXPECT_EQ(serve::CheckSiteOptions(options), "");
    return options;
  }
  std::unique_ptr<serve::RunningSite> Start(const serve::SiteOptions& options,
                                            StartFailure* failure) {
    serve::SiteSurroundings surroundings;
    surroundings.out = out_;
    surroundings.log = out_;
    return serve::RunningSite::Start(options, surroundings, failure);
  }
  // Whether the port can be listened on again: nothing of the start holds it.
  static bool PortFree(unsigned short port) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor again(io);
    std::string error;
    return serve::OpenListener({boost::asio::ip::make_address("127.0.0.1"), port}, &again, &error);
  }

  ScratchRegistry scratch_;
  const std::string folder_ = scratch_.folder();
  FILE* out_ = std::tmpfile();
  ~RunningSiteStartTest() override { std::fclose(out_); }
};

TEST_F(RunningSiteStartTest, AFailedStartLeavesNothingBehind) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor taken(io);
  std::string error;
  ASSERT_TRUE(serve::OpenListener({boost::asio::ip::make_address("127.0.0.1"), 0}, &taken, &error));
  // Entries of other programs are let be; what clashes with the site's own
  // files is refused.
  fs::create_directories(folder_ + "/foreign");
  std::ofstream(folder_ + "/foreign/thesis.txt") << "mine";
  std::ofstream(folder_ + "/foreign/files") << "not a folder";

  const struct {
    const char* what;
    std::function<void(serve::SiteOptions&)> change;
    StartFailure::Status status;
    const char* says;
  } cases[] = {
      {"a taken port", [&](serve::SiteOptions& o) { o.port = taken.local_endpoint().port(); },
       StartFailure::kAddressInUse, "already in use"},
      {"an access log in a missing folder",
       [&](serve::SiteOptions& o) { o.access_log = folder_ + "/missing/access.log"; },
       StartFailure::kUsage, "cannot open the access log"},
      {"a data folder with a clash",
       [&](serve::SiteOptions& o) { o.data_dir = folder_ + "/foreign"; },
       StartFailure::kCannotStart, "files is not a folder"},
  };
  for (const auto& c : cases) {
    serve::SiteOptions options = Options();
    c.change(options);
    StartFailure failure;
    EXPECT_EQ(Start(options, &failure), nullptr) << c.what;
    EXPECT_EQ(failure.status, c.status) << c.what << ": " << failure.message;
    EXPECT_NE(failure.message.find(c.says), std::string::npos) << c.what << ": " << failure.message;
    EXPECT_FALSE(fs::exists(folder_ + "/data")) << c.what << ": no databases made";
    EXPECT_FALSE(fs::exists(options.access_log)) << c.what << ": no access log left";
    EXPECT_FALSE(fs::exists(folder_ + "/foreign/chat.db")) << c.what;
    if (c.status != StartFailure::kAddressInUse) {
      EXPECT_TRUE(PortFree(options.port)) << c.what << ": the port is let go";
    }
  }
  // An access log that was there before is kept.
  serve::SiteOptions options = Options();
  std::ofstream(options.access_log) << "older lines\n";
  options.data_dir = folder_ + "/foreign";
  StartFailure failure;
  EXPECT_EQ(Start(options, &failure), nullptr);
  EXPECT_TRUE(fs::exists(options.access_log));
}

// One host per SQLite data folder: the second is refused before it changes
// anything, and the folder is free again once the first has ended.
TEST_F(RunningSiteStartTest, ASecondHostOnTheSameFolderIsRefused) {
  serve::SiteOptions options = Options();
  StartFailure failure;
  auto first = Start(options, &failure);
  ASSERT_NE(first, nullptr) << failure.message;
  serve::SiteOptions second = Options();
  second.access_log = folder_ + "/second.log";
  EXPECT_EQ(Start(second, &failure), nullptr);
  EXPECT_EQ(failure.status, StartFailure::kCannotStart);
  EXPECT_NE(failure.message.find("another zelto"), std::string::npos) << failure.message;
  EXPECT_FALSE(fs::exists(second.access_log));
  EXPECT_TRUE(PortFree(second.port));
  first.reset();
  second.port = FreePort();
  EXPECT_NE(Start(second, &failure), nullptr) << failure.message;
}

TEST_F(RunningSiteStartTest, TheEndHandsBackWhatTheSiteTook) {
  const InternetSettings before = InternetGetSettings();
  serve::SiteOptions options = Options();
  options.fetch_seconds = 3;
  options.failure_log_seconds = 60;
  StartFailure failure;
  {
    auto site = Start(options, &failure);
    ASSERT_NE(site, nullptr) << failure.message;
    EXPECT_EQ(InternetGetSettings().transfer_timeout_ms, 3000);
    ado::ReportEngineFailure("sqlite", "execute", "while running");
    EXPECT_NE(ReadAll(out_).find("database execute (sqlite): while running"), std::string::npos);
  }  // never run: the destructor stops what it started
  const std::string at_end = ReadAll(out_);
  EXPECT_NE(at_end.find("zelto serve: stopped"), std::string::npos) << at_end;
  ado::ReportEngineFailure("sqlite", "execute", "after the end");
  EXPECT_EQ(ReadAll(out_), at_end) << "the sink no longer points at the site's log";
  EXPECT_EQ(InternetGetSettings().transfer_timeout_ms, before.transfer_timeout_ms);
  EXPECT_TRUE(PortFree(options.port));
  EXPECT_TRUE(fs::exists(folder_ + "/data/chat.db"));
}

// A site made for real use: new databases hold no operator; the published
// demo passwords open nothing; a site that still has them is refused
// without --demo; --admin-password-file makes the first administrator.
TEST_F(RunningSiteStartTest, WithoutDemoTheDemoPasswordsOpenNothing) {
  serve::SiteOptions options = Options();
  options.demo = false;
  StartFailure failure;
  auto site = Start(options, &failure);
  ASSERT_NE(site, nullptr) << failure.message;
  site->PrintWelcome();
  const std::string said = ReadAll(out_);
  EXPECT_NE(said.find("created new databases in"), std::string::npos) << said;
  EXPECT_EQ(said.find("demo"), std::string::npos) << said;
  EXPECT_NE(said.find("zelto operator add --data"), std::string::npos) << said;
  const serve::SiteDatabase db(options.data_dir, "", "");
  WebApp app(db);
  std::string error;
  for (const auto& [id, password] :
       std::vector<std::pair<LONG, std::string>>{{5, "demo5"}, {12, "demo12"}, {7, "demo7"}}) {
    EXPECT_FALSE(app.operators.Login(id, password, &error)) << id;
  }
  std::vector<serve::SiteDatabase::Row> rows;
  ASSERT_TRUE(db.Query("chat", "select count(*) as n from userinfo", {"n"}, &rows, &error));
  EXPECT_EQ(rows[0][0], "0");
  site.reset();

  // The demo data set made with --demo refuses a later start without it.
  serve::SiteOptions demo = Options();
  demo.data_dir = folder_ + "/demo";
  demo.access_log = "off";
  ASSERT_NE(Start(demo, &failure), nullptr) << failure.message;
  demo.demo = false;
  EXPECT_EQ(Start(demo, &failure), nullptr);
  EXPECT_EQ(failure.status, StartFailure::kCannotStart);
  EXPECT_NE(failure.message.find("published passwords"), std::string::npos) << failure.message;
}

TEST_F(RunningSiteStartTest, TheFirstAdministratorFromAPasswordFile) {
  serve::SiteOptions options = Options();
  options.demo = false;
  options.admin_password = "first admin password";
  StartFailure failure;
  auto site = Start(options, &failure);
  ASSERT_NE(site, nullptr) << failure.message;
  EXPECT_NE(ReadAll(out_).find("first administrator: operator 1"), std::string::npos);
  const serve::SiteDatabase db(options.data_dir, "", "");
  std::string error;
  auto op = WebApp(db).operators.Login(1, "first admin password", &error);
  ASSERT_TRUE(op) << error;
  EXPECT_TRUE(serve::Administration(db).FindOperator(1, &error)->rights.admin);
}

}  // namespace
}  // namespace zelto::testing
