#include "chat/polling.h"

#include <gtest/gtest.h>

#include <barrier>
#include <string>
#include <thread>

#include "page/page_context.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace {

using zelto::testing::PageRun;
using zelto::testing::SeededDatabase;
using zelto::testing::TestPage;

const std::string kStart =
    "<style type='text/css'><!--body {\tmargin-left: 0px; margin-top: 0px; margin-right: 0px; "
    "margin-bottom: 0px;}--></style><div align='center'><table width='98%'  border='0' "
    "cellspacing='0' cellpadding='0'>";
const std::string kEnd = "</table></div>";

std::string Header(const std::string& name) {
  return "<tr><td align='left'><font color='#990000'>" + name +
         " 说：</font>&nbsp;&nbsp;<font color='#6666FF'>(2024-05-20 09:17:25)</font></td></tr>";
}

std::string Content(const std::string& inner) {
  return "<tr><td align='right'><table width='97%' border='0' cellpadding='0' "
         "cellspacing='0'><tr><td>" +
         inner + "</td></tr></table></td></tr>";
}

// Conversation 1 has visitor V1 and operator 5 as members; operators 5 and 12
// exist. Messages are added by each test.
class PollingTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    ASSERT_TRUE(SetAnsiCodePage(CP_GBK));
    db_.Execute("chat",
                "insert into userinfo (ID, name) values (5, 'Op5');"
                "insert into userinfo (ID, name) values (12, '李明');"
                "insert into C_members (cid, serid, cstlabel, IsChat) values (1, 0, 'V1', 1);"
                "insert into C_members (cid, serid, cstlabel, IsChat) values (1, 5, '', 1);");
  }

  // Adds a message to conversation `conid`; returns its msgID.
  std::string AddMessage(int conid, int sender, const std::string& label,
                         const std::string& content, const std::string& read_flag = "''",
                         int is_system = 0, const std::string& nickname = "Tom") {
    db_.Execute("chat", "insert into msg (conid, userID_send, cstLabel, nickName, msgContent, "
                        "msgTime, issystem, readFlag) values (" +
                            std::to_string(conid) + ", " + std::to_string(sender) + ", '" +
                            label + "', '" + nickname + "', '" + content +
                            "', '2024-05-20 09:17:25', " + std::to_string(is_system) + ", " +
                            read_flag + ")");
    return db_.Scalar("chat", "select max(msgID) from msg");
  }

  std::string ReadFlag(const std::string& id) {
    return db_.Scalar("chat", "select readFlag from msg where msgID=" + id);
  }

  // A page of this database with the query `query`.
  TestPage Page(const std::string& query) {
    TestPage page;
    page.Query(query).Database(db_);
    return page;
  }

  PageRun OperatorPoll(LONG userid, const std::string& query = "cid=1") {
    return Page(query).Run([userid](PageContext& page) { return GetUserMsg(page, userid); });
  }

  PageRun VisitorPoll(const TestPage& page) { return page.Run(GetClientMsg); }

  PageRun VisitorPoll(const std::string& label, const std::string& query = "cid=1") {
    TestPage page = Page(query);
    page.Session("timelabel", label);
    return VisitorPoll(page);
  }

  SeededDatabase db_{GetParam()};
};

TEST_P(PollingTest, OperatorsMarkInTurn) {
  std::string id = AddMessage(1, 0, "V1", "hello");
  PageRun first = OperatorPoll(5);
  EXPECT_EQ(first.hr, S_OK);
  EXPECT_EQ(first.body, kStart + Header("Tom") + Content("hello") + kEnd);
  EXPECT_EQ(ReadFlag(id), ",5,");

  PageRun again = OperatorPoll(5);
  EXPECT_EQ(again.hr, S_FALSE);
  EXPECT_EQ(again.body, "");

  EXPECT_EQ(OperatorPoll(12).hr, S_OK);
  EXPECT_EQ(ReadFlag(id), ",5,,12,");
}

TEST_P(PollingTest, OperatorViewHeadersAndOrder) {
  AddMessage(1, 12, "", "from 12 :#3#");
  AddMessage(1, 0, "V1", "  ", "''", 1, " ");
  AddMessage(1, 0, "", "moved", "''", 1);
  AddMessage(2, 0, "V9", "other conversation");
  PageRun result = OperatorPoll(5);
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body,
            kStart + Header("李明") + Content("from 12 <img src='images/face/3.gif' border=0>") +
                Header("客户V1") +
                "<tr><td align='left'><font color='#990000'>系统消息</font>&nbsp;&nbsp;<font "
                "color='#6666FF'>(2024-05-20 09:17:25)</font></td></tr>" +
                Content("moved") + kEnd);
}

TEST_P(PollingTest, NobodyReceivesOwnOrNullMarkedMessages) {
  std::string own = AddMessage(1, 5, "", "mine");
  std::string null_marked = AddMessage(1, 0, "V1", "lost", "NULL");
  EXPECT_EQ(OperatorPoll(5).hr, S_FALSE);
  PageRun visitor = VisitorPoll("V1");
  EXPECT_EQ(visitor.hr, S_OK);
  EXPECT_EQ(visitor.body, kStart + Header("Op5") + Content("mine") + kEnd);
  EXPECT_EQ(ReadFlag(own), ",V1,");
  EXPECT_EQ(ReadFlag(null_marked), "");
  EXPECT_EQ(OperatorPoll(12).body, kStart + Header("Op5") + Content("mine") + kEnd);
}

