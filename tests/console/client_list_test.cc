#include "console/client_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using zelto::testing::PageRun;
using zelto::testing::SeededDatabase;
using zelto::testing::TestPage;

const std::string kTableHead =
    "<table width='100%'  border='0' cellspacing='0' cellpadding='0'><tr>";
const std::string kHeaderRow =
    "<td background='images/cst_inhead_back.gif' height='21' align='center' width='55'>时间</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' width='120'>访客</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' "
    "width='110'>访客区域</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' "
    "width='125'>页面来源</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center'>搜索关键字</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' "
    "width='125'>最后访问页</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' width='55'>再访</td>"
    "<td background='images/cst_inhead_back.gif' height='21' align='center' width='75'>状态</td>"
    "</tr>";

std::string Statement(const std::string& body) {
  return "document.all(\"show\").innerHTML=\"" + body + "\";";
}

// `text` as a SQL string literal.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? "''" : std::string(1, c);
  return out + "'";
}

std::string RowStart(const std::string& label_in_link, const std::string& company = "1") {
  return "<tr onClick='choose(this)' onDblClick='rece(\\\"cstReWin.asp?cstLabel=" + label_in_link +
         "&companyid=" + company + "\\\")' onMouseOver='this.style.cursor=\\\"hand\\\"'>";
}

class ClientListTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    db_.Execute("chat",
                "insert into Company(ID) values(1);"
                "insert into Company(ID) values(2);"
                "insert into userinfo(ID,name,CompanyID,Popedom,Invite) values(5,'王芳',1,1,0);");
  }

  PageRun List(LONG userid, const std::string& query = "companyid=1",
               const std::string& count = "count") {
    TestPage page;
    page.Database(db_).Session("DBCount", count == "count" ? db_.catalog("count") : count);
    page.Query(query);
    return page.Run([userid](PageContext& p) { return GetClientList(p, userid); });
  }

  // A visitor of company 1 with ordinary values; `set` adjusts its row.
  void AddVisitor(const std::string& label, const std::string& set = "") {
    db_.Execute("chat", "insert into onlineCst(cstLabel,NickName,CompanyID,visittime,IP) values(" +
                            Quoted(label) + "," + Quoted("Nick" + label) +
                            ",1,'2024-05-20 14:30:45','10.0.0.1')");
    if (!set.empty()) {
      db_.Execute("chat", "update onlineCst set " + set + " where cstLabel=" + Quoted(label));
    }
  }

  SeededDatabase db_{GetParam()};
};

TEST_P(ClientListTest, NoVisitorGivesTheEmptyListTable) {
  PageRun run = List(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body,
            "document.all(\"show\").innerHTML=\"<table width='100%'  border='0' cellspacing='0' "
            "cellpadding='0'><tr><td align='center'><font color='#FF0000' "
            "class='nono'>暂时无访客</font></td></tr></table>\";");
}

TEST_P(ClientListTest, OneVisitorShowsEveryColumn) {
  // Every shortened cell sits on a limit: 16 bytes of region (Chinese cut on a
  // character boundary), 15 bytes of source page kept, 17 bytes of keywords
  // cut inside a character, and a 21-byte last page.
  AddVisitor("V1",
             "NickName='  Tom  ', visittime='2024-05-20 09:05:03', beChatting=0, Invited=2, "
             "IP='1.2.3.4', csarea='北京市海淀区abcd', sourcepage='http://a.cn/x.h', "
             "searchkey='abcdefghijk你好吗'");
  db_.Execute("chat",
              "insert into cstTrack(cstLabel,presentTime,presentPage) values"
              "('V1','2024-05-20 09:06:00','http://ex.com/a/b.htm'),"
              "('V1','2024-05-20 09:05:10','http://ex.com/first.htm'),"
              "('V2','2024-05-20 09:07:00','http://ex.com/other.htm')");
  db_.Execute("count", "insert into t_Iprecord(IP) values('1.2.3.4')");

  PageRun run = List(5);

  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body,
            Statement(kTableHead + kHeaderRow + RowStart("V1") +
                      "<td height='20' align='center' title='9:5:3'>9:5:3"
                      "</td><td align='center' title='Tom  '>Tom  "
                      "</td><td align='center' title='北京市海淀区abcd'>北京市海淀区..."
                      "</td><td align='center' title='http://a.cn/x.h'>http://a.cn/x.h"
                      "</td><td align='center' title='abcdefghijk你好吗'>abcdefghijk\uFFFD..."
                      "</td><td align='center' title='http://ex.com/a/b.htm'>http://ex.com/a/b..."
                      "</td><td align='center'>老访客</td><td align='center'>同意交谈</td></tr>"
                      "</table>"));
}

