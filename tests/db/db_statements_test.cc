// Every statement the chat and console methods send, with its placeholders
// filled, run through CDbConnection on the demo database: the rows selected
// and the rows changed are the ones the methods rely on.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "db/db_connection.h"
#include "db/db_recordset.h"
#include "platform/ado/ado.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"

namespace {

// Demo data: conversation 1 between visitor V and operator 5; message 1
// from V already read by 5, message 2 from operator 5 read by nobody.
#define V "20240520091502731"

struct StatementCase {
  const char* name;
  const char* catalog;
  const char* sql;     // as the method formats it (UTF-8 here, sent in the ANSI code page)
  const char* check;   // for a change: the query that shows it; null for a select
  const char* column;  // the column whose values are compared
  std::vector<std::string> expected;
};

const StatementCase kCases[] = {
    {"operator poll, unread", "chat",
     "select * from msg where conid=1 and userID_send<>12 and CHARINDEX(',12,',readFlag)=0",
     nullptr, "msgID", {"1", "2"}},
    {"operator poll skips own and read", "chat",
     "select * from msg where conid=1 and userID_send<>5 and CHARINDEX(',5,',readFlag)=0",
     nullptr, "msgID", {}},
    {"operator mark, setting form", "chat", "update msg set readflag = ',12,' where msgID=2",
     "select readFlag from msg where msgID=2", "readFlag", {",12,"}},
    {"operator mark, appending form", "chat",
     "update msg set readFlag = readFlag+',12,' where msgID=1",
     "select readFlag from msg where msgID=1", "readFlag", {",5,,12,"}},
    {"visitor poll", "chat",
     "select * from msg where cstlabel<>'" V "' and CHARINDEX('," V ",',readFlag)=0 and "
     "conid=1 and '" V "' in (select cstlabel from C_members where cstlabel<>'' and cid=1)",
     nullptr, "msgID", {"2"}},
    {"visitor poll, not a member", "chat",
     "select * from msg where cstlabel<>'stranger' and CHARINDEX(',stranger,',readFlag)=0 and "
     "conid=1 and 'stranger' in (select cstlabel from C_members where cstlabel<>'' and "
     "cid=1)",
     nullptr, "msgID", {}},
    {"visitor mark, setting form", "chat", "update msg set readflag = '," V ",' where msgID=2",
     "select readFlag from msg where msgID=2", "readFlag", {"," V ","}},
    {"visitor mark, appending form", "chat",
     "update msg set readFlag = readFlag+'," V ",' where msgID=1",
     "select readFlag from msg where msgID=1", "readFlag", {",5,," V ","}},
    {"operator name", "chat", "select name from userinfo where ID=12", nullptr, "name", {"李明"}},
    {"visitor nickname", "chat", "select nickName from onlineCst where cstLabel='" V "'", nullptr,
     "nickname", {"访客731"}},
    {"visitor posts", "chat",
     "insert into msg(IP,issystem,readFlag,isDeleted,userid_Send,cstLabel,msgApp,msgContent,"
     "nickName,msgTime,conid) values('1.2.3.4',0,'',0,0,'" V "','a.doc','还有问题','访客731',"
     "'2024-05-20 09:20:00',1)",
     "select msgID||'/'||userID_send||'/'||readFlag||'/'||issystem||'/'||msgTime as r "
     "from msg where msgContent='还有问题'",
     "r", {"3/0//0/2024-05-20 09:20:00"}},
    {"conversation's visitor", "chat", "select * from C_members where cid=1 and cstlabel<> ''",
     nullptr, "cstlabel", {V}},
    {"visitor's preMsg row", "chat", "select * from preMsg where cstlabel='" V "' and conid=1",
     nullptr, "conid", {"1"}},
    {"invitation copy", "chat",
     "insert into inviteMsg(conid,sendid,cstlabel,createTime,content,IsInvite) values(1,5,'" V
     "','2024-05-20 09:21:00','您好',0)",
     "select sendid||'/'||content||'/'||IsInvite as r from inviteMsg", "r", {"5/您好/0"}},
    {"operator posts", "chat",
     "insert into msg(IP,userID_send,msgApp,msgContent,msgTime,conid,readFlag,cstLabel,nickName) "
     "values('10.0.0.15',5,'','好的','2024-05-20 09:22:00',1,'','','')",
     "select issystem||'/'||isDeleted||'/'||userID_send as r from msg where msgContent='好的'", "r",
     {"0/0/5"}},
    {"membership check", "chat", "select * from C_members where cid=1 and serid=5", nullptr,
     "serid", {"5"}},
    {"invite operator", "chat",
     "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values(1,12,'',"
     "'2024-05-20 09:23:00',1)",
     "select serid from C_members where cid=1 order by serid", "serid", {"0", "5", "12"}},
    {"transfer leaves", "chat", "delete from C_members where serid=5 and cid=1",
     "select serid from C_members where cid=1", "serid", {"0"}},
    {"transfer notice", "chat",
     "insert into msg(IP,userID_send,cstLabel,nickName,msgContent,msgApp,msgTime,isDeleted,"
     "readFlag,conid,issystem)values('10.0.0.15',0,'','','王芳已经将会话转接给李明','',"
     "'2024-05-20 09:24:00',0,'',1,1)",
     "select issystem||'/'||msgContent as r from msg where msgID=3", "r", {"1/王芳已经将会话转接给李明"}},
    {"visitor list rights", "chat", "select * from userinfo where id=12 and companyid=1", nullptr,
     "Invite", {"1"}},
    {"visitor list", "chat",
     "select Company.*,onlineCst.*,CAST(DATEPART(hh, onlineCst.visittime) AS nvarchar(50))+ ':' + "
     "CAST(DATEPART(mi, onlineCst.visittime) AS nvarchar(50)) + ':' + CAST(DATEPART(ss, "
     "onlineCst.visittime) AS nvarchar(50)) as tt from onlineCst,Company where "
     "Company.ID=onlineCst.CompanyID and onlineCst.CompanyID=1",
     nullptr, "tt", {"9:15:2", "9:33:47", "9:40:5"}},
    {"last page", "chat",
     "select top 1 * from cstTrack where cstLabel='" V "' order by presentTime desc", nullptr,
     "presentPage", {"http://www.example.com/products/"}},
    {"returning visitor", "count", "select * from t_Iprecord where IP='58.37.120.9'", nullptr, "IP",
     {"58.37.120.9"}},
    {"new visitor", "count", "select * from t_Iprecord where IP='123.118.4.21'", nullptr, "IP", {}},
    {"monitor rights", "chat", "select * from userinfo where id=7", nullptr, "conview", {"0"}},
    {"monitor conversations", "chat",
     "select * from conversation where cstlabel in (select cstlabel from onlineCst where "
     "CompanyID=(select CompanyID from userinfo where id=5)) or serid in (select id from userinfo "
     "where CompanyID=(select CompanyID from userinfo where id=5))",
     nullptr, "cid", {"1"}},
    {"monitor members", "chat", "select * from C_Members where cid=1 and IsChat=1", nullptr,
     "serid", {"0", "5"}},
    {"monitor visitor name", "chat", "select NickName from onlineCst where cstlabel='" V "'",
     nullptr, "NickName", {"访客731"}},
};

using zelto::testing::TestEngine;

class StatementTest
    : public ::testing::TestWithParam<std::tuple<TestEngine, StatementCase>> {
 protected:
  void SetUp() override { ZELTO_SKIP_WITHOUT(db_); }
  zelto::testing::SeededDatabase db_{std::get<0>(GetParam()), true};
};

TEST_P(StatementTest, RunsAndGivesTheRowsTheMethodsRelyOn) {
  const StatementCase& c = std::get<1>(GetParam());
  CDbConnection connection;
  ASSERT_TRUE(connection.Connect(db_.folder(), db_.catalog(c.catalog), db_.user(),
                                 db_.password(), adOptionUnspecified));
  std::vector<std::string> got;
  if (c.check) {
    _Recordset* result = connection.Execute(Utf8ToAnsi(c.sql));
    ASSERT_NE(result, nullptr) << c.sql;
    result->Release();
    for (auto& row : db_.Query(c.catalog, c.check)) got.push_back(row[c.column]);
  } else {
    CDbRecordset rs;
    ComPtr<_Recordset>::Adopt(rs.Attach(connection.Execute(Utf8ToAnsi(c.sql))));
    ASSERT_TRUE(rs.IsOpen()) << c.sql;
    while (!rs.IsEOF()) {
      std::string value;
      ASSERT_TRUE(rs.GetFieldText(c.column, value)) << c.column;
      got.push_back(AnsiToUtf8(value));
      ASSERT_TRUE(rs.MoveNext());
    }
  }
  EXPECT_EQ(got, c.expected) << c.sql;
}

INSTANTIATE_TEST_SUITE_P(Methods, StatementTest,
                         ::testing::Combine(::testing::ValuesIn(zelto::testing::AllTestEngines()),
                                            ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                           std::string name =
                               std::get<0>(info.param) == TestEngine::kSqlite ? "Sqlite_"
                                                                              : "Postgres_";
                           for (char ch : std::string(std::get<1>(info.param).name)) {
                             name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return name;
                         });

}  // namespace
