// Past chats on both engines: the history lists a company's ended chats
// with their details and finds words of every script (Chinese words too
// short for the trigram index among them) without ever showing another
// company's; hostile search text is only text; the index follows deleted
// messages; a rating is taken once, from a visitor of an ended chat, for
// a while; the statistics' counts and percentiles; transcripts escape.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/serve/chat_history.h"
#include "host/serve/chat_ratings.h"
#include "host/serve/chat_statistics.h"
#include "host/serve/transcript.h"
#include "host/serve/web_app.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::ChatHistory;
using serve::ChatRatings;
using serve::HistoryFilter;
using serve::RatingOutcome;

constexpr LONG kCompany = 1;
constexpr char kFirst[] = "20240520093347112";
constexpr char kSecond[] = "20240520094005468";

class ChatRecordsTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    site_db_ = std::make_unique<serve::SiteDatabase>(
        db_.folder(), db_.user(), db_.password(),
        std::pair<std::string, std::string>{db_.catalog("chat"), db_.catalog("count")});
    app_ = std::make_unique<serve::WebApp>(*site_db_, [this] { return now_; });
    std::string error;
    ASSERT_TRUE(app_->availability.SessionStarted(5, kCompany, &error)) << error;
  }

  LONG Open(const std::string& label) {
    std::string error;
    auto routed = app_->routing.Open(label, kCompany, &error);
    EXPECT_TRUE(routed) << error;
    return routed ? routed->cid : 0;
  }
  void End(LONG cid) {
    ++now_;
    std::string error;
    EXPECT_TRUE(app_->lifecycle.End(cid, serve::kEndedByOperator, 5, &error)) << error;
  }
  // A message as the posting pages store it: a visitor's has the label.
  void Post(LONG cid, const std::string& label, const std::string& text,
            const std::string& time = "2026-12-08 10:00:00", LONG sender = 5) {
    std::string quoted;
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    db_.Execute("chat", "insert into msg (conid, userID_send, cstLabel, nickName, msgContent, "
                        "msgTime, issystem) values (" +
                            std::to_string(cid) + ", " + std::to_string(label.empty() ? sender : 0) +
                            ", '" + label + "', '" + (label.empty() ? "" : "Ann") + "', '" +
                            quoted + "', '" + time + "', 0)");
  }
  std::vector<LONG> Found(const HistoryFilter& filter) {
    std::string error;
    std::vector<LONG> cids;
    for (const auto& e : ChatHistory(*site_db_).List(kCompany, filter, &error))
      cids.push_back(e.cid);
    EXPECT_EQ(error, "");
    return cids;
  }
  std::vector<LONG> Search(const std::string& text) {
    HistoryFilter filter;
    filter.text = text;
    return Found(filter);
  }

  SeededDatabase db_{GetParam(), true};
  std::unique_ptr<serve::SiteDatabase> site_db_;
  std::unique_ptr<serve::WebApp> app_;
  int64_t now_ = 1'800'000'000;
};

