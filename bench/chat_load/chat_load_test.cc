// The load generator's own parts: what it refuses, how it reads the site's
// answers, and how it turns sightings into figures.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "bench/chat_load/delivery.h"
#include "bench/chat_load/http_connection.h"
#include "bench/chat_load/json_fields.h"
#include "bench/chat_load/options.h"
#include "bench/chat_load/resources.h"

namespace chatload {
namespace {

std::string TempFile(const std::string& text) {
  char path[] = "/tmp/chat-load-test.XXXXXX";
  const int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  close(fd);
  return path;
}

TEST(ChatLoadOptions, OnlyLoopbackTargetsAreLoaded) {
  struct Case {
    const char* text;
    const char* address;  // null: refused
  };
  const Case cases[] = {
      {"127.0.0.1:8080", "127.0.0.1"}, {"127.9.8.7:1", "127.9.8.7"},
      {"localhost:80", "127.0.0.1"},   {"[::1]:8080", "::1"},
      {"10.0.0.1:80", nullptr},        {"192.168.1.5:80", nullptr},
      {"8.8.8.8:53", nullptr},         {"0.0.0.0:8080", nullptr},
      {"example.com:80", nullptr},     {"127.0.0.1", nullptr},
      {"127.0.0.1:0", nullptr},        {"127.0.0.1:65536", nullptr},
      {"127.0.0.1:80x", nullptr},      {"[::ffff:10.0.0.1]:80", nullptr},
  };
  for (const Case& c : cases) {
    std::string error;
    auto target = ParseLoopbackTarget(c.text, &error);
    if (c.address) {
      ASSERT_TRUE(target) << c.text << ": " << error;
      EXPECT_EQ(target->address, c.address) << c.text;
    } else {
      EXPECT_FALSE(target) << c.text;
      EXPECT_NE(error.find("--host"), std::string::npos) << c.text;
    }
  }
}

TEST(ChatLoadOptions, ValuesOutOfRangeAndUnknownOptionsAreRefused) {
  const std::vector<std::vector<std::string>> refused = {
      {},                                                   // no host
      {"--host", "127.0.0.1:1", "--duration", "0"},         // nothing to run
      {"--host", "127.0.0.1:1", "--duration", "3601"},      // unbounded
      {"--host", "127.0.0.1:1", "--chat-share", "1.5"},
      {"--host", "127.0.0.1:1", "--chat-messages", "2.5"},
      {"--host", "127.0.0.1:1", "--arrival-rate", "-1"},
      {"--host", "127.0.0.1:1", "--wait", "26"},
      {"--host", "127.0.0.1:1", "--max-visitors", "100001"},
      {"--host", "127.0.0.1:1", "--message-interval", "nan"},
      {"--host", "127.0.0.1:1", "--operator", "x:pw"},
      {"--host", "127.0.0.1:1", "--operator", "5:"},
      {"--host", "127.0.0.1:1", "--operators", "2"},        // one login (the default) given
      {"--host", "127.0.0.1:1", "--label", "a|b"},          // would break the RESULT line
      {"--host", "127.0.0.1:1", "--bogus", "1"},
      {"--host", "127.0.0.1:1", "--duration"},
  };
  for (const auto& args : refused) {
    auto parsed = ParseOptions(args);
    EXPECT_FALSE(parsed.options) << ::testing::PrintToString(args);
    EXPECT_FALSE(parsed.error.empty()) << ::testing::PrintToString(args);
  }
}

TEST(ChatLoadOptions, OperatorsComeFromFlagsAndFilesAndCanBeCut) {
  auto defaults = ParseOptions({"--host", "127.0.0.1:1"});
  ASSERT_TRUE(defaults.options) << defaults.error;
  ASSERT_EQ(defaults.options->operators.size(), 1u);
  EXPECT_EQ(defaults.options->operators[0].id, 5);
  EXPECT_EQ(defaults.options->operators[0].password, "demo5");

  const std::string file = TempFile("# id password\n101 pw101\n\n102 p:w 2\n");
  auto bad = ParseOptions({"--host", "127.0.0.1:1", "--operators-file", file});
  EXPECT_FALSE(bad.options);
  EXPECT_NE(bad.error.find(":4:"), std::string::npos) << bad.error;
  std::remove(file.c_str());

  const std::string good = TempFile("# id password\n101 pw101\n\n102 p:w\n103 x\n");
  auto parsed = ParseOptions({"--host", "127.0.0.1:1", "--operator", "7:demo7", "--operators-file",
                              good, "--operators", "3"});
  std::remove(good.c_str());
  ASSERT_TRUE(parsed.options) << parsed.error;
  const auto& ops = parsed.options->operators;
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].id, 7);
  EXPECT_EQ(ops[2].id, 102);
  EXPECT_EQ(ops[2].password, "p:w");
}

