// Log lines: each timestamped and whole, in text or JSON; the access log in
// the combined format, without query values, and unable to forge a line.
#include "host/serve/access_log.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include "host/serve/log_stream.h"
#include "tests/support/host/in_process_site.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

using serve::AccessLog;
using serve::AccessRecord;
using serve::LogFormat;
using serve::LogStream;

// Logs written into memory; the streams flush every line.
class LogTest : public ::testing::Test {
 protected:
  ~LogTest() override {
    std::fclose(file_);
    std::free(buffer_);
  }
  // 2026-12-08 14:52:08.123 UTC.
  static serve::WallTime Fixed() {
    return serve::WallTime(std::chrono::milliseconds(1796741528123LL));
  }
  std::string Written() const { return std::string(buffer_, size_); }
  // A request of the test's, at Fixed().
  static AccessRecord Request(std::string method, std::string target, unsigned status) {
    AccessRecord r;
    r.remote = "127.0.0.1";
    r.method = std::move(method);
    r.target = std::move(target);
    r.status = status;
    r.received = Fixed();
    return r;
  }

  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* file_ = open_memstream(&buffer_, &size_);
};

TEST_F(LogTest, TextLinesStartWithTheirTime) {
  LogStream log(file_, LogFormat::kText, Fixed);
  log.Info("zelto serve: stopped");
  log.Error("two\nlines stay one write");
  const std::string text = Written();
  const std::regex iso(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.123[+-]\d\d:\d\d )");
  EXPECT_TRUE(std::regex_search(text, iso)) << text;
  EXPECT_NE(text.find(" zelto serve: stopped\n"), std::string::npos) << text;
}

TEST_F(LogTest, JsonLinesAreObjects) {
  LogStream log(file_, LogFormat::kJson, Fixed);
  log.Error("quote \" and \\ and \x01");
  const std::string text = Written();
  ASSERT_EQ(text.back(), '\n');
  const auto line = boost::json::parse(text).as_object();
  EXPECT_EQ(line.at("level").as_string(), "error");
  EXPECT_EQ(line.at("message").as_string(), "quote \" and \\ and \x01");
  EXPECT_NE(std::string(line.at("time").as_string()).find(":08.123"), std::string::npos);
}

TEST(RedactedQueryTest, NamesStayValuesGo) {
  const std::pair<const char*, const char*> cases[] = {
      {"/healthz", "/healthz"},
      {"/a.asp?cid=1&msgContent=hello&token=T", "/a.asp?cid=*&msgContent=*&token=*"},
      {"/a?flag&x=", "/a?flag&x=*"},
      {"/a?", "/a?"},
      {"/a?&&", "/a?&&"},
      {"/a?x=1#frag=2", "/a?x=*"},
      {"http://host/p?token=abc", "http://host/p?token=*"},
      {"", ""},
  };
  for (const auto& [target, logged] : cases) EXPECT_EQ(serve::RedactedQuery(target), logged);
}

