// Who may do what, tried as an attacker would on both engines: each route
// of a conversation asked by callers that are not in it (another visitor,
// an operator without rights, another company's supervisor) is refused
// before anything runs, and the database shows it: no row added, changed or
// marked read, no poll held. The callers who belong are never refused.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/host/attacked_site.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

using std::chrono::seconds;

class ServeAuthorizationTest : public ::testing::TestWithParam<TestEngine> {
 public:
  static void SetUpTestSuite() { AttackedSite::StartCluster(); }
  static void TearDownTestSuite() { AttackedSite::StopCluster(); }

 protected:
  void SetUp() override {
    site_ = std::make_unique<AttackedSite>(GetParam());
    if (!site_->available()) GTEST_SKIP() << site_->unavailable_reason();
    // Operator 5 is logged in first, so the visitor's chat goes to 5.
    chief_ = site_->Client();
    chief_token_ = AttackedSite::Login(*chief_, 5);
    visitor_ = site_->Client();
    cid_ = site_->VisitorWithChat(*visitor_);
    ASSERT_GT(cid_, 0);
    ASSERT_EQ(site_->Count("C_members", "cid=" + Cid() + " and serid=5"), 1);
    ASSERT_EQ(visitor_->Get("/visitor/DoClientMsg.asp?cid=" + Cid() +
                            "&action=sub&msgContent=secret")
                  .status,
              200);
  }

  std::string Cid() const { return std::to_string(cid_); }

  // What the database holds of the conversation: changes show here.
  std::string Fingerprint() {
    return site_->Scalar("select count(*) from msg where conid=" + Cid()) + "/" +
           site_->Scalar("select count(*) from C_members where cid=" + Cid()) + "/" +
           site_->Scalar("select count(*) from C_members where cid=" + Cid() + " and IsChat=1") +
           "/" + site_->Scalar("select count(*) from conversation where cid=" + Cid()) + "/" +
           site_->Scalar("select count(*) from msg where conid=" + Cid() +
                         " and readFlag like '%,2%'") +
           "/" + site_->Scalar("select count(*) from msg where readFlag like '%,7,%'") + "/" +
           site_->Scalar("select count(*) from onlineCst where Invited<>0") + "/" +
           site_->Scalar("select count(*) from C_members") + "/" +
           site_->Scalar("select count(*) from msg");
  }

  std::unique_ptr<AttackedSite> site_;
  std::unique_ptr<LoopbackHttpClient> chief_, visitor_;
  std::string chief_token_;
  int cid_ = 0;
};

struct Attempt {
  const char* who;      // the caller: "visitor" (another one), or an operator id
  const char* method;   // GET or POST
  std::string target;   // {cid} is the conversation
  std::string body;     // a POST's form
  int status = 403;
};

std::string Fill(std::string text, const std::string& cid) {
  for (size_t at; (at = text.find("{cid}")) != std::string::npos;) text.replace(at, 5, cid);
  return text;
}