TEST(ChatLoadLatencies, PercentilesAreNearestRank) {
  Latencies l;
  EXPECT_EQ(l.Percentile(99), 0);
  for (int ms = 100; ms >= 1; --ms) l.Add(ms);
  EXPECT_EQ(l.Percentile(50), 50);
  EXPECT_EQ(l.Percentile(90), 90);
  EXPECT_EQ(l.Percentile(99), 99);
  EXPECT_EQ(l.Max(), 100);
  EXPECT_EQ(l.Percentile(0), 1);
  Latencies one;
  one.Add(7.5);
  EXPECT_EQ(one.Percentile(99), 7.5);
  one.Merge(l);
  EXPECT_EQ(one.Count(), 101u);
  EXPECT_EQ(one.Max(), 100);
}

TEST(ChatLoadMessages, MarksSurviveThePageEscapingAndAreFoundInAnswers) {
  EXPECT_EQ(EscapeForPage(u"a你"), "%u0061%u4F60");
  EXPECT_EQ(EscapeForPage(u"\U0001F600"), "%uD83D%uDE00");  // one emoji, two units
  const std::string text = MessageText(1234, kToOperator);
  EXPECT_EQ(FindMessageIds(text), std::vector<uint64_t>{1234});
  const std::string answer =
      "<div class=msg>zlm17z &lt;b&gt;</div><p>zlm18</p>zlmz zlm99999999999999999999999z"
      "<span>zlm5z</span>zlm";
  EXPECT_EQ(FindMessageIds(answer), (std::vector<uint64_t>{17, 5}));
}

TEST(ChatLoadDelivery, EachMessageCountsOnceForItsOwnReceiver) {
  DeliveryBook book;
  const Clock::time_point t0 = Clock::now();
  const uint64_t early = book.Posting(kToOperator, 10, t0);
  const uint64_t late = book.Posting(kToOperator, 10, t0 + std::chrono::seconds(2));
  const uint64_t other_chat = book.Posting(kToOperator, 11, t0);
  const uint64_t reply = book.Posting(kToVisitor, 10, t0);
  const uint64_t failed = book.Posting(kToVisitor, 10, t0);
  book.Stored(early);
  book.Stored(other_chat);
  book.Stored(reply);
  book.NotStored(failed);
  const std::string body = "zlm" + std::to_string(early) + "z zlm" + std::to_string(late) +
                           "z zlm" + std::to_string(other_chat) + "z zlm" + std::to_string(reply) +
                           "z zlm" + std::to_string(failed) + "z";
  // The operator's window on chat 10 opened 1 s after the first message.
  const auto seen = book.Seen(kToOperator, 10, body, t0 + std::chrono::milliseconds(2500),
                              t0 + std::chrono::seconds(1));
  EXPECT_EQ(seen, (std::vector<uint64_t>{early, late}));
  EXPECT_TRUE(book.Seen(kToOperator, 10, body, t0 + std::chrono::seconds(3), t0).empty());
  book.Stored(late);  // its answer came after the sighting
  const auto& counts = book.counts();
  EXPECT_EQ(counts.delivered[kToOperator], 2u);
  EXPECT_EQ(counts.picked_up[kToOperator], 1u);
  EXPECT_EQ(counts.posted[kToOperator], 3u);
  EXPECT_EQ(counts.failed[kToVisitor], 1u);
  ASSERT_EQ(book.latency(kToOperator).Count(), 1u);
  EXPECT_NEAR(book.latency(kToOperator).Max(), 500, 1);
  EXPECT_NEAR(book.pickup_wait(kToOperator).Max(), 2500, 1);
  const auto unseen = book.CountUnseen([](long cid) { return cid == 10; });
  EXPECT_EQ(unseen.attended, 1u);    // the reply, in the visitor's open window
  EXPECT_EQ(unseen.unattended, 1u);  // other_chat: no operator window on chat 11
}