TEST_F(LogTest, CombinedFormatWithTheTimeTaken) {
  LogStream stream(file_, LogFormat::kText, Fixed);
  AccessLog log(&stream);
  AccessRecord r =
      Request("GET", "/operator/DoUserMsg.asp?cid=3&msgContent=secret%20words&token=0123abcd", 200);
  r.referer = "http://site/operator/chat.html?cid=3";
  r.user_agent = "Agent \"1\"\n127.0.0.1 - - forged";
  r.bytes = 42;
  r.taken = std::chrono::microseconds(4500);
  log.Write(r);
  const std::string line = Written();
  const std::regex combined(
      R"re(^127\.0\.0\.1 - - \[08/Dec/2026:\d\d:\d\d:08 [+-]\d{4}\] "GET /operator/DoUserMsg\.asp\?cid=\*&msgContent=\*&token=\* HTTP/1\.1" 200 42 "http://site/operator/chat\.html\?cid=\*" "Agent \\x221\\x22\\x0A127\.0\.0\.1 - - forged" 0\.00[45]\n$)re");
  EXPECT_TRUE(std::regex_match(line, combined)) << line;
  EXPECT_EQ(line.find("secret"), std::string::npos);
  EXPECT_EQ(line.find("0123abcd"), std::string::npos);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

TEST_F(LogTest, JsonAccessLines) {
  LogStream stream(file_, LogFormat::kJson, Fixed);
  AccessLog log(&stream);
  AccessRecord r = Request("POST", "/api/login?x=1", 403);
  r.taken = std::chrono::microseconds(1500);
  r.user_agent = "\xff";
  log.Write(r);
  const auto line = boost::json::parse(Written()).as_object();
  EXPECT_EQ(line.at("target").as_string(), "/api/login?x=*");
  EXPECT_EQ(line.at("status").as_int64(), 403);
  EXPECT_DOUBLE_EQ(line.at("duration_ms").as_double(), 1.5);
  EXPECT_EQ(line.at("user_agent").as_string(), "\\xFF") << "always valid UTF-8";
  EXPECT_NE(std::string(line.at("time").as_string()).find(":08.123"), std::string::npos);
}

// Through a running site: a message posted by both sides and the operator's
// token never reach the access log; every request has its line.
TEST(AccessLogSiteTest, MessagesAndTokensStayOut) {
  ScratchRegistry scratch;  // for its folder
  const std::string log_path = scratch.folder() + "/access.log";
  {
    InProcessSite site({"--access-log", log_path});
    ASSERT_TRUE(site.running());
    auto op = site.Client();
    const std::string token = ServedSite::Login(*op, 5, "demo5");
    ASSERT_FALSE(token.empty());
    auto visitor = site.Client();
    site.Visit(*visitor);
    const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
    EXPECT_EQ(visitor
                  ->Get("/visitor/DoClientMsg.asp?cid=" + cid +
                        "&action=sub&msgContent=VisitorSecretWords")
                  .status,
              200);
    EXPECT_EQ(op->Get("/operator/DoUserMsg.asp?cid=" + cid +
                          "&action=sub&msgContent=OperatorSecretWords&token=" + token,
                      {{"Referer", "http://x/operator/chat.html?cid=" + cid + "&token=" + token}})
                  .status,
              200);
    ASSERT_TRUE(site.Stop());
    std::ifstream in(log_path);
    const std::string log((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(log.find("SecretWords"), std::string::npos) << log;
    EXPECT_EQ(log.find(token), std::string::npos) << log;
    EXPECT_NE(log.find("\"GET /operator/DoUserMsg.asp?cid=*&action=*&msgContent=*&token=* "
                       "HTTP/1.1\" 200 "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\"http://x/operator/chat.html?cid=*&token=*\""), std::string::npos) << log;
  }
}

// --log-format json: every line the site writes, its own and the access
// log's, is one JSON object.
TEST(AccessLogSiteTest, JsonEverywhere) {
  ScratchRegistry scratch;  // for its folder
  const std::string log_path = scratch.folder() + "/access.log";
  InProcessSite site({"--log-format", "json", "--access-log", log_path});
  ASSERT_TRUE(site.running());
  EXPECT_EQ(site.Client()->Get("/healthz?probe=1").status, 200);
  ASSERT_TRUE(site.Stop());
  std::ifstream in(log_path);
  const std::string access((std::istreambuf_iterator<char>(in)), {});
  for (const std::string& text : {site.Output(), access}) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      boost::system::error_code ec;
      const auto value = boost::json::parse(line, ec);
      ASSERT_FALSE(ec) << line;
      EXPECT_TRUE(value.as_object().contains("time")) << line;
    }
    EXPECT_GT(count, 0);
  }
  EXPECT_NE(access.find("\"target\":\"/healthz?probe=*\""), std::string::npos) << access;
  EXPECT_NE(site.Output().find("\"message\":\"zelto serve: stopped\""), std::string::npos);
}

}  // namespace
}  // namespace zelto::testing
