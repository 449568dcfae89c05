// Two companies on one host, each with its own site carrying the snippet,
// on both engines: a visitor belongs to the company whose listed site they
// came from. Their visit, chat, queue and offline message are that
// company's, and only that company's console lists them; a site naming a
// company it is not listed for gets nothing and records nothing.
#include <gtest/gtest.h>

#include "tests/support/host/attacked_site.h"
#include "tests/support/served_site.h"
#include "tests/support/wait_until.h"

namespace zelto::testing {
namespace {

struct Company {
  int id;
  const char* origin;
  int op;  // its operator, logged in
};
constexpr Company kFirst{1, "https://first.example", 5};
constexpr Company kSecond{2, "https://second.example", 21};

// A visitor on a company's site: the snippet's calls, with the visitor's
// signed label once the visit gave one.
struct SiteVisitor {
  std::unique_ptr<LoopbackHttpClient> client;
  Company company;
  std::string signed_label, label;

  HttpReply Post(const std::string& route, const std::string& body,
                 const std::string& origin = "") {
    LoopbackHttpClient::Headers headers = {{"Origin", origin.empty() ? company.origin : origin},
                                           {"Sec-Fetch-Site", "cross-site"}};
    if (!signed_label.empty()) headers.emplace_back("X-Zelto-Visitor", signed_label);
    return client->Post(route + "?company=" + std::to_string(company.id), body, headers);
  }
  HttpReply Visit() {
    return Post("/api/visitor/visit", "page=" + std::string(company.origin) + "%2Fprices");
  }
  // The chat's state ("running", "queued", "offline") and id.
  std::pair<std::string, long long> OpenChat() {
    const HttpReply reply = Post("/api/visitor/chat", "");
    EXPECT_EQ(reply.status, 200) << reply.body;
    return {JsonText(reply.body, "state"), JsonNumber(reply.body, "cid")};
  }
};

class ServeCompaniesTest : public ::testing::TestWithParam<TestEngine> {
 public:
  static void SetUpTestSuite() { AttackedSite::StartCluster(); }
  static void TearDownTestSuite() { AttackedSite::StopCluster(); }

 protected:
  void SetUp() override {
    site_ = std::make_unique<AttackedSite>(GetParam());
    if (!site_->available()) GTEST_SKIP() << site_->unavailable_reason();
    for (const Company& c : {kFirst, kSecond}) {
      site_->Execute("insert into companyOrigin (companyId, origin) values (" +
                     std::to_string(c.id) + ", '" + c.origin + "')");
      consoles_.push_back(site_->Client());
      tokens_.push_back(AttackedSite::Login(*consoles_.back(), c.op));
    }
  }

  SiteVisitor Arrive(const Company& company) {
    SiteVisitor visitor{site_->Client(), company, "", ""};
    const HttpReply reply = visitor.Visit();
    EXPECT_EQ(reply.status, 200) << reply.body;
    visitor.signed_label = JsonText(reply.body, "visitor");
    visitor.label = JsonText(reply.body, "label");
    EXPECT_FALSE(visitor.label.empty());
    return visitor;
  }
  // The visitor list of the company's console, as its operator reads it.
  std::string ConsoleList(const Company& company) {
    LoopbackHttpClient& console = *consoles_[company.id == kFirst.id ? 0 : 1];
    const HttpReply list =
        console.Get("/operator/GetClientList.asp?companyid=" + std::to_string(company.id));
    EXPECT_EQ(list.Header("x-zelto-hresult"), "0x00000000") << company.id;
    return list.body;
  }
  std::string Where(const std::string& column, const std::string& value) {
    return column + "='" + value + "'";
  }
  // Every table a visitor's call may write to.
  std::string Fingerprint() {
    std::string counts;
    for (const char* table :
         {"onlineCst", "cstTrack", "conversation", "C_members", "chatState", "offlineMessage"})
      counts += std::to_string(site_->Count(table)) + "/";
    return counts;
  }