TEST_P(ChatRecordsTest, HistoryFindsWordsOfEveryScriptOnlyInTheCompany) {
  const LONG a = Open(kFirst);
  Post(a, kFirst, "请问这个产品的价格是多少");
  Post(a, "", "Our Refund policy lasts 30 days");
  End(a);
  const LONG b = Open(kSecond);
  Post(b, kSecond, "退款政策是什么");
  Post(b, "", "100% sure, it's 'fine'");
  End(b);
  // Another company's ended chat says the same words.
  db_.Execute("chat", "insert into chatState (cid, companyId, cstLabel, operatorId, state, "
                      "queuedAt, assignedAt, endedAt, endedBy, endedById) values (900, 2, 'x', "
                      "21, 'ended', 1, 1, 1, 'visitor', 0)");
  Post(900, "x", "价格 退款政策 refund policy 100%");

  struct Case {
    const char* text;
    std::vector<LONG> found;
  } cases[] = {
      {"", {b, a}},                // everything, newest end first
      {"价格", {a}},               // two characters: below the trigram index
      {"产品的价格", {a}},         // through the index
      {"退款政策", {b}},
      {"refund", {a}},             // Latin letters in any case
      {"REFUND   Policy", {a}},    // every word, anywhere in the chat
      {"refund 退款", {}},         // no chat has both
      {"100%", {b}},               // % and _ are letters here
      {"%", {b}},
      {"_", {}},
      {"a\"b'c", {}},              // quotes are text
      {"'fine'", {b}},
      {"政策 价格 产品 refund 30 days Our lasts sure", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Search(c.text), c.found) << c.text;

  HistoryFilter filter;
  filter.operator_id = 12;
  EXPECT_EQ(Found(filter), std::vector<LONG>{});
  filter.operator_id = 5;
  filter.visitor = std::string(kSecond).substr(0, 12);
  EXPECT_EQ(Found(filter), std::vector<LONG>{b});
  filter = HistoryFilter();
  filter.from = now_ + 1;
  EXPECT_EQ(Found(filter), std::vector<LONG>{});
  filter.from = 0;
  filter.to = now_;  // a ended one second before b
  EXPECT_EQ(Found(filter), std::vector<LONG>{a});
  filter.to = 0;
  filter.before_end = now_;
  filter.before_cid = b;  // the page after b
  EXPECT_EQ(Found(filter), std::vector<LONG>{a});

  std::string error;
  const auto entries = ChatHistory(*site_db_).List(kCompany, HistoryFilter(), &error);
  ASSERT_EQ(entries.size(), 2u) << error;
  EXPECT_EQ(entries[1].operators, std::vector<std::string>{"王芳"});
  EXPECT_EQ(entries[1].first_message, "请问这个产品的价格是多少");
  EXPECT_EQ(entries[1].visitor_name, "Ann");
  EXPECT_EQ(entries[1].label, kFirst);
  EXPECT_EQ(entries[1].ended_by, serve::kEndedByOperator);

  // Removed messages (retention) leave the index with them.
  db_.Execute("chat", "delete from msg where conid=" + std::to_string(a));
  EXPECT_EQ(Search("refund"), std::vector<LONG>{});
  EXPECT_EQ(Search("产品的价格"), std::vector<LONG>{});

  EXPECT_TRUE(ChatHistory(*site_db_).IsOfCompany(a, kCompany, &error));
  EXPECT_FALSE(ChatHistory(*site_db_).IsOfCompany(900, kCompany, &error));
  EXPECT_FALSE(ChatHistory(*site_db_).IsOfCompany(a, 2, &error));
  EXPECT_EQ(error, "");
}

TEST_P(ChatRecordsTest, ACommonWordPagesThroughTheNewestChatsAsTheIndexWould) {
  // 70 ended chats; every one but each 7th mentions a refund.
  for (int i = 0; i < 70; ++i) {
    const std::string cid = std::to_string(2000 + i);
    db_.Execute("chat", "insert into chatState (cid, companyId, cstLabel, operatorId, state, "
                        "queuedAt, assignedAt, endedAt, endedBy, endedById) values (" +
                            cid + ", 1, 'v" + cid + "', 5, 'ended', 1, 1, " +
                            std::to_string(1000 + i) + ", 'visitor', 0)");
    Post(2000 + i, "v" + cid, i % 7 ? (i % 2 ? "a REFUND please" : "refund") : "hello");
  }
  std::vector<LONG> expected;
  for (int i = 69; i >= 0; --i)
    if (i % 7) expected.push_back(2000 + i);
  HistoryFilter filter;
  filter.text = "refund";
  const std::vector<LONG> first = Found(filter);
  ASSERT_EQ(first, std::vector<LONG>(expected.begin(), expected.begin() + 50));
  filter.before_end = 1000 + (first.back() - 2000);
  filter.before_cid = first.back();
  EXPECT_EQ(Found(filter), std::vector<LONG>(expected.begin() + 50, expected.end()));
}

TEST_P(ChatRecordsTest, ARatingIsTakenOnceFromAVisitorOfAnEndedChatForAWhile) {
  ChatRatings ratings(*site_db_, [this] { return now_; });
  std::string error;
  const LONG a = Open(kFirst);
  EXPECT_EQ(ratings.RecordRating(kFirst, a, 4, "", nullptr, &error), RatingOutcome::kNotEnded);
  End(a);
  EXPECT_EQ(ratings.RecordRating(kSecond, a, 1, "", nullptr, &error), RatingOutcome::kNotMember);
  EXPECT_EQ(ratings.RecordRating(kFirst, a, 5, "很好 <b>'ok'</b>", nullptr, &error),
            RatingOutcome::kStored);
  EXPECT_EQ(ratings.RecordRating(kFirst, a, 1, "changed my mind", nullptr, &error),
            RatingOutcome::kAlreadyRated);
  const auto stored = ratings.RatingOf(a, &error);
  ASSERT_TRUE(stored) << error;
  EXPECT_EQ(stored->score, 5);
  EXPECT_EQ(stored->comment, "很好 <b>'ok'</b>");
  EXPECT_EQ(stored->company_id, kCompany);
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from chatRating"), "1");
  const auto listed = ChatHistory(*site_db_).List(kCompany, HistoryFilter(), &error);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].score, 5);

  const LONG b = Open(kSecond);
  End(b);
  now_ += serve::kRatingWindowSeconds + 1;
  EXPECT_EQ(ratings.RecordRating(kSecond, b, 3, "", nullptr, &error), RatingOutcome::kTooLate);
  EXPECT_EQ(ratings.RecordRating(kSecond, 424242, 3, "", nullptr, &error),
            RatingOutcome::kNotMember);
  EXPECT_EQ(error, "");
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from chatRating"), "1");
}