TEST_P(ClientListTest, DisplayNameDropsLeadingWhiteSpaceOnly) {
  struct Case {
    const char* stored;
    std::string shown;
  };
  const Case cases[] = {
      {"", "访客V1"},
      {"   ", "访客V1"},
      {"\t\n\v\f\r ", "访客V1"},
      {"\t\nTom ", "Tom "},
      {"小周", "小周"},
  };
  AddVisitor("V1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    db_.Execute("chat", std::string("update onlineCst set NickName='") + c.stored + "'");
    PageRun run = List(5);
    EXPECT_THAT(run.body,
                HasSubstr("</td><td align='center' title='" + c.shown + "'>" + c.shown + "</td>"));
  }
}

TEST_P(ClientListTest, StateTextFollowsChattingThenInvitation) {
  struct Case {
    int chatting;
    int invited;
    const char* state;
  };
  const Case cases[] = {
      {1, 3, "正在交谈"}, {-1, 0, "正在交谈"}, {0, 0, "未邀请"},   {0, 1, "已邀请"},
      {0, 2, "同意交谈"}, {0, 3, "拒绝交谈"},  {0, 4, "未知状态"}, {0, -1, "未知状态"},
  };
  AddVisitor("V1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    db_.Execute("chat", "update onlineCst set beChatting=" + std::to_string(c.chatting) +
                            ", Invited=" + std::to_string(c.invited));
    EXPECT_THAT(List(5).body,
                HasSubstr(std::string("<td align='center'>") + c.state + "</td></tr></table>"));
  }
}

TEST_P(ClientListTest, VisitKindAndLastPageWhenUnknown) {
  AddVisitor("V1", "IP='9.9.9.9'");
  const std::string tail = "</td><td align='center' title=''></td>";

  EXPECT_THAT(List(5).body, HasSubstr(tail + "<td align='center'>新访客</td>"));
  // The count database cannot be opened: the list is still written, the cell empty.
  PageRun without_count = List(5, "companyid=1", "no_such_count");
  EXPECT_EQ(without_count.hr, S_OK);
  EXPECT_THAT(without_count.body, HasSubstr(tail + "<td align='center'></td>"));
}

TEST_P(ClientListTest, EveryVisitorOfTheCompanyGetsOneRow) {
  AddVisitor("V1");
  AddVisitor("V2");
  AddVisitor("V3", "CompanyID=2");
  db_.Execute("count", "insert into t_Iprecord(IP) values('10.0.0.1')");
  const std::string body = List(5).body;
  EXPECT_THAT(body, HasSubstr(RowStart("V1")));
  EXPECT_THAT(body, HasSubstr(RowStart("V2")));
  EXPECT_THAT(body, Not(HasSubstr("V3")));
  EXPECT_THAT(body, HasSubstr("<td align='center'>老访客</td><td align='center'>未邀请</td></tr>"
                              "<tr onClick"));
  EXPECT_TRUE(body.ends_with("</tr></table>\";"));
}