TEST_P(PollingTest, VisitorWithoutMembershipGetsNothing) {
  std::string id = AddMessage(1, 5, "", "hi");
  PageRun result = VisitorPoll("V2");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(ReadFlag(id), "");
}

TEST_P(PollingTest, VisitorLabelRule) {
  std::string id = AddMessage(1, 5, "", "hi");
  db_.Execute("chat", "insert into C_members (cid, serid, cstlabel, IsChat) values (1, 0, 'V2', 1)");

  // Without a session object the query's label is not read.
  PageRun no_session = VisitorPoll(Page("cid=1&cstlabel=V1").NoSession());
  EXPECT_EQ(no_session.hr, S_FALSE);
  EXPECT_EQ(no_session.body, "");

  // A string timelabel beats cstlabel.
  EXPECT_EQ(VisitorPoll("V2", "cid=1&cstlabel=V1").hr, S_OK);
  EXPECT_EQ(ReadFlag(id), ",V2,");

  // An integer timelabel counts as empty: cstlabel is used.
  PageRun by_query = VisitorPoll(Page("cid=1&cstlabel=V1").Session("timelabel", LONG{7}));
  EXPECT_EQ(by_query.hr, S_OK);
  EXPECT_NE(by_query.body, "");
  EXPECT_EQ(ReadFlag(id), ",V2,,V1,");
}

TEST_P(PollingTest, MissingOrMalformedRequestValues) {
  std::string id = AddMessage(1, 5, "", "hello");
  struct Case {
    const char* query;
    const char* label;
    HRESULT operator_hr;
    HRESULT visitor_hr;
  };
  // A malformed cid sends nothing: the visitor's poll answers as for a failed
  // select, the operator's as for nothing unread.
  const Case cases[] = {
      {"", "V1", S_FALSE, S_FALSE},
      {"cid=1%20or%201%3D1", "V1", S_FALSE, S_OK},
      {"cid=1;delete%20from%20msg", "V1", S_FALSE, S_OK},
      {"cid=x", "V1", S_FALSE, S_OK},
      {"cid=1", "", S_OK, S_FALSE},
  };
  for (const Case& c : cases) {
    PageRun visitor = *c.label ? VisitorPoll(c.label, c.query) : VisitorPoll(Page(c.query));
    EXPECT_EQ(visitor.hr, c.visitor_hr) << c.query;
    EXPECT_EQ(visitor.body, "") << c.query;
    PageRun op = OperatorPoll(12, c.query);
    EXPECT_EQ(op.hr, c.operator_hr) << c.query;
    EXPECT_EQ(op.body.empty(), c.operator_hr != S_OK) << c.query;
  }
  EXPECT_EQ(db_.Scalar("chat", "select count(*) from msg"), "1");
  EXPECT_EQ(ReadFlag(id), ",12,");
}

TEST_P(PollingTest, QuoteInLabelIsData) {
  db_.Execute("chat", "insert into C_members (cid, serid, cstlabel, IsChat) values (1, 0, 'O''Neil', 1)");
  std::string id = AddMessage(1, 5, "", "hi");
  PageRun result = VisitorPoll("O'Neil");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body, kStart + Header("Op5") + Content("hi") + kEnd);
  EXPECT_EQ(ReadFlag(id), ",O'Neil,");
}

TEST_P(PollingTest, FailedSelectEndsThePoll) {
  AddMessage(1, 0, "V1", "hello");
  db_.Execute("chat", "drop table msg");
  PageRun op = OperatorPoll(5);
  EXPECT_EQ(op.hr, S_FALSE);
  EXPECT_EQ(op.body, "");
  PageRun visitor = VisitorPoll("V1");
  EXPECT_EQ(visitor.hr, S_OK);
  EXPECT_EQ(visitor.body, "");
}

TEST_P(PollingTest, HostileContentIsInert) {
  AddMessage(1, 0, "V1", "<script>alert(1)</script>#link#javascript:alert(2)#link_mid#x",
             "''", 0, "<img src=x onerror=alert(3)>");
  PageRun result = OperatorPoll(5);
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body.find("<script"), std::string::npos);
  EXPECT_EQ(result.body.find("<img src=x"), std::string::npos);
  EXPECT_EQ(result.body.find("href='javascript"), std::string::npos);
  EXPECT_NE(result.body.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
}

// Two operators on two connections poll the same new message at the same
// moment, round after round; no round may lose either mark.
TEST_P(PollingTest, ConcurrentMarksAreAllKept) {
  constexpr int kRounds = 40;
  std::barrier start(3);
  std::barrier done(3);
  auto reader = [&](LONG userid) {
    for (int round = 0; round < kRounds; ++round) {
      start.arrive_and_wait();
      OperatorPoll(userid);
      done.arrive_and_wait();
    }
  };
  std::thread five(reader, 5);
  std::thread twelve(reader, 12);
  for (int round = 0; round < kRounds; ++round) {
    std::string id = AddMessage(1, 0, "V1", "round " + std::to_string(round));
    start.arrive_and_wait();
    done.arrive_and_wait();
    std::string marks = ReadFlag(id);
    EXPECT_TRUE(marks == ",5,,12," || marks == ",12,,5,") << "round " << round << ": " << marks;
  }
  five.join();
  twelve.join();
}

ZELTO_ON_EVERY_ENGINE(PollingTest);

}  // namespace
