#include "chat/user_post.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::EchoTime;
using zelto::testing::ScenePage;

class UserPostTest : public ChatScene {
 protected:
  zelto::testing::SceneResult Post(LONG userid, const std::string& query) {
    return Run(ScenePage{query}, [userid](PageContext& page) { return DoUserMsg(page, userid); });
  }
};

TEST_P(UserPostTest, OperatorIdMustBeAboveZero) {
  for (LONG id : {0, -5}) {
    const auto result = Post(id, "cid=1&action=sub&msgContent=x");
    EXPECT_EQ(result.hr, S_FALSE) << id;
    EXPECT_EQ(result.body, "") << id;
  }
  EXPECT_EQ(Count("msg"), 0u);
  EXPECT_EQ(Count("inviteMsg"), 0u);
}

TEST_P(UserPostTest, StoresTheOperatorsRowAndEchoesWithItsOwnAttachmentEnding) {
  Execute("insert into preMsg(cstlabel,conid) values('V1001',1)");
  const auto result = Post(5, "cid=1&action=sub&msgContent=%u4F60%u597D'&adjunct=a.png");
  ASSERT_EQ(result.hr, S_OK);
  const std::string t = EchoTime(result.body);
  EXPECT_EQ(result.body,
            "window.top.fresh.chatmsglist.AddMsg('<div align=center><table width=98%  border=0 "
            "cellspacing=0 cellpadding=0>\t\t<tr>\t\t<td align=left><font color=#990000>我 说："
            "</font>&nbsp;&nbsp;<font color=#6666FF>(" + t + ")</font></td>\t\t</tr>"
            "  <tr>  \t<td align=right><table width=97% border=0 cellpadding=0 cellspacing=0>"
            "<tr><td>你好&#39;</td></tr></table></td>  </tr>"
            "  <tr><td align=right><table width=97% border=0 cellpadding=0 cellspacing=0>"
            "<tr><td><a href=files/a.png target=_blank>a.png</a></td></tr></table></td></tr>"
            "</table></div>');");
  const auto rows = Rows("select * from msg");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  EXPECT_EQ(row.at("IP"), "10.1.2.3");
  EXPECT_EQ(row.at("userID_send"), "5");
  EXPECT_EQ(row.at("msgApp"), "a.png");
  EXPECT_EQ(row.at("msgContent"), "你好'");  // quotes stored as given
  EXPECT_EQ(row.at("msgTime"), t);
  EXPECT_EQ(row.at("conid"), "1");
  EXPECT_EQ(row.at("readFlag"), "");
  EXPECT_EQ(row.at("cstLabel"), "");
  EXPECT_EQ(row.at("nickName"), "");
  EXPECT_EQ(row.at("issystem"), "0");
  EXPECT_EQ(row.at("isDeleted"), "0");
}

TEST_P(UserPostTest, CopiesToInviteMsgUntilTheVisitorHasAPreMsgRow) {
  ASSERT_EQ(Post(5, "cid=1&action=sub&msgContent=first").hr, S_OK);
  ASSERT_EQ(Post(5, "cid=1&action=sub&msgContent=").hr, S_OK);
  auto invites = Rows("select * from inviteMsg order by content desc");
  ASSERT_EQ(invites.size(), 2u);
  const auto messages = Rows("select * from msg where msgContent='first'");
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(invites[0].at("conid"), "1");
  EXPECT_EQ(invites[0].at("sendid"), "5");
  EXPECT_EQ(invites[0].at("cstlabel"), "V1001");
  EXPECT_EQ(invites[0].at("content"), "first");
  EXPECT_EQ(invites[0].at("createTime"), messages[0].at("msgTime"));
  EXPECT_EQ(invites[0].at("IsInvite"), "0");
  EXPECT_EQ(invites[1].at("content"), "");

  Execute("insert into preMsg(cstlabel,conid) values('V1001',1)");
  ASSERT_EQ(Post(5, "cid=1&action=sub&msgContent=later").hr, S_OK);
  EXPECT_EQ(Count("inviteMsg"), 2u);
  EXPECT_EQ(Count("msg"), 3u);
}

TEST_P(UserPostTest, ConversationVisitorIsTheFirstVisitorRowOnly) {
  Execute(
      "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values"
      "(2,5,'','2024-01-01 10:00:00',1),(2,0,'VA','2024-01-01 10:00:00',1),"
      "(2,0,'VB','2024-01-01 10:00:00',1),(3,5,'','2024-01-01 10:00:00',1)");
  ASSERT_EQ(Post(5, "cid=2&action=sub&msgContent=x").hr, S_OK);
  ASSERT_EQ(Post(5, "cid=3&action=sub&msgContent=y").hr, S_OK);  // operators only
  const auto invites = Rows("select cstlabel, conid from inviteMsg");
  ASSERT_EQ(invites.size(), 1u);
  EXPECT_EQ(invites[0].at("cstlabel"), "VA");
  EXPECT_EQ(Count("msg"), 2u);
}

TEST_P(UserPostTest, NothingHappensWithoutSubOrWithABadConversation) {
  struct Case {
    const char* query;
    HRESULT hr;
  };
  const Case cases[] = {{"cid=1&msgContent=x", S_OK},
                        {"cid=1&action=inv&msgContent=x", S_OK},
                        {"cid=&action=sub&msgContent=x", S_FALSE},
                        {"cid=1)--&action=sub&msgContent=x", S_FALSE}};
  for (const Case& c : cases) {
    const auto result = Post(5, c.query);
    EXPECT_EQ(result.hr, c.hr) << c.query;
    EXPECT_EQ(result.body, "") << c.query;
  }
  EXPECT_EQ(Count("msg"), 0u);
  EXPECT_EQ(Count("inviteMsg"), 0u);
}

TEST_P(UserPostTest, FailedMessageLeavesNoInvitationAndNoEcho) {
  RefuseInserts("msg");
  const auto result = Post(5, "cid=1&action=sub&msgContent=lost");
  EXPECT_EQ(result.hr, S_FALSE);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(Count("inviteMsg"), 0u);
}

ZELTO_ON_EVERY_ENGINE(UserPostTest);

}  // namespace
