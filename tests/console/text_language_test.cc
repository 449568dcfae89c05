// The console lists' own words follow the session value "ZeltoLanguage";
// without it they are the Chinese texts (the other suites check those byte
// for byte).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "console/client_list.h"
#include "console/monitor_list.h"
#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using zelto::testing::SeededDatabase;
using zelto::testing::TestPage;

class ConsoleLanguageTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override { ZELTO_SKIP_WITHOUT(db_); }

  std::string Run(const std::string& language, std::function<HRESULT(PageContext&)> method,
                  const std::string& query = "") {
    TestPage page;
    page.Database(db_).Session("DBCount", db_.catalog("count")).Query(query);
    if (!language.empty()) page.Session("ZeltoLanguage", language);
    return page.Run(method).body;
  }

  SeededDatabase db_{GetParam()};
};

TEST_P(ConsoleLanguageTest, VisitorListInEnglish) {
  db_.Execute("chat",
              "insert into Company(ID) values(1);"
              "insert into userinfo(ID,name,CompanyID,Popedom,conview) values(5,'Li',1,1,0);");
  auto list = [this](const std::string& language) {
    return Run(
        language, [](PageContext& p) { return GetClientList(p, 5); }, "companyid=1");
  };
  EXPECT_THAT(list("en"), HasSubstr(">No visitors at the moment</font>"));
  // Invited 0..4 with beChatting 0, then one chatting; no nickname.
  for (int invited = 0; invited <= 4; ++invited) {
    db_.Execute("chat",
                "insert into onlineCst(cstLabel,NickName,CompanyID,visittime,IP,Invited) "
                "values('V" +
                    std::to_string(invited) +
                    "','',1,'2024-05-20 14:30:45',"
                    "'10.0.0.1'," +
                    std::to_string(invited) + ")");
  }
  db_.Execute("chat", "update onlineCst set beChatting=1 where cstLabel='V4'");
  const std::string english = list("en-US");
  for (const char* word :
       {">Time</td>", ">Visitor</td>", ">Region</td>", ">Came from</td>", ">Search words</td>",
        ">Last page</td>", ">Visit</td>", ">Status</td>", ">Visitor V0</td>", ">Not invited</td>",
        ">Invited</td>", ">Accepted</td>", ">Declined</td>", ">Chatting</td>", ">New</td>"}) {
    EXPECT_THAT(english, HasSubstr(word));
  }
  EXPECT_THAT(english, Not(HasSubstr("访客")));
  const std::string unknown = list("fr");
  EXPECT_EQ(unknown, list(""));
  EXPECT_THAT(unknown, HasSubstr(">访客V0</td>"));
}

TEST_P(ConsoleLanguageTest, MonitorInEnglish) {
  db_.Execute("chat",
              "insert into userinfo(ID,name,CompanyID,Popedom,conview) values(5,'Li',1,1,0);");
  auto monitor = [this](const std::string& language) {
    return Run(language, [](PageContext& p) { return GetMonitorList(p, 5); });
  };
  EXPECT_THAT(monitor("en"),
              HasSubstr("<td>No.</td><td>Participants</td><td>Started</td><td>Actions</td></tr>"
                        "<tr><td colspan=4>No conversations at the moment</td></tr>"));
  db_.Execute("chat",
              "insert into conversation(cid,cstlabel,serid,ctime) values(3,'Vgone',5,"
              "'2024-05-20 09:17:10');"
              "insert into C_members(cid,serid,cstlabel,IsChat) values(3,0,'Vgone',1)");
  EXPECT_THAT(monitor("en"),
              HasSubstr("<td>Visitor Vgone</td><td>2024-05-20 09:17:10</td><td><a href=\"#\" "
                        "onClick=\"viewcnv('3')\">[View]</a><a href=\"#\" onClick=\"javascript:"
                        "if(confirm('End this conversation?')==true){stopcnv('3');}\">[End]</a>"));
  EXPECT_EQ(monitor("xx"), monitor(""));
}

ZELTO_ON_EVERY_ENGINE(ConsoleLanguageTest);

}  // namespace
