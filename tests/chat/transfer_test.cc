#include "chat/transfer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::ScenePage;

const char kAlreadyMember[] = "<script language='javascript'>alert('此客服已经在会话中');</script>";
const char kFailed[] = "<script language='javascript'>alert('会话转接失败');</script>";

class TransferTest : public ChatScene {
 protected:
  zelto::testing::SceneResult Transfer(LONG userid, const std::string& query) {
    return Run(ScenePage{query},
               [userid](PageContext& page) { return TranstoUser(page, userid); });
  }
  // Members of conversation 1 as "serid/cstlabel/IsChat" lines.
  std::string Members() {
    std::string list;
    for (const auto& row : Rows("select * from C_members where cid=1 order by serid, cstlabel")) {
      list += row.at("serid") + "/" + row.at("cstlabel") + "/" + row.at("IsChat") + "\n";
    }
    return list;
  }
};

TEST_P(TransferTest, MovesTheConversationAndTellsEveryone) {
  Execute("insert into C_members(cid,serid,cstlabel,addtime,IsChat) values"
          "(1,5,'','2024-01-01 11:00:00',0),(2,5,'','2024-01-01 11:00:00',1)");
  const auto result = Transfer(5, "cid=1&action=inv&serid=7");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body,
            "<script language='javascript'>alert('已经将会话转接给张伟');"
            "window.opener.top.close();window.close();</script>");
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(Members(), "0/V1001/1\n7//1\n");
  EXPECT_EQ(Count("C_members where cid=2 and serid=5"), 1u);  // other conversations stay

  const auto rows = Rows("select * from msg");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  EXPECT_EQ(row.at("msgContent"), "王芳已经将会话转接给张伟");
  EXPECT_EQ(row.at("issystem"), "1");
  EXPECT_EQ(row.at("userID_send"), "0");
  EXPECT_EQ(row.at("cstLabel"), "");
  EXPECT_EQ(row.at("nickName"), "");
  EXPECT_EQ(row.at("msgApp"), "");
  EXPECT_EQ(row.at("readFlag"), "");
  EXPECT_EQ(row.at("isDeleted"), "0");
  EXPECT_EQ(row.at("conid"), "1");
  EXPECT_EQ(row.at("IP"), "10.1.2.3");
  EXPECT_EQ(Rows("select addtime from C_members where serid=7")[0].at("addtime"),
            row.at("msgTime"));
}

TEST_P(TransferTest, TargetAlreadyMemberChangesNothing) {
  for (const char* target : {"5", "12"}) {
    Execute("delete from C_members where serid=12");
    Execute("insert into C_members(cid,serid,cstlabel,addtime,IsChat) values"
            "(1,12,'','2024-01-01 11:00:00',1)");
    const std::string before = Members();
    const auto result = Transfer(5, std::string("cid=1&action=inv&serid=") + target);
    EXPECT_EQ(result.hr, S_OK) << target;
    EXPECT_EQ(result.body, kAlreadyMember) << target;
    EXPECT_FALSE(result.ended) << target;
    EXPECT_EQ(Members(), before) << target;
  }
  EXPECT_EQ(Count("msg"), 0u);
}

TEST_P(TransferTest, NothingIsReadWithoutCallerOrAction) {
  struct Case {
    LONG userid;
    const char* query;
    HRESULT hr;
  };
  const Case cases[] = {{0, "cid=1&action=inv&serid=7", S_FALSE},
                        {-1, "cid=1&action=inv&serid=7", S_FALSE},
                        {5, "cid=1&action=sub&serid=7", S_OK},
                        {5, "cid=1&serid=7", S_OK}};
  for (const Case& c : cases) {
    const auto result = Transfer(c.userid, c.query);
    EXPECT_EQ(result.hr, c.hr) << c.userid << " " << c.query;
    EXPECT_EQ(result.body, "") << c.query;
  }
  EXPECT_EQ(Members(), "0/V1001/1\n5//1\n");
}

TEST_P(TransferTest, FailureRollsEverythingBack) {
  const std::string before = Members();
  for (const char* query : {"cid=1&action=inv&serid=", "cid=1&action=inv&serid=7;delete",
                            "cid=&action=inv&serid=7"}) {
    const auto result = Transfer(5, query);
    EXPECT_EQ(result.body, kFailed) << query;
    EXPECT_FALSE(result.ended) << query;
  }
  RefuseInserts("msg");  // the last of the three changes fails
  const auto result = Transfer(5, "cid=1&action=inv&serid=7");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body, kFailed);
  EXPECT_FALSE(result.ended);
  EXPECT_EQ(Members(), before);
  EXPECT_EQ(Count("msg"), 0u);
}

TEST_P(TransferTest, OperatorNamesAreInertInTheAlert) {
  Execute("insert into userinfo(ID,name,CompanyID) values(8,'</script>''\\',1)");
  const auto result = Transfer(5, "cid=1&action=inv&serid=8");
  EXPECT_EQ(result.body,
            "<script language='javascript'>alert('已经将会话转接给<\\/script>\\'\\\\');"
            "window.opener.top.close();window.close();</script>");
  EXPECT_EQ(Rows("select msgContent from msg")[0].at("msgContent"),
            "王芳已经将会话转接给</script>'\\");
  // A target without a userinfo row has an empty name.
  const auto unnamed = Transfer(7 + 1000, "cid=1&action=inv&serid=999");
  EXPECT_EQ(unnamed.body,
            "<script language='javascript'>alert('已经将会话转接给');"
            "window.opener.top.close();window.close();</script>");
}

ZELTO_ON_EVERY_ENGINE(TransferTest);

}  // namespace