  std::unique_ptr<AttackedSite> site_;
  std::vector<std::unique_ptr<LoopbackHttpClient>> consoles_;  // company 1's, company 2's
  std::vector<std::string> tokens_;
};

TEST_P(ServeCompaniesTest, EachCompanysVisitorsChatWithItsOwnOperators) {
  SiteVisitor first = Arrive(kFirst), second = Arrive(kSecond);
  EXPECT_EQ(site_->Scalar("select CompanyID from onlineCst where " + Where("cstLabel", first.label)),
            "1");
  EXPECT_EQ(
      site_->Scalar("select CompanyID from onlineCst where " + Where("cstLabel", second.label)),
      "2");

  const std::string list1 = ConsoleList(kFirst), list2 = ConsoleList(kSecond);
  EXPECT_NE(list1.find(first.label), std::string::npos);
  EXPECT_EQ(list1.find(second.label), std::string::npos);
  EXPECT_NE(list2.find(second.label), std::string::npos);
  EXPECT_EQ(list2.find(first.label), std::string::npos);

  for (SiteVisitor* visitor : {&first, &second}) {
    const auto [state, cid] = visitor->OpenChat();
    EXPECT_EQ(state, "running") << visitor->company.id;
    const std::string chat = "cid=" + std::to_string(cid);
    EXPECT_EQ(site_->Count("C_members", chat + " and serid=" + std::to_string(visitor->company.op)),
              1)
        << "the chat goes to its company's operator";
    EXPECT_EQ(site_->Count("C_members", chat + " and serid<>0"), 1);
    EXPECT_EQ(site_->Scalar("select companyId from chatState where " + chat),
              std::to_string(visitor->company.id));
  }
}

TEST_P(ServeCompaniesTest, AQueueHoldsOnlyItsCompanysChats) {
  site_->Execute("insert into chatSetting (companyId, maxChats) values (2, 1)");
  SiteVisitor second_a = Arrive(kSecond), second_b = Arrive(kSecond);
  SiteVisitor first = Arrive(kFirst);
  EXPECT_EQ(second_a.OpenChat().first, "running");
  const auto [queued_state, queued_cid] = second_b.OpenChat();
  EXPECT_EQ(queued_state, "queued");
  // Company 1's operator has room and takes company 1's visitor at once.
  EXPECT_EQ(first.OpenChat().first, "running");
  EXPECT_EQ(site_->Count("chatState", "state='queued'"), 1);
  EXPECT_EQ(site_->Count("chatState", "state='queued' and companyId=2"), 1);

  // Company 2's operator ends its chat: the queued one takes the room.
  const std::string running =
      site_->Scalar("select cid from chatState where state='running' and companyId=2");
  const HttpReply end =
      consoles_[1]->Post("/api/conversation/end", "cid=" + running, {{"X-Zelto-Token", tokens_[1]}});
  EXPECT_EQ(end.status, 200) << end.body;
  EXPECT_EQ(site_->Scalar("select state from chatState where cid=" + std::to_string(queued_cid)),
            "running");
  EXPECT_EQ(site_->Count("C_members",
                         "cid=" + std::to_string(queued_cid) + " and serid=" +
                             std::to_string(kSecond.op)),
            1);
}

TEST_P(ServeCompaniesTest, AnOfflineMessageLandsInItsCompany) {
  SiteVisitor second = Arrive(kSecond);
  const HttpReply left = second.Post("/api/visitor/offline-message",
                                     "name=Ann&contact=ann%40example.com&text=call+me");
  ASSERT_EQ(left.status, 200) << left.body;
  EXPECT_EQ(site_->Scalar("select companyId from offlineMessage where " +
                          Where("cstLabel", second.label)),
            "2");
}

TEST_P(ServeCompaniesTest, ASiteNamingAnotherCompanyRecordsNothing) {
  SiteVisitor first = Arrive(kFirst);
  const std::string before = Fingerprint();
  // The same visitor on company 1's site, claiming company 2.
  SiteVisitor posing{site_->Client(), Company{2, kFirst.origin, kSecond.op}, first.signed_label,
                     first.label};
  for (const HttpReply& reply :
       {posing.Visit(), posing.Post("/api/visitor/chat", ""),
        posing.Post("/api/visitor/offline-message", "name=x&contact=y&text=z")}) {
    EXPECT_EQ(reply.status, 403) << reply.body;
    EXPECT_EQ(reply.Header("access-control-allow-origin"), "");
  }
  // Company 2's listed site with company 1's visitor.
  SiteVisitor borrowed{site_->Client(), kSecond, first.signed_label, first.label};
  for (const HttpReply& reply : {borrowed.Post("/api/visitor/chat", ""),
                                 borrowed.Post("/api/visitor/offline-message", "name=x&contact=y&text=z")})
    EXPECT_EQ(reply.status, 403) << reply.body;
  // A company that does not exist, from a listed site.
  SiteVisitor nowhere{site_->Client(), Company{9, kSecond.origin, 0}, "", ""};
  EXPECT_EQ(nowhere.Visit().status, 403);
  EXPECT_EQ(Fingerprint(), before);
  EXPECT_EQ(ConsoleList(kSecond).find(first.label), std::string::npos);
}

TEST_P(ServeCompaniesTest, AVisitorWhoseSessionEndedComesBackToTheChatPagesCompany) {
  struct Case {
    const char* named;    // X-Zelto-Company of the chat pages
    const char* company;  // the visitor's row when they come back
  } cases[] = {{"2", "2"}, {"9", "1"} /* lists no site */, {"", "1"}};
  std::vector<SiteVisitor> visitors;
  for (size_t i = 0; i < std::size(cases); ++i) visitors.push_back(Arrive(kSecond));
  site_->clock().Advance(std::chrono::minutes(21));
  for (const SiteVisitor& v : visitors)
    ASSERT_TRUE(WaitUntil([&] {
      site_->Client()->Get("/healthz");
      return site_->Count("onlineCst", Where("cstLabel", v.label)) == 0;
    })) << "the visitor's session ended";
  for (size_t i = 0; i < std::size(cases); ++i) {
    // The chat frame on the host's own origin, the visitor's session gone.
    LoopbackHttpClient::Headers headers = {{"X-Zelto-Visitor", visitors[i].signed_label}};
    if (*cases[i].named) headers.emplace_back("X-Zelto-Company", cases[i].named);
    EXPECT_EQ(site_->Client()->Get("/api/visitor/invitation", headers).status, 200);
    EXPECT_EQ(site_->Scalar("select CompanyID from onlineCst where " +
                            Where("cstLabel", visitors[i].label)),
              cases[i].company)
        << cases[i].named;
  }
}

ZELTO_ON_EVERY_ENGINE(ServeCompaniesTest);

}  // namespace
}  // namespace zelto::testing
