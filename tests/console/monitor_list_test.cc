#include "console/monitor_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace {

using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;
using zelto::testing::PageRun;
using zelto::testing::SeededDatabase;
using zelto::testing::TestPage;

const std::string kHead =
    "<style type='text/css'><!--a:link {\ttext-decoration: none;}a:visited {text-decoration: "
    "none;}a:hover {text-decoration: none;}a:active {\ttext-decoration: none;}--></style>"
    "<table border='0' width='100%' cellpadding='2'>"
    "<tr bgcolor='#BCD1F0'><td>会话ID</td><td>会话人员</td><td>会话时间</td><td>操作</td></tr>";

std::string Links(const std::string& cid) {
  return "<td><a href=\"#\" onClick=\"viewcnv('" + cid +
         "')\">[查看会话]</a><a href=\"#\" "
         "onClick=\"javascript:if(confirm('确定要终止此会话？')==true){stopcnv('" +
         cid + "');}\">[终止会话]</a></td>";
}

struct Row {
  std::string number;
  std::string members;
  std::string time;
  std::string cid;
};

std::vector<Row> Rows(const std::string& body) {
  static const std::regex kRow(
      "<tr><td>(\\d+)</td><td>(.*?)</td><td>(.*?)</td><td><a href=\"#\" "
      "onClick=\"viewcnv\\('(-?\\d+)'\\)\">");
  std::vector<Row> rows;
  for (std::sregex_iterator it(body.begin(), body.end(), kRow), end; it != end; ++it) {
    rows.push_back({(*it)[1], (*it)[2], (*it)[3], (*it)[4]});
  }
  return rows;
}

class MonitorListTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    db_.Execute("chat",
                "insert into userinfo(ID,name,CompanyID,Popedom,conview) values(5,'Li',1,1,0);"
                "insert into userinfo(ID,name,CompanyID) values(6,'Wu',1);"
                "insert into userinfo(ID,name,CompanyID) values(8,'Other',2);");
  }

  PageRun Monitor(LONG userid) {
    TestPage page;
    page.Database(db_);
    return page.Run([userid](PageContext& p) { return GetMonitorList(p, userid); });
  }

  void AddConversation(int cid, const std::string& label, int serid) {
    db_.Execute("chat", "insert into conversation(cid,cstlabel,serid,ctime) values(" +
                            std::to_string(cid) + ",'" + label + "'," + std::to_string(serid) +
                            ",'2024-05-20 09:17:10')");
  }
  void AddMember(int cid, int serid, const std::string& label, int is_chat = 1) {
    db_.Execute("chat", "insert into C_members(cid,serid,cstlabel,IsChat) values(" +
                            std::to_string(cid) + "," + std::to_string(serid) + ",'" + label +
                            "'," + std::to_string(is_chat) + ")");
  }

  SeededDatabase db_{GetParam()};
};

TEST_P(MonitorListTest, NoConversationGivesHeaderAndEmptyRow) {
  PageRun run = Monitor(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body, kHead + "<tr><td colspan=4>当前没有会话</td></tr></table>");
}

TEST_P(MonitorListTest, OneConversationRowExactly) {
  AddConversation(1001, "V1", 5);
  AddMember(1001, 5, "");
  db_.Execute("chat", "insert into onlineCst(cstLabel,NickName,CompanyID) values('V1','Tom',1)");
  AddMember(1001, 0, "V1");
  PageRun run = Monitor(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body, kHead + "<tr><td>1</td><td>LiTom</td><td>2024-05-20 09:17:10</td>" +
                          Links("1001") + "</tr></table>");
}

TEST_P(MonitorListTest, RowsAreNumberedAndLinkTheirConversation) {
  AddConversation(41, "", 5);
  AddConversation(7, "", 6);
  AddConversation(12, "", 5);
  AddConversation(99, "", 8);  // another company's operator, visitor not online
  std::vector<Row> rows = Rows(Monitor(5).body);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].number, "1");
  EXPECT_EQ(rows[1].number, "2");
  EXPECT_EQ(rows[2].number, "3");
  EXPECT_THAT((std::vector<std::string>{rows[0].cid, rows[1].cid, rows[2].cid}),
              UnorderedElementsAre("41", "7", "12"));
  EXPECT_THAT(Monitor(5).body, HasSubstr("stopcnv('" + rows[0].cid + "');"));
}