TEST_P(ChatRecordsTest, StatisticsCountChatsAndTheirSpreads) {
  // cid, operator, state, queued, assigned, ended
  db_.Execute("chat",
              "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
              "assignedAt, endedAt, endedBy, endedById) values "
              "(501, 1, 'a', 5, 'ended', 1000, 1000, 1600, 'visitor', 0), "
              "(502, 1, 'b', 5, 'ended', 2000, 2100, 2400, 'operator', 5), "
              "(503, 1, 'c', 0, 'ended', 3000, 0, 3050, 'visitor', 0), "
              "(504, 1, 'd', 0, 'queued', 4000, 0, 0, '', 0), "
              "(505, 2, 'e', 21, 'ended', 1000, 1000, 1100, 'visitor', 0)");
  db_.Execute("chat", "insert into chatRating (cid, companyId, score, comment, ratedAt) values "
                      "(501, 1, 5, '', 1700), (502, 1, 2, '', 2500), (505, 2, 1, '', 1200)");
  Post(501, "a", "hi", "2026-12-08 10:00:00");
  Post(501, "", "hello", "2026-12-08 10:00:30");
  Post(502, "b", "hi", "2026-12-08 11:00:00");
  Post(502, "", "hello", "2026-12-08 11:02:00");
  Post(503, "c", "anyone?", "2026-12-08 12:00:00");
  Post(505, "e", "hi", "2026-12-08 12:00:00");
  std::string error;
  const auto f = serve::ChatStatistics(*site_db_).Compute(kCompany, {0, 5000, 3600}, &error);
  ASSERT_TRUE(f) << error;
  EXPECT_EQ(f->chats, 4);
  EXPECT_EQ(f->missed, 1);
  EXPECT_EQ(f->queued, 3);
  EXPECT_EQ(f->waiting_now, 1);
  EXPECT_EQ(f->first_response.count, 2u);
  EXPECT_EQ(f->first_response.median, 30);
  EXPECT_EQ(f->first_response.p90, 120);
  EXPECT_EQ(f->duration.median, 300);
  EXPECT_EQ(f->duration.p90, 600);
  EXPECT_EQ(f->queue_wait.count, 1u);
  EXPECT_EQ(f->queue_wait.median, 100);
  EXPECT_EQ(f->ratings.rated(), 2);
  EXPECT_DOUBLE_EQ(f->ratings.average(), 3.5);
  EXPECT_EQ(f->per_day.at("1970-01-01"), 4);
  EXPECT_EQ(f->per_hour[1], 3);  // an hour east of UTC
  EXPECT_EQ(f->per_hour[2], 1);
  const auto op = std::find_if(f->operators.begin(), f->operators.end(),
                               [](const serve::OperatorFigures& o) { return o.id == 5; });
  ASSERT_NE(op, f->operators.end());
  EXPECT_EQ(op->name, "王芳");
  EXPECT_EQ(op->chats, 2);
  EXPECT_EQ(op->missed, 0);
  EXPECT_EQ(op->first_response.median, 30);
  EXPECT_EQ(op->ratings.rated(), 2);
  for (const auto& o : f->operators) EXPECT_NE(o.id, 21) << "another company's operator";
}

