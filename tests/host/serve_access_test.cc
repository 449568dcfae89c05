// Who may run what on `zelto serve`: operator pages need a login, operator
// actions the session's cross-site token, and the operator's id comes from
// the session only, whatever the request says.
#include <gtest/gtest.h>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

class ServeAccessTest : public ::testing::Test {
 protected:
  ServedSite site_;
};

TEST_F(ServeAccessTest, OperatorPagesNeedALogin) {
  auto anonymous = site_.Client();
  auto visitor = site_.Client();
  site_.Visit(*visitor);
  for (const char* target :
       {"/operator/GetUserMsg.asp?cid=1", "/operator/DoUserMsg.asp?cid=1&action=sub",
        "/operator/InvitUser.asp?cid=1&serid=12&action=inv",
        "/operator/TranstoUser.asp?cid=1&serid=12&action=inv",
        "/operator/GetClientList.asp?companyid=1", "/operator/GetMonitorList.asp",
        "/operator/CheckDomain.asp?domains=a;b", "/operator/cstReWin.asp?cstLabel=x&companyid=1",
        "/api/me", "/api/operators", "/api/operator/conversations"}) {
    EXPECT_EQ(anonymous->Get(target).status, 401) << target;
    EXPECT_EQ(visitor->Get(target).status, 401) << target;
  }
}

TEST_F(ServeAccessTest, VisitorPagesNeedTheVisitorsOwnSession) {
  // Without a visitor session the query's cstlabel would let anyone read or
  // post as any visitor; the host refuses before the component runs.
  auto stranger = site_.Client();
  for (const char* target : {"/visitor/GetClientMsg.asp?cid=1&cstlabel=20240520091502731",
                             "/visitor/DoClientMsg.asp?cid=1&action=sub&msgContent=x&"
                             "cstlabel=20240520091502731"}) {
    EXPECT_EQ(stranger->Get(target).status, 403) << target;
  }
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where msgContent='x'"), "0");
  EXPECT_EQ(stranger->Post("/api/visitor/chat", "").status, 403);
}

TEST_F(ServeAccessTest, OperatorActionsNeedTheSessionsToken) {
  auto op = site_.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  auto other = site_.Client();
  const std::string other_token = ServedSite::Login(*other, 12, "demo12");
  ASSERT_FALSE(token.empty());
  ASSERT_NE(token, other_token);

  const std::string actions[] = {
      "/operator/DoUserMsg.asp?cid=1&action=sub&msgContent=hello",
      "/operator/InvitUser.asp?cid=1&serid=7&action=inv",
      "/operator/TranstoUser.asp?cid=1&serid=7&action=inv",
      "/operator/CheckDomain.asp?domains=",
  };
  for (const std::string& action : actions) {
    for (const std::string& suffix :
         {std::string(), std::string("&token="), "&token=" + other_token, "&token=" + token + "0",
          "&token=" + token.substr(1)}) {
      EXPECT_EQ(op->Get(action + suffix).status, 403) << action + suffix;
    }
  }
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where msgContent='hello'"), "0");
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from C_members where serid=7"), "0");

  const HttpReply posted = op->Get(actions[0] + "&token=" + token);
  EXPECT_EQ(posted.status, 200);
  EXPECT_EQ(posted.Header("x-zelto-hresult"), "0x00000000");
  EXPECT_NE(posted.body.find("window.top.fresh.chatmsglist.AddMsg('"), std::string::npos);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where msgContent='hello'"), "1");
  const HttpReply check = op->Get(actions[3] + "&token=" + token);
  EXPECT_EQ(check.status, 200);
  EXPECT_EQ(check.Header("content-type"), "application/json");
  EXPECT_EQ(check.body, "{\"result\":1}");  // one address: nothing differs

  // JSON actions take the token in a header only.
  EXPECT_EQ(op->Post("/api/conversation/end", "cid=1&token=" + token).status, 403);
  EXPECT_EQ(op->Post("/api/conversation/end", "cid=1", {{"X-Zelto-Token", other_token}}).status,
            403);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from conversation where cid=1"), "1");
}

TEST_F(ServeAccessTest, OperatorIdComesFromTheSessionOnly) {
  // Operator 7 has no rights to the visitor list or the monitor; 5 has both.
  auto clerk = site_.Client();
  const std::string token = ServedSite::Login(*clerk, 7, "demo7");
  for (const char* target : {"/operator/GetClientList.asp?companyid=1&userid=5",
                             "/operator/GetMonitorList.asp?userid=5&id=5&operator_id=5"}) {
    const HttpReply reply = clerk->Get(target);
    EXPECT_EQ(reply.status, 200) << target;
    EXPECT_EQ(reply.Header("x-zelto-hresult"), "0x00000001") << target;
    EXPECT_EQ(reply.body, "") << target;
  }
  auto chief = site_.Client();
  ServedSite::Login(*chief, 5, "demo5");
  const HttpReply list = chief->Get("/operator/GetClientList.asp?companyid=1");
  EXPECT_EQ(list.Header("x-zelto-hresult"), "0x00000000");
  EXPECT_NE(list.body.find("document.all(\"show\").innerHTML="), std::string::npos);
  EXPECT_NE(list.body.find("20240520094005468"), std::string::npos);
  EXPECT_NE(chief->Get("/operator/GetMonitorList.asp").body.find("viewcnv('1')"),
            std::string::npos);

  // A message posted by 7 with someone else's id in the query is 7's (7
  // joins the conversation first: only members post).
  site_.db().Execute("chat", "insert into C_members (cid, serid, cstlabel, IsChat) values (1, 7, '', 1)");
  clerk->Get("/operator/DoUserMsg.asp?cid=1&action=sub&msgContent=mine&userid=5&token=" + token);
  EXPECT_EQ(site_.db().Scalar("chat", "select userID_send from msg where msgContent='mine'"), "7");
}

TEST_F(ServeAccessTest, CrossSiteNavigationCannotTakeAVisitor) {
  auto op = site_.Client();
  ServedSite::Login(*op, 5, "demo5");
  const HttpReply forged = op->Get("/operator/cstReWin.asp?cstLabel=20240520094005468&companyid=1",
                                   {{"Sec-Fetch-Site", "cross-site"}});
  EXPECT_EQ(forged.status, 403);
  EXPECT_EQ(
      site_.db().Scalar("chat", "select Invited from onlineCst where cstLabel='20240520094005468'"),
      "0");
}

}  // namespace
}  // namespace zelto::testing