TEST_P(MonitorListTest, MemberNamesJoinInRowOrder) {
  db_.Execute("chat",
              "insert into onlineCst(cstLabel,NickName,CompanyID) values('V1','Tom',1);"
              "insert into onlineCst(cstLabel,NickName,CompanyID) values('V2','',1);"
              "insert into onlineCst(cstLabel,NickName,CompanyID) values('V3','  Sue ',1);"
              "insert into onlineCst(cstLabel,NickName,CompanyID) values('O''Neil','Al',1);");
  struct Case {
    std::vector<std::pair<int, std::string>> members;  // serid, cstlabel
    std::string shown;
  };
  const Case cases[] = {
      {{}, ""},
      {{{5, ""}, {0, "V1"}}, "LiTom"},
      {{{0, "V1"}, {5, ""}, {6, ""}}, "TomLiWu"},
      {{{0, "V2"}}, ""},                   // listed with an empty nickname
      {{{0, "Gone"}}, "访客Gone"},         // no longer online
      {{{-1, "Gone"}}, "访客Gone"},        // serid not above 0 is a visitor
      {{{0, "O''Neil"}}, "Al"},            // stored as O'Neil: the select doubles the quote
      {{{404, ""}, {0, "V3"}}, "  Sue "},  // unknown operator adds nothing; no trimming
  };
  int cid = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    db_.Execute("chat", "delete from conversation; delete from C_members;");
    AddConversation(++cid, "", 5);
    for (const auto& [serid, label] : c.members) AddMember(cid, serid, label);
    AddMember(cid, 6, "", 0);  // no longer chatting: never listed
    std::vector<Row> rows = Rows(Monitor(5).body);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].members, c.shown);
  }
}

TEST_P(MonitorListTest, RightsDecideWhetherAnythingIsWritten) {
  struct Case {
    int popedom;
    int conview;
    bool shown;
  };
  const Case cases[] = {
      {1, 0, true}, {2, 0, true}, {0, 1, true}, {0, -3, true}, {3, 0, false}, {0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "Popedom " << c.popedom << " conview " << c.conview);
    db_.Execute("chat", "update userinfo set Popedom=" + std::to_string(c.popedom) +
                            ", conview=" + std::to_string(c.conview) + " where ID=5");
    PageRun run = Monitor(5);
    EXPECT_EQ(run.hr, c.shown ? S_OK : S_FALSE);
    EXPECT_EQ(run.body.empty(), !c.shown);
  }
}

TEST_P(MonitorListTest, NoOperatorRowOrNonPositiveIdWritesNothing) {
  db_.Execute("chat", "insert into userinfo(ID,CompanyID,Popedom) values(0,1,1)");
  for (LONG userid : {404, 0, -5}) {
    PageRun run = Monitor(userid);
    EXPECT_EQ(run.hr, S_FALSE);
    EXPECT_EQ(run.body, "");
  }
}

TEST_P(MonitorListTest, StoredNamesAreEscaped) {
  db_.Execute("chat",
              "update userinfo set name='<b>A&B</b>' where ID=6;"
              "insert into onlineCst(cstLabel,NickName,CompanyID) values('V1','\"x''',1)");
  AddConversation(1, "", 5);
  AddMember(1, 6, "");
  AddMember(1, 0, "V1");
  AddMember(1, 0, "<i>");
  std::vector<Row> rows = Rows(Monitor(5).body);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].members, "&lt;b&gt;A&amp;B&lt;/b&gt;&quot;x&#39;访客&lt;i&gt;");
}

TEST_P(MonitorListTest, FailedQueriesNeverStallTheTable) {
  AddConversation(1, "", 5);
  AddConversation(2, "", 6);
  AddMember(1, 5, "");
  db_.Execute("chat", "drop table C_members");
  PageRun run = Monitor(5);
  EXPECT_EQ(run.hr, S_OK);
  std::vector<Row> rows = Rows(run.body);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].members, "");

  db_.Execute("chat", "drop table conversation");
  run = Monitor(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body, kHead + "<tr><td colspan=4>当前没有会话</td></tr></table>");
}

ZELTO_ON_EVERY_ENGINE(MonitorListTest);

}  // namespace