TEST(ChatLoadSiteAnswers, CookiesAndJsonFieldsAreRead) {
  http::fields headers;
  headers.insert(http::field::set_cookie, "ZSESSIONID=abc; HttpOnly; SameSite=Lax; Path=/");
  headers.insert(http::field::set_cookie, "ZVISITOR=V1.mac; Max-Age=86400");
  headers.insert(http::field::set_cookie, "=junk");
  CookieJar jar;
  jar.Take(headers);
  http::fields renewed;
  renewed.insert(http::field::set_cookie, "ZSESSIONID=def; Path=/");
  jar.Take(renewed);
  EXPECT_EQ(jar.Header(), "ZSESSIONID=def; ZVISITOR=V1.mac");

  const std::string list = R"([{"cid":3,"label":"a","nickName":"x\"cid\":9"},{"cid":12,"label":"b"}])";
  EXPECT_EQ(JsonNumbers(list, "cid"), (std::vector<long>{3, 12}));
  const std::string login = R"({"id":5,"name":"王芳","companyId":1,"token":"0a1b"})";
  EXPECT_EQ(JsonNumber(login, "companyId"), 1);
  EXPECT_EQ(JsonNumber(login, "missing"), 0);
  EXPECT_EQ(JsonText(login, "token"), "0a1b");
  EXPECT_EQ(JsonText(login, "missing"), "");
}

TEST(ChatLoadResources, ProcFilesAndCounterFilesAreRead) {
  const auto fields = StatFields("1234 (zelto (serve) x) S 1 1234 1234 0 -1 4194560 10 0 0 0 "
                                 "250 75 3 4 20 0 5 0 100 1000 200");
  ASSERT_GE(fields.size(), 15u);
  EXPECT_EQ(fields[0], "S");
  EXPECT_EQ(fields[1], "1");
  EXPECT_EQ(fields[11], "250");
  EXPECT_EQ(fields[14], "4");
  const std::string status = "Name:\tzelto\nVmHWM:\t  30500 kB\nVmRSS:\t  20900 kB\n";
  EXPECT_EQ(StatusKib(status, "VmRSS"), 20900u);
  EXPECT_EQ(StatusKib(status, "VmHWM"), 30500u);
  EXPECT_EQ(StatusKib(status, "VmSwap"), 0u);

  auto self = SampleProcess(getpid());
  ASSERT_TRUE(self);
  EXPECT_GT(self->rss_kib, 0u);
  EXPECT_GE(self->hwm_kib, self->rss_kib);

  const uint64_t value = 987654321012ull;
  const std::string counter = TempFile(std::string(reinterpret_cast<const char*>(&value), 8));
  std::string error;
  auto file = StatementCounterFile::Open(counter, &error);
  std::remove(counter.c_str());
  ASSERT_TRUE(file) << error;
  EXPECT_EQ(file->Read(), value);
  EXPECT_FALSE(StatementCounterFile::Open("/nonexistent/counter", &error));
}

}  // namespace
}  // namespace chatload