TEST_P(ChatRecordsTest, AnUpgradedDatabaseFindsTheMessagesItHadBefore) {
  SeededDatabase old(GetParam(), true, kFirstReleaseSchemaFolder);
  ZELTO_SKIP_WITHOUT(old);
  serve::SiteDatabase site(old.folder(), old.user(), old.password(),
                           {old.catalog("chat"), old.catalog("count")});
  std::string message;
  ASSERT_TRUE(site.Upgrade(&message)) << message;
  // The demo's conversation ends; its messages were stored before the index.
  serve::WebApp app(site, [] { return 1'800'000'000; });
  std::string error;
  ASSERT_TRUE(app.lifecycle.End(1, serve::kEndedByOperator, 5, &error)) << error;
  HistoryFilter filter;
  for (const char* word : {"同时在线", "企业版", "客服"}) {
    filter.text = word;
    const auto found = ChatHistory(site).List(kCompany, filter, &error);
    ASSERT_EQ(found.size(), 1u) << word << error;
    EXPECT_EQ(found[0].cid, 1);
  }
  // New messages reach the index too.
  old.Execute("chat", "insert into msg (conid, userID_send, cstLabel, msgContent, issystem) "
                      "values (1, 5, '', 'warranty extension', 0)");
  filter.text = "WARRANTY";
  EXPECT_EQ(ChatHistory(site).List(kCompany, filter, &error).size(), 1u) << error;
}

ZELTO_ON_EVERY_ENGINE(ChatRecordsTest);

TEST(ChatSpreadTest, MedianAndNinetiethPercentileByNearestRank) {
  struct Case {
    std::vector<int64_t> values;
    int64_t median, p90;
  } cases[] = {
      {{}, 0, 0}, {{7}, 7, 7}, {{10, 1, 3}, 3, 10}, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5, 9},
  };
  for (const Case& c : cases) {
    const serve::Spread s = serve::SpreadOf(c.values);
    EXPECT_EQ(s.count, c.values.size());
    EXPECT_EQ(s.median, c.median);
    EXPECT_EQ(s.p90, c.p90);
  }
  EXPECT_EQ(serve::StoredTimeSeconds("1970-01-02 00:00:01"), 86401);
  EXPECT_EQ(serve::StoredTimeSeconds("2000-03-01T00:00:00.250"), 951868800);
  EXPECT_EQ(serve::StoredTimeSeconds("not a time"), std::nullopt);
  EXPECT_EQ(serve::StoredTimeSeconds(""), std::nullopt);
}

TEST(TranscriptTest, ValuesAreEscapedInHtmlAndKeptInText) {
  using Kind = serve::TranscriptLine::Kind;
  const std::vector<serve::TranscriptLine> lines = {
      {Kind::kVisitor, "", "L1", "2026-12-08 10:00:00", "<script>alert(1)</script>", ""},
      {Kind::kOperator, "Tom & \"Jerry\"", "", "2026-12-08 10:00:05", "a<b", "x'.png"},
      {Kind::kSystem, "", "", "2026-12-08 10:00:09", "bye", ""},
  };
  const std::string html = serve::TranscriptHtml({7, "en"}, lines);
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(html.find("Tom &amp; &quot;Jerry&quot;"), std::string::npos);
  EXPECT_NE(html.find("x&#39;.png"), std::string::npos);
  EXPECT_EQ(serve::TranscriptText({7, "en"}, lines),
            "Conversation 7\n\n"
            "[2026-12-08 10:00:00] Visitor L1: <script>alert(1)</script>\n"
            "[2026-12-08 10:00:05] Tom & \"Jerry\": a<b\n"
            "    File: x'.png\n"
            "[2026-12-08 10:00:09] System: bye\n");
  EXPECT_NE(serve::TranscriptText({7, "zh"}, lines).find("客户L1"), std::string::npos);
}

}  // namespace
}  // namespace zelto::testing
