// A visitor's chat through the routes of `zelto serve`, as the pages drive
// it: the visit, the chat opening, messages both ways, a proactive
// invitation, attachments, and the end of the conversation.
#include <gtest/gtest.h>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

class ServeChatFlowTest : public ::testing::Test {
 protected:
  ServedSite site_;
};

TEST_F(ServeChatFlowTest, VisitorAndOperatorTalk) {
  auto op = site_.Client();
  const std::string token = ServedSite::Login(*op, 12, "demo12");
  auto visitor = site_.Client();
  const std::string label = site_.Visit(*visitor);

  // The logged-in operator (12) is chosen over the first of the company (5).
  const int cid = ServedSite::OpenChat(*visitor);
  ASSERT_GT(cid, 1);  // above every id in use
  EXPECT_EQ(ServedSite::OpenChat(*visitor), cid) << "a second open joins the same chat";
  EXPECT_EQ(
      site_.db().Scalar("chat", "select serid from conversation where cid=" + std::to_string(cid)),
      "12");
  EXPECT_EQ(
      site_.db().Scalar("chat", "select beChatting from onlineCst where cstLabel='" + label + "'"),
      "1");
  const std::string c = std::to_string(cid);
  EXPECT_EQ(visitor->Post("/api/visitor/chat-opened", "cid=" + c).status, 200);
  EXPECT_EQ(visitor->Post("/api/visitor/chat-opened", "cid=" + c).status, 200);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from preMsg where conid=" + c), "1");
  EXPECT_EQ(visitor->Post("/api/visitor/chat-opened", "cid=1").status, 403);

  const HttpReply conversations = op->Get("/api/operator/conversations");
  EXPECT_NE(conversations.body.find("\"cid\":" + c + ",\"label\":\"" + label + "\""),
            std::string::npos)
      << conversations.body;

  // %u escapes reach the component unchanged and are decoded there.
  const HttpReply echo =
      visitor->Get("/visitor/DoClientMsg.asp?cid=" + c + "&action=sub&msgContent=%u4F60%u597D");
  EXPECT_EQ(echo.status, 200);
  EXPECT_NE(echo.body.find("你好"), std::string::npos);
  const HttpReply seen = op->Get("/operator/GetUserMsg.asp?cid=" + c);
  EXPECT_NE(seen.body.find("你好"), std::string::npos) << seen.body;
  EXPECT_EQ(op->Get("/operator/GetUserMsg.asp?cid=" + c).body, "") << "read once";

  op->Get("/operator/DoUserMsg.asp?cid=" + c + "&action=sub&msgContent=welcome&token=" + token);
  EXPECT_NE(visitor->Get("/visitor/GetClientMsg.asp?cid=" + c).body.find("welcome"),
            std::string::npos);
  // The chat window is open: operator messages are no invitation messages.
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from inviteMsg where conid=" + c), "0");

  // Ending from the visitor's window.
  EXPECT_EQ(visitor->Post("/api/conversation/end", "cid=1").status, 403);
  EXPECT_EQ(visitor->Post("/api/conversation/end", "cid=" + c).status, 200);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from conversation where cid=" + c), "0");
  EXPECT_EQ(
      site_.db().Scalar("chat", "select count(*) from C_members where cid=" + c + " and IsChat<>0"),
      "0");
  EXPECT_EQ(
      site_.db().Scalar("chat", "select beChatting from onlineCst where cstLabel='" + label + "'"),
      "0");
  EXPECT_EQ(op->Get("/api/operator/conversations").body, "[]");
}

