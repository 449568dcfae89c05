#include "chat/client_post.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::EchoTime;
using zelto::testing::ScenePage;

// The echo up to and including the header row, for time `t`.
std::string Head(const std::string& t) {
  return "window.top.fresh.chatmsglist.AddMsg('<div align=center><table width=98%  border=0 "
         "cellspacing=0 cellpadding=0>\t\t<tr>\t\t<td align=left><font color=#990000>我 说："
         "</font>&nbsp;&nbsp;<font color=#6666FF>(" + t + ")</font></td>\t\t</tr>";
}
const char kTail[] = "</table></div>');";
const char kCell[] =
    "<td align=right><table width=97% border=0 cellpadding=0 cellspacing=0><tr><td>";

class ClientPostTest : public ChatScene {
 protected:
  zelto::testing::SceneResult Post(const std::string& query, bool visitor_session = true) {
    ScenePage page;
    page.query = query;
    if (visitor_session) page.session = {{"timelabel", "V1001"}};
    return Run(page, DoClientMsg);
  }
};

TEST_P(ClientPostTest, EchoIsExactForEachKindOfMessage) {
  struct Case {
    const char* name;
    const char* query;
    std::string rows;  // what follows the header row
  };
  const Case cases[] = {
      {"plain", "msgContent=hello", std::string("  <tr>  \t") + kCell +
                                        "hello</td></tr></table></td>  </tr>"},
      {"link", "msgContent=http://www.a.cn/x.htm",
       std::string("  <tr>  \t") + kCell +
           "<a href=http://www.a.cn/x.htm target=_blank>http://www.a.cn/x.htm</a>"
           "</td></tr></table></td>  </tr>"},
      {"capital scheme is no link", "msgContent=HTTP://A.CN",
       std::string("  <tr>  \t") + kCell + "HTTP://A.CN</td></tr></table></td>  </tr>"},
      {"link later in text", "msgContent=see+http://a.cn",
       std::string("  <tr>  \t") + kCell + "see http://a.cn</td></tr></table></td>  </tr>"},
      {"attachment", "adjunct=report.doc",
       std::string("  <tr>") + kCell +
           "<a href=files/report.doc target=_blank>report.doc</a></td></tr></table></td>  </tr>"},
      {"text and attachment", "msgContent=look&adjunct=a.png",
       std::string("  <tr>  \t") + kCell + "look</td></tr></table></td>  </tr>  <tr>" + kCell +
           "<a href=files/a.png target=_blank>a.png</a></td></tr></table></td>  </tr>"},
      {"empty", "msgContent=&adjunct=", ""},
  };
  for (const Case& c : cases) {
    const auto result = Post(std::string("cid=1&action=sub&") + c.query);
    EXPECT_EQ(result.hr, S_OK) << c.name;
    const std::string time = EchoTime(result.body);
    ASSERT_EQ(time.size(), 19u) << c.name << ": " << result.body;
    EXPECT_EQ(result.body, Head(time) + c.rows + kTail) << c.name;
    EXPECT_FALSE(result.ended) << c.name;
  }
  EXPECT_EQ(Count("msg where conid=1"), std::size(cases));
}

TEST_P(ClientPostTest, StoresOneRowWithTheVisitorsDetails) {
  const auto result = Post("cid=1&action=sub&msgContent=%u4F60%u597D&adjunct=it's.txt");
  ASSERT_EQ(result.hr, S_OK);
  const auto rows = Rows("select * from msg");
  ASSERT_EQ(rows.size(), 1u);
  const auto& row = rows[0];
  EXPECT_EQ(row.at("IP"), "10.1.2.3");
  EXPECT_EQ(row.at("issystem"), "0");
  EXPECT_EQ(row.at("readFlag"), "");
  EXPECT_EQ(row.at("isDeleted"), "0");
  EXPECT_EQ(row.at("userID_send"), "0");
  EXPECT_EQ(row.at("cstLabel"), "V1001");
  EXPECT_EQ(row.at("nickName"), "小周");
  EXPECT_EQ(row.at("msgContent"), "你好");  // decoded before it is stored
  EXPECT_EQ(row.at("msgApp"), "it's.txt");  // quotes stored as given
  EXPECT_EQ(row.at("conid"), "1");
  EXPECT_EQ(row.at("msgTime"), EchoTime(result.body));
  // The echo shows the decoded text and the fixed sender, never the nickname.
  EXPECT_NE(result.body.find("<tr><td>你好</td>"), std::string::npos) << result.body;
  EXPECT_EQ(result.body.find("小周"), std::string::npos);
}