TEST_P(ServeAuthorizationTest, StrangersToAConversationAreRefusedAndNothingChanges) {
  const std::vector<Attempt> attempts = {
      // Another visitor of the site.
      {"visitor", "GET", "/visitor/GetClientMsg.asp?cid={cid}", ""},
      {"visitor", "GET", "/visitor/GetClientMsg.asp?cid={cid}&wait=20", ""},
      {"visitor", "GET", "/visitor/DoClientMsg.asp?cid={cid}&action=sub&msgContent=spoof", ""},
      {"visitor", "GET", "/visitor/DoClientMsg.asp?cid=2147483647&action=sub&msgContent=x", ""},
      {"visitor", "GET", "/visitor/DoClientMsg.asp?action=sub&msgContent=x", ""},
      {"visitor", "POST", "/api/visitor/chat-opened", "cid={cid}"},
      {"visitor", "POST", "/api/conversation/end", "cid={cid}"},
      // Company 1's operators who are not in it: 7 has no right, 12 only
      // the list right; neither may read it.
      {"7", "GET", "/operator/GetUserMsg.asp?cid={cid}", ""},
      {"7", "GET", "/operator/GetUserMsg.asp?cid={cid}&wait=20", ""},
      {"7", "GET", "/operator/DoUserMsg.asp?cid={cid}&action=sub&msgContent=spoof", ""},
      {"7", "GET", "/operator/InvitUser.asp?cid={cid}&serid=7&action=inv", ""},
      {"7", "GET", "/operator/InvitUser.asp?cid=2147483647&serid=7&action=inv", ""},
      {"7", "GET", "/operator/TranstoUser.asp?cid={cid}&serid=12&action=inv", ""},
      {"7", "POST", "/api/conversation/end", "cid={cid}"},
      {"12", "GET", "/operator/GetUserMsg.asp?cid={cid}", ""},
      {"12", "POST", "/api/conversation/end", "cid={cid}"},
      // A supervisor who only monitors may read, never act.
      {"23", "GET", "/operator/DoUserMsg.asp?cid={cid}&action=sub&msgContent=spoof", ""},
      {"23", "GET", "/operator/InvitUser.asp?cid={cid}&serid=23&action=inv", ""},
      {"23", "GET", "/operator/TranstoUser.asp?cid={cid}&serid=23&action=inv", ""},
      // Company 2: its supervisor and its clerk.
      {"21", "GET", "/operator/GetUserMsg.asp?cid={cid}", ""},
      {"21", "GET", "/operator/DoUserMsg.asp?cid={cid}&action=sub&msgContent=spoof", ""},
      {"21", "GET", "/operator/InvitUser.asp?cid={cid}&serid=21&action=inv", ""},
      {"21", "GET", "/operator/TranstoUser.asp?cid={cid}&serid=22&action=inv", ""},
      {"21", "POST", "/api/conversation/end", "cid={cid}"},
      {"22", "GET", "/operator/GetUserMsg.asp?cid={cid}", ""},
      // The member itself may not bring in someone of another company, or
      // nobody.
      {"5", "GET", "/operator/InvitUser.asp?cid={cid}&serid=21&action=inv", ""},
      {"5", "GET", "/operator/InvitUser.asp?cid={cid}&serid=999&action=inv", ""},
      {"5", "GET", "/operator/InvitUser.asp?cid={cid}&serid=0&action=inv", ""},
      {"5", "GET", "/operator/InvitUser.asp?cid={cid}&action=inv", ""},
      {"5", "GET", "/operator/TranstoUser.asp?cid={cid}&serid=22&action=inv", ""},
      {"5", "GET", "/operator/TranstoUser.asp?cid={cid}&serid=12%20or%201=1&action=inv", ""},
      // Proactive invitations need the list right.
      {"7", "POST", "/api/operator/invite-visitor", "cstLabel=20240520094005468"},
      {"7", "GET", "/operator/cstReWin.asp?cstLabel=20240520094005468&companyid=1", ""},
      {"23", "POST", "/api/operator/invite-visitor", "cstLabel=20240520094005468"},
      // Another company's visitor is nobody on this operator's site.
      {"21", "POST", "/api/operator/invite-visitor", "cstLabel=20240520094005468", 404},
  };
  auto stranger = site_->Client();
  site_->Visit(*stranger);
  ASSERT_NE(ServedSite::OpenChat(*stranger), cid_);
  std::map<std::string, std::pair<std::unique_ptr<LoopbackHttpClient>, std::string>> operators;
  for (const char* id : {"5", "7", "12", "21", "22", "23"}) {
    auto client = site_->Client();
    std::string token = std::string(id) == "5" ? chief_token_ : AttackedSite::Login(*client, std::stoi(id));
    operators[id] = {std::string(id) == "5" ? std::move(chief_) : std::move(client), token};
  }
  const std::string before = Fingerprint();
  const size_t held_before = site_->site().site().long_poll().held();
  for (const Attempt& attempt : attempts) {
    const bool is_visitor = std::string(attempt.who) == "visitor";
    LoopbackHttpClient& client = is_visitor ? *stranger : *operators[attempt.who].first;
    const std::string token = is_visitor ? "" : operators[attempt.who].second;
    std::string target = Fill(attempt.target, Cid());
    HttpReply reply;
    if (std::string(attempt.method) == "GET") {
      if (!is_visitor) target += "&token=" + token;
      reply = client.Get(target);
    } else {
      reply = client.Post(target, Fill(attempt.body, Cid()), {{"X-Zelto-Token", token}});
    }
    const std::string what = std::string(attempt.who) + " " + target;
    EXPECT_EQ(reply.status, attempt.status) << what << ": " << reply.body;
    EXPECT_EQ(reply.Header("x-zelto-hresult"), "") << what << ": the component ran";
    EXPECT_EQ(Fingerprint(), before) << what;
    EXPECT_EQ(site_->site().site().long_poll().held(), held_before) << what << ": a poll held";
  }
  // The ids did not move: the next chat is the next id.
  auto late = site_->Client();
  const int next = site_->VisitorWithChat(*late);
  EXPECT_GT(next, cid_);
  EXPECT_LT(next, cid_ + 3);
}