TEST_F(ServeChatFlowTest, ProactiveInvitationAcceptedAndRefused) {
  auto op = site_.Client();
  const std::string token = ServedSite::Login(*op, 5, "demo5");
  for (const bool accept : {true, false}) {
    auto visitor = site_.Client();
    const std::string label = site_.Visit(*visitor);
    EXPECT_EQ(visitor->Get("/api/visitor/invitation").body,
              "{\"invited\":0,\"cid\":0,\"messages\":[]}");

    const HttpReply taken =
        op->Get("/operator/cstReWin.asp?cstLabel=" + label + "&companyid=1&token=" + token);
    ASSERT_EQ(taken.status, 302);
    const std::string location = taken.Header("location");
    ASSERT_EQ(location.rfind("/operator/chat.html?cid=", 0), 0u) << location;
    const std::string c = location.substr(location.find('=') + 1);
    // Until the visitor's window opens, operator messages are invitations.
    op->Get("/operator/DoUserMsg.asp?cid=" + c +
            "&action=sub&msgContent=%u8BF7%u95EE<b>&token=" + token);
    const HttpReply invitation = visitor->Get("/api/visitor/invitation");
    EXPECT_EQ(JsonNumber(invitation.body, "invited"), 1) << invitation.body;
    EXPECT_EQ(std::to_string(JsonNumber(invitation.body, "cid")), c);
    EXPECT_NE(invitation.body.find("\"messages\":[\"请问\\u003cb\\u003e\"]"), std::string::npos)
        << invitation.body;

    const HttpReply answer =
        visitor->Post("/api/visitor/invitation", accept ? "accept=1" : "accept=0");
    EXPECT_EQ(answer.status, 200) << answer.body;
    const std::string state =
        site_.db().Scalar("chat", "select Invited from onlineCst where cstLabel='" + label + "'");
    EXPECT_EQ(state, accept ? "2" : "3");
    EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from conversation where cid=" + c),
              accept ? "1" : "0");
    // Answered once only.
    EXPECT_EQ(visitor->Post("/api/visitor/invitation", "accept=1").status, 409);
  }
  // Visitors of another company, or none at all, cannot be taken.
  site_.db().Execute("chat", "insert into onlineCst (cstLabel, CompanyID) values ('elsewhere', 2)");
  EXPECT_EQ(op->Get("/operator/cstReWin.asp?cstLabel=elsewhere&companyid=2&token=" + token).status,
            404);
  EXPECT_EQ(op->Post("/api/operator/invite-visitor", "cstLabel=nobody", {{"X-Zelto-Token", token}})
                .status,
            404);
}

TEST_F(ServeChatFlowTest, AttachmentsAreStoredUnderSafeNames) {
  auto visitor = site_.Client();
  site_.Visit(*visitor);
  const struct {
    std::string name;
    std::string stored_suffix;
  } cases[] = {
      {"photo.png", "-photo.png"},
      {"..%2F..%2Fchat.db", "-chat.db"},
      {"%2Fetc%2Fpasswd", "-passwd"},
      {".htaccess", "-htaccess"},
      {"%E6%8A%A5%E5%91%8A%20v1.txt", "-_______v1.txt"},
      {"", "-file"},
  };
  for (const auto& c : cases) {
    const HttpReply reply = visitor->Post("/api/upload?name=" + c.name, "content of " + c.name,
                                          {{"Content-Type", "application/octet-stream"}});
    ASSERT_EQ(reply.status, 200) << c.name << " " << reply.body;
    const std::string stored = JsonText(reply.body, "name");
    EXPECT_TRUE(stored.size() > c.stored_suffix.size() &&
                stored.compare(stored.size() - c.stored_suffix.size(), std::string::npos,
                               c.stored_suffix) == 0)
        << c.name << " -> " << stored;
    EXPECT_EQ(stored.find('/'), std::string::npos);
    // The message lists link attachments relative to the chat windows.
    for (const std::string& prefix : {"/files/", "/visitor/files/", "/operator/files/"}) {
      const HttpReply file = visitor->Get(prefix + stored);
      EXPECT_EQ(file.status, 200) << prefix + stored;
      EXPECT_EQ(file.body, "content of " + c.name);
    }
  }
  // Only images are shown inline; everything else downloads.
  const HttpReply png =
      visitor->Get("/files/" + JsonText(visitor
                                            ->Post("/api/upload?name=a.png", "x",
                                                   {{"Content-Type", "application/octet-stream"}})
                                            .body,
                                        "name"));
  EXPECT_EQ(png.Header("content-type"), "image/png");
  const HttpReply html =
      visitor->Get("/files/" + JsonText(visitor
                                            ->Post("/api/upload?name=a.html", "<script>",
                                                   {{"Content-Type", "application/octet-stream"}})
                                            .body,
                                        "name"));
  EXPECT_EQ(html.Header("content-type"), "application/octet-stream");
  EXPECT_EQ(html.Header("content-disposition"), "attachment");
  EXPECT_EQ(visitor->Get("/files/..%2Fchat.db").status, 404);
  EXPECT_EQ(site_.Client()->Post("/api/upload?name=a.txt", "x").status, 403);
}

}  // namespace
}  // namespace zelto::testing