TEST_P(ClientListTest, RightsDecideWhetherAnythingIsWritten) {
  struct Case {
    int popedom;
    int invite;
    bool listed;
  };
  const Case cases[] = {
      {1, 0, true}, {2, 0, true}, {3, 1, true}, {0, -1, true}, {0, 0, false}, {3, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "Popedom " << c.popedom << " Invite " << c.invite);
    db_.Execute("chat", "update userinfo set Popedom=" + std::to_string(c.popedom) +
                            ", Invite=" + std::to_string(c.invite) + " where ID=5");
    PageRun run = List(5);
    EXPECT_EQ(run.hr, c.listed ? S_OK : S_FALSE);
    EXPECT_EQ(run.body.empty(), !c.listed);
  }
}

TEST_P(ClientListTest, OnlyTheOperatorsOwnCompanyWithAWellFormedId) {
  const char* queries[] = {
      "companyid=2",  // another company
      "",             // no company at all
      "companyid=",
      "companyid=2 or 1=1",  // would grant the list if it reached the database
      "companyid=1;",
      "companyid=+1",
      "companyid=%201",  // leading blank
      "companyid=99999999999",
  };
  AddVisitor("V1");
  for (const char* query : queries) {
    SCOPED_TRACE(query);
    PageRun run = List(5, query);
    EXPECT_EQ(run.hr, S_FALSE);
    EXPECT_EQ(run.body, "");
  }
}

TEST_P(ClientListTest, NonPositiveUseridStopsBeforeTheDatabase) {
  // Operators 0 and -5 exist with full rights, so any query would list.
  db_.Execute("chat",
              "insert into userinfo(ID,CompanyID,Popedom) values(0,1,1);"
              "insert into userinfo(ID,CompanyID,Popedom) values(-5,1,1);");
  for (LONG userid : {0, -5}) {
    PageRun run = List(userid);
    EXPECT_EQ(run.hr, S_FALSE);
    EXPECT_EQ(run.body, "");
  }
}

TEST_P(ClientListTest, HostileValuesStayInsideTheirCellAndTheScriptString) {
  AddVisitor("a'b\"&c <d>",
             "NickName='<img src=x onerror=alert(1)>', csarea='x\\y', "
             "searchkey='line\ntwo\"', sourcepage='乗'");
  const std::string body = List(5).body;
  EXPECT_THAT(body, HasSubstr(RowStart("a%27b%22%26c%20%3Cd%3E")));
  EXPECT_THAT(body, HasSubstr("title='&lt;img src=x onerror=alert(1)&gt;'>"
                              "&lt;img src=x onerror=alert(1)&gt;</td>"));
  EXPECT_THAT(body, HasSubstr("title='x\\\\y'>x\\\\y</td>"));
  EXPECT_THAT(body, HasSubstr("title='line\\ntwo&quot;'>line\\ntwo&quot;</td>"));
  // 乗 is 0x81 0x5C in GBK: its trailing byte is no backslash to escape.
  EXPECT_THAT(body, HasSubstr("title='乗'>乗</td>"));
  EXPECT_EQ(body.find('\n'), std::string::npos);
}

TEST_P(ClientListTest, ValuesAreShortenedBeforeTheyAreEscaped) {
  AddVisitor("V1", "csarea='abcdefghijk&&&&&&'");
  EXPECT_THAT(List(5).body, HasSubstr(">abcdefghijk&amp;...</td>"));
}

TEST_P(ClientListTest, FailedQueriesNeverStallTheList) {
  AddVisitor("V1", "IP='1.2.3.4'");
  db_.Execute("chat", "drop table cstTrack");
  db_.Execute("count", "drop table t_Iprecord");
  PageRun run = List(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_THAT(run.body, HasSubstr("<td align='center' title=''></td>"
                                  "<td align='center'></td><td align='center'>未邀请</td></tr>"));

  db_.Execute("chat", "drop table onlineCst");
  run = List(5);
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_THAT(run.body, HasSubstr("暂时无访客"));
}

ZELTO_ON_EVERY_ENGINE(ClientListTest);

}  // namespace
