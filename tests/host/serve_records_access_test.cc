// Who may read past chats and rate them, tried as an attacker would on both
// engines: another visitor, another company's supervisor and an operator
// without the monitor right ask for a conversation's transcript, its
// rating, the history and the statistics; each is refused (or sees only
// its own company), and the database shows no rating was stored. The
// visitor who was in the chat and the company's operators are served.
#include <gtest/gtest.h>

#include "tests/support/host/attacked_site.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

class ServeRecordsAccessTest : public ::testing::TestWithParam<TestEngine> {
 public:
  static void SetUpTestSuite() { AttackedSite::StartCluster(); }
  static void TearDownTestSuite() { AttackedSite::StopCluster(); }

 protected:
  void SetUp() override {
    site_ = std::make_unique<AttackedSite>(GetParam());
    if (!site_->available()) GTEST_SKIP() << site_->unavailable_reason();
    chief_ = site_->Client();
    chief_token_ = AttackedSite::Login(*chief_, 5);
    visitor_ = site_->Client();
    cid_ = site_->VisitorWithChat(*visitor_);
    ASSERT_GT(cid_, 0);
    ASSERT_EQ(visitor_->Get("/visitor/DoClientMsg.asp?cid=" + Cid() +
                            "&action=sub&msgContent=secret%20%E4%BB%B7%E6%A0%BC")
                  .status,
              200);
  }
  std::string Cid() const { return std::to_string(cid_); }
  void EndChat() {
    ASSERT_EQ(chief_->Post("/api/conversation/end", "cid=" + Cid(),
                           {{"X-Zelto-Token", chief_token_}})
                  .status,
              200);
  }

  std::unique_ptr<AttackedSite> site_;
  std::unique_ptr<LoopbackHttpClient> chief_, visitor_;
  std::string chief_token_;
  int cid_ = 0;
};

TEST_P(ServeRecordsAccessTest, StrangersReadNothingAndRateNothing) {
  EndChat();
  auto stranger = site_->Client();
  site_->Visit(*stranger);
  auto other_chief = site_->Client();
  AttackedSite::Login(*other_chief, 21);  // company 2's supervisor
  auto clerk = site_->Client();
  AttackedSite::Login(*clerk, 7);  // company 1, no rights
  const std::string cid = Cid();
  struct Attempt {
    LoopbackHttpClient* who;
    std::string what;  // GET target, or "POST target body"
    int status;
  } attempts[] = {
      {stranger.get(), "/api/visitor/transcript?cid=" + cid, 403},
      {stranger.get(), "/api/visitor/transcript?cid=" + cid + "&format=html&download=1", 403},
      {stranger.get(), "POST /api/visitor/rating cid=" + cid + "&score=1", 403},
      {stranger.get(), "/api/operator/transcript?cid=" + cid, 401},
      {stranger.get(), "/api/operator/history?q=secret", 401},
      {stranger.get(), "/api/operator/statistics?from=0&to=86400", 401},
      {other_chief.get(), "/api/operator/transcript?cid=" + cid, 403},
      {other_chief.get(), "/api/operator/transcript?cid=" + cid + "%20or%201=1", 400},
      {clerk.get(), "/api/operator/statistics?from=0&to=86400", 403},
      {visitor_.get(), "POST /api/visitor/rating cid=" + cid + "&score=0", 400},
      {visitor_.get(), "POST /api/visitor/rating cid=" + cid + "&score=6", 400},
      {visitor_.get(), "POST /api/visitor/rating cid=" + cid + "&score=5%20", 400},
      {visitor_.get(),
       "POST /api/visitor/rating cid=" + cid + "&score=5&comment=" + std::string(1001, 'x'), 400},
      {visitor_.get(), "/api/visitor/transcript?cid=" + cid + "&format=pdf", 400},
      {visitor_.get(), "/api/visitor/transcript?cid=1", 403},  // the demo's chat
      {chief_.get(), "/api/operator/history?from=x", 400},
      {chief_.get(), "/api/operator/statistics?from=10&to=5", 400},
  };
  for (const Attempt& a : attempts) {
    HttpReply reply;
    if (a.what.starts_with("POST ")) {
      const size_t space = a.what.find(' ', 5);
      reply = a.who->Post(a.what.substr(5, space - 5), a.what.substr(space + 1));
    } else {
      reply = a.who->Get(a.what);
    }
    EXPECT_EQ(reply.status, a.status) << a.what << ": " << reply.body;
    EXPECT_EQ(reply.body.find("secret"), std::string::npos) << a.what;
  }
  EXPECT_EQ(site_->Count("chatRating"), 0);

  // Another company's supervisor finds nothing of company 1 in its history
  // or its statistics.
  const HttpReply history = other_chief->Get("/api/operator/history?q=secret");
  EXPECT_EQ(history.status, 200);
  EXPECT_EQ(history.body, "{\"conversations\":[],\"next\":\"\"}");
  const HttpReply figures = other_chief->Get("/api/operator/statistics?from=0&to=4000000000");
  EXPECT_EQ(figures.status, 400) << "longer than the longest period";
  const HttpReply now = other_chief->Get("/api/operator/statistics?from=1000000000&to=1030000000");
  EXPECT_EQ(now.status, 200);
  EXPECT_NE(now.body.find("\"chats\":0"), std::string::npos) << now.body;
}