TEST_P(ServeAuthorizationTest, MembersAndTheirSupervisorAreServed) {
  // The visitor and its operator talk.
  EXPECT_NE(visitor_->Get("/visitor/GetClientMsg.asp?cid=" + Cid()).status, 403);
  EXPECT_EQ(chief_->Get("/operator/GetUserMsg.asp?cid=" + Cid()).status, 200);
  EXPECT_EQ(chief_->Get("/operator/DoUserMsg.asp?cid=" + Cid() +
                        "&action=sub&msgContent=hello&token=" + chief_token_)
                .status,
            200);
  // A supervisor of the company reads without joining.
  auto watcher = site_->Client();
  const std::string watcher_token = AttackedSite::Login(*watcher, 23);
  const HttpReply read = watcher->Get("/operator/GetUserMsg.asp?cid=" + Cid());
  EXPECT_EQ(read.status, 200);
  EXPECT_NE(read.body.find("hello"), std::string::npos) << read.body;
  // The member invites a colleague, who may then post.
  auto colleague = site_->Client();
  const std::string colleague_token = AttackedSite::Login(*colleague, 12);
  EXPECT_EQ(chief_->Get("/operator/InvitUser.asp?cid=" + Cid() + "&serid=12&action=inv&token=" +
                        chief_token_)
                .status,
            200);
  EXPECT_EQ(site_->Count("C_members", "cid=" + Cid() + " and serid=12 and IsChat=1"), 1);
  EXPECT_EQ(colleague->Get("/operator/DoUserMsg.asp?cid=" + Cid() +
                           "&action=sub&msgContent=joined&token=" + colleague_token)
                .status,
            200);
  // A transfer hands it over: the one who left is refused at once.
  EXPECT_EQ(colleague->Get("/operator/TranstoUser.asp?cid=" + Cid() +
                           "&serid=7&action=inv&token=" + colleague_token)
                .status,
            200);
  EXPECT_EQ(colleague->Get("/operator/GetUserMsg.asp?cid=" + Cid()).status, 403);
  // The supervisor ends it from the monitor.
  EXPECT_EQ(watcher->Post("/api/conversation/end", "cid=" + Cid(),
                          {{"X-Zelto-Token", watcher_token}})
                .status,
            200);
  EXPECT_EQ(site_->Count("conversation", "cid=" + Cid()), 0);
}

TEST_P(ServeAuthorizationTest, ARemovedMemberPollsForSecondsAtMost) {
  auto clerk = site_->Client();
  AttackedSite::Login(*clerk, 7);
  site_->Execute("insert into C_members (cid, serid, cstlabel, IsChat) values (" + Cid() +
                 ", 7, '', 1)");
  ASSERT_EQ(clerk->Get("/operator/GetUserMsg.asp?cid=" + Cid()).status, 200);
  // Removed behind the host's back (as another host without notices would).
  site_->Execute("delete from C_members where cid=" + Cid() + " and serid=7");
  EXPECT_EQ(clerk->Get("/operator/GetUserMsg.asp?cid=" + Cid()).status, 200)
      << "remembered for a while";
  site_->clock().Advance(seconds(5));
  EXPECT_EQ(clerk->Get("/operator/GetUserMsg.asp?cid=" + Cid()).status, 403);
  // Ended through the host: its visitor's window may still read it; nobody
  // may post any more.
  EXPECT_EQ(chief_->Post("/api/conversation/end", "cid=" + Cid(),
                         {{"X-Zelto-Token", chief_token_}})
                .status,
            200);
  EXPECT_EQ(chief_->Get("/operator/DoUserMsg.asp?cid=" + Cid() +
                        "&action=sub&msgContent=late&token=" + chief_token_)
                .status,
            403);
}

ZELTO_ON_EVERY_ENGINE(ServeAuthorizationTest);

}  // namespace
}  // namespace zelto::testing
