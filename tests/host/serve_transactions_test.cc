// The site's routes under a database that refuses one statement halfway
// through an operation (a trigger): the route answers an error, nothing of
// the operation stays, and once the fault is gone the same request works.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/host/in_process_site.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

class ServeTransactionsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(site_.running()) << site_.Output(); }

  std::string Count(const std::string& sql) { return site_.db().Scalar("chat", sql); }
  // Makes every `event` (insert, delete) on `table` fail, or stop failing.
  void Refuse(const std::string& event, const std::string& table) {
    site_.db().Execute("chat", "create trigger refuse_" + event + " before " + event + " on " +
                                   table + " begin delete from refused_missing; end");
  }
  void Allow(const std::string& event) {
    site_.db().Execute("chat", "drop trigger refuse_" + event);
  }

  InProcessSite site_;
};

TEST_F(ServeTransactionsTest, AChatThatCannotOpenLeavesNothing) {
  auto visitor = site_.Client();
  const std::string label = site_.Visit(*visitor);
  const std::string counter = Count("select count(*) from conversationCounter");
  // The members' rows come after the counter and the conversation row.
  Refuse("insert", "C_members");
  const HttpReply refused = visitor->Post("/api/visitor/chat", "");
  EXPECT_EQ(refused.status, 500) << refused.body;
  EXPECT_EQ(Count("select count(*) from conversation where cstlabel='" + label + "'"), "0");
  EXPECT_EQ(Count("select count(*) from C_members where cstlabel='" + label + "'"), "0");
  EXPECT_EQ(Count("select beChatting from onlineCst where cstLabel='" + label + "'"), "0");
  EXPECT_EQ(Count("select count(*) from conversationCounter"), counter);
  EXPECT_NE(site_.Output().find("POST /api/visitor/chat"), std::string::npos) << site_.Output();

  Allow("insert");
  const HttpReply opened = visitor->Post("/api/visitor/chat", "");
  ASSERT_EQ(opened.status, 200) << opened.body;
  const std::string cid = std::to_string(JsonNumber(opened.body, "cid"));
  EXPECT_EQ(Count("select count(*) from C_members where cid=" + cid), "2");
  EXPECT_EQ(Count("select beChatting from onlineCst where cstLabel='" + label + "'"), "1");
}

TEST_F(ServeTransactionsTest, AConversationThatCannotEndStaysWhole) {
  auto visitor = site_.Client();
  const std::string label = site_.Visit(*visitor);
  const HttpReply opened = visitor->Post("/api/visitor/chat", "");
  ASSERT_EQ(opened.status, 200) << opened.body;
  const std::string cid = std::to_string(JsonNumber(opened.body, "cid"));
  // Removing the conversation row comes after the members' IsChat 0.
  Refuse("delete", "conversation");
  const HttpReply refused = visitor->Post("/api/conversation/end", "cid=" + cid);
  EXPECT_EQ(refused.status, 500) << refused.body;
  EXPECT_EQ(Count("select count(*) from C_members where IsChat=1 and cid=" + cid), "2");
  EXPECT_EQ(Count("select beChatting from onlineCst where cstLabel='" + label + "'"), "1");
  EXPECT_EQ(Count("select count(*) from conversation where cid=" + cid), "1");

  Allow("delete");
  EXPECT_EQ(visitor->Post("/api/conversation/end", "cid=" + cid).status, 200);
  EXPECT_EQ(Count("select count(*) from C_members where IsChat=1 and cid=" + cid), "0");
  EXPECT_EQ(Count("select beChatting from onlineCst where cstLabel='" + label + "'"), "0");
  EXPECT_EQ(Count("select count(*) from conversation where cid=" + cid), "0");
}

}  // namespace
}  // namespace zelto::testing