TEST_P(ServeRecordsAccessTest, TheVisitorAndTheCompanyAreServed) {
  // Not yet: the chat runs.
  EXPECT_EQ(visitor_->Post("/api/visitor/rating", "cid=" + Cid() + "&score=4").status, 409);
  EndChat();
  const HttpReply own = visitor_->Get("/api/visitor/transcript?cid=" + Cid() + "&download=1");
  EXPECT_EQ(own.status, 200);
  EXPECT_NE(own.body.find("secret 价格"), std::string::npos) << own.body;
  EXPECT_EQ(own.Header("content-disposition"),
            "attachment; filename=\"conversation-" + Cid() + ".txt\"");
  EXPECT_EQ(visitor_->Post("/api/visitor/rating", "cid=" + Cid() + "&score=4&comment=%3Cb%3E")
                .status,
            200);
  EXPECT_EQ(visitor_->Post("/api/visitor/rating", "cid=" + Cid() + "&score=1").status, 409);
  EXPECT_EQ(site_->Scalar("select score from chatRating where cid=" + Cid()), "4");
  EXPECT_EQ(site_->Scalar("select comment from chatRating where cid=" + Cid()), "<b>");

  // Any operator of the company reads the history and the transcript.
  auto clerk = site_->Client();
  AttackedSite::Login(*clerk, 7);
  const HttpReply found = clerk->Get("/api/operator/history?q=%E4%BB%B7%E6%A0%BC");
  EXPECT_EQ(found.status, 200);
  EXPECT_NE(found.body.find("\"cid\":" + Cid()), std::string::npos) << found.body;
  EXPECT_NE(found.body.find("\"score\":4"), std::string::npos) << found.body;
  const HttpReply html = clerk->Get("/api/operator/transcript?cid=" + Cid() + "&format=html");
  EXPECT_EQ(html.status, 200);
  EXPECT_EQ(html.Header("content-type"), "text/html; charset=utf-8");
  EXPECT_NE(html.Header("content-security-policy").find("default-src 'none'"), std::string::npos);
  EXPECT_NE(html.body.find("secret 价格"), std::string::npos);
  const HttpReply figures = chief_->Get("/api/operator/statistics?from=0&to=" +
                                        std::to_string(400LL * 86400));
  EXPECT_EQ(figures.status, 200) << figures.body;
}

INSTANTIATE_TEST_SUITE_P(Engines, ServeRecordsAccessTest, ::testing::ValuesIn(AllTestEngines()),
                         TestEngineName);

}  // namespace
}  // namespace zelto::testing