TEST_P(ClientPostTest, LabelComesFromSessionThenQuery) {
  struct Case {
    const char* name;
    ScenePage page;
    const char* label;
  };
  const Case cases[] = {
      {"session wins", {"cstlabel=Q1", {{"timelabel", "S1"}}}, "S1"},
      {"query when session value missing", {"cstlabel=Q1"}, "Q1"},
      {"integer session value counts as empty", {"cstlabel=Q1", {}, {{"timelabel", 7}}}, "Q1"}};
  for (Case c : cases) {
    Execute("delete from msg");
    c.page.query += "&cid=1&action=sub&msgContent=x";
    EXPECT_EQ(Run(c.page, DoClientMsg).hr, S_OK) << c.name;
    const auto rows = Rows("select cstLabel from msg");
    ASSERT_EQ(rows.size(), 1u) << c.name;
    EXPECT_EQ(rows[0].at("cstLabel"), c.label) << c.name;
  }
}

TEST_P(ClientPostTest, PageWithoutSessionReachesNoDatabaseAndEchoesNothing) {
  // The database settings live in the session, so such a page cannot store.
  ScenePage page{"cstlabel=Q1&cid=1&action=sub&msgContent=x"};
  page.no_session = true;
  const auto result = Run(page, DoClientMsg);
  EXPECT_EQ(result.hr, S_FALSE);
  EXPECT_EQ(result.body, "");
  EXPECT_EQ(Count("msg"), 0u);
}

TEST_P(ClientPostTest, OnlySubPostsAndOnlyIntegerConversations) {
  struct Case {
    const char* query;
    HRESULT hr;
  };
  const Case cases[] = {
      {"cid=1&msgContent=x", S_OK},           {"cid=1&action=SUB&msgContent=x", S_OK},
      {"cid=1&action=inv&msgContent=x", S_OK}, {"cid=1&action=sub+&msgContent=x", S_OK},
      {"action=sub&msgContent=x", S_FALSE},   {"cid=1+or+1%3D1&action=sub&msgContent=x", S_FALSE},
      {"cid=abc&action=sub&msgContent=x", S_FALSE},
      {"cid=99999999999&action=sub&msgContent=x", S_FALSE},
  };
  for (const Case& c : cases) {
    const auto result = Post(c.query);
    EXPECT_EQ(result.hr, c.hr) << c.query;
    EXPECT_EQ(result.body, "") << c.query;
  }
  EXPECT_EQ(Count("msg"), 0u);
}

TEST_P(ClientPostTest, MessageThatWasNotStoredIsNotEchoed) {
  RefuseInserts("msg");
  const auto result = Post("cid=1&action=sub&msgContent=lost");
  EXPECT_EQ(result.hr, S_FALSE);
  EXPECT_EQ(result.body, "");
}

TEST_P(ClientPostTest, HostileTextIsStoredAsGivenAndEchoedInert) {
  // <script>alert('x')</script>\ and a line break, percent-encoded.
  const auto result = Post(
      "cid=1&action=sub&msgContent=%3Cscript%3Ealert('x')%3C/script%3E%5C%0A"
      "&adjunct=x+onclick%3Dalert(1)%3E");
  ASSERT_EQ(result.hr, S_OK);
  EXPECT_EQ(Rows("select msgContent from msg")[0].at("msgContent"),
            "<script>alert('x')</script>\\\n");
  EXPECT_EQ(result.body.find("<script"), std::string::npos) << result.body;
  EXPECT_EQ(result.body.find('\n'), std::string::npos) << result.body;
  // The string literal ends only at the script's own closing quote.
  const std::string body = result.body;
  size_t end = body.find('\'');
  for (size_t i = end + 1; i < body.size(); ++i) {
    if (body[i] == '\\') { ++i; continue; }
    if (body[i] == '\'') { end = i; break; }
  }
  EXPECT_EQ(body.substr(end), "');") << body;
  EXPECT_NE(body.find("<a href=files/x%20onclick=alert(1)&gt; target=_blank>"),
            std::string::npos) << body;
}

ZELTO_ON_EVERY_ENGINE(ClientPostTest);

}  // namespace
