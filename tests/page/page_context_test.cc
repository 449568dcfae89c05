#include "page/page_context.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/asp/in_memory_page.h"
#include "platform/win/codepage.h"
#include "tests/support/seeded_database.h"
#include "tests/support/test_page.h"

namespace {

using zelto::testing::PageRun;
using zelto::testing::TestPage;

constexpr HRESULT kRefused = static_cast<HRESULT>(0x80070777u);

const PageMember kHeld[] = {PageMember::kRequest, PageMember::kResponse, PageMember::kServer,
                            PageMember::kSession, PageMember::kApplication};

// References the page's objects have from anyone but the page itself.
int Held(const InMemoryPage& page) {
  int total = page.ExternalReferences(PageMember::kScriptingContext);
  for (PageMember member : kHeld) total += page.ExternalReferences(member);
  return total;
}

// Runs `code` on a started page context in the GBK code page.
class PageContextTest : public ::testing::Test {
 protected:
  PageContextTest() : previous_code_page_(GetACP()) { SetAnsiCodePage(CP_GBK); }
  ~PageContextTest() override { SetAnsiCodePage(previous_code_page_); }

  std::string Query(TestPage& page, const std::string& key) {
    std::string value = "unset";
    page.Run([&](PageContext& context) {
      value = context.GetQueryValue(key);
      return S_OK;
    });
    return value;
  }

 private:
  UINT previous_code_page_;
};

TEST_F(PageContextTest, NullContextChangesNothing) {
  PageContext context;
  EXPECT_EQ(context.Start(nullptr), E_POINTER);
  EXPECT_FALSE(context.IsStarted());
  EXPECT_EQ(context.settings().server, "");
}

TEST_F(PageContextTest, EachFailingGetterLeavesNothingHeld) {
  const PageMember failing[] = {PageMember::kScriptingContext, PageMember::kRequest,
                                PageMember::kResponse,         PageMember::kServer,
                                PageMember::kSession,          PageMember::kApplication};
  for (PageMember member : failing) {
    InMemoryPage page = TestPage().Session("DBServer", "x").Fail(member, kRefused).Build();
    PageContext context;
    EXPECT_EQ(context.Start(page.context()), kRefused) << static_cast<int>(member);
    EXPECT_EQ(Held(page), 0) << static_cast<int>(member);
    EXPECT_FALSE(context.IsStarted());
    EXPECT_EQ(context.settings().server, "") << "no settings read after a failure";
    EXPECT_EQ(context.GetQueryValue("cid"), "");
    context.WriteResponse("lost");
    EXPECT_EQ(page.body(), u"");
  }
}

TEST_F(PageContextTest, StartHoldsFiveObjectsEndReleasesThemTwice) {
  InMemoryPage page = TestPage().Build();
  PageContext context;
  ASSERT_EQ(context.Start(page.context()), S_OK);
  EXPECT_TRUE(context.IsStarted());
  EXPECT_TRUE(context.HasSession());
  EXPECT_EQ(page.ExternalReferences(PageMember::kScriptingContext), 0) << "context released";
  for (PageMember member : kHeld) EXPECT_EQ(page.ExternalReferences(member), 1);

  context.End();
  EXPECT_EQ(Held(page), 0);
  EXPECT_FALSE(context.IsStarted());
  context.End();
  EXPECT_EQ(Held(page), 0);
}

TEST_F(PageContextTest, StartingAgainDoesNotLeakTheFirstPage) {
  InMemoryPage first = TestPage().Build();
  InMemoryPage second = TestPage().Fail(PageMember::kApplication, kRefused).Build();
  PageContext context;
  ASSERT_EQ(context.Start(first.context()), S_OK);
  EXPECT_EQ(context.Start(second.context()), kRefused);
  EXPECT_EQ(Held(first), 0);
  EXPECT_EQ(Held(second), 0);
}

TEST_F(PageContextTest, DestructionReleasesWhatIsStillHeld) {
  InMemoryPage page = TestPage().Build();
  {
    PageContext context;
    ASSERT_EQ(context.Start(page.context()), S_OK);
  }
  EXPECT_EQ(Held(page), 0);
}

TEST_F(PageContextTest, SettingsComeFromTheSessionAndSurviveEnd) {
  InMemoryPage page = TestPage()
                          .Session("DBServer", "db1")
                          .Session("DBName", "chat")
                          .Session("dbusername", "sa")  // keys compare without case
                          .Session("DBPWD", "密码")
                          .Session("DBCount", 7)  // not a string: empty
                          .Build();
  PageContext context;
  ASSERT_EQ(context.Start(page.context()), S_OK);
  context.End();
  const DbSettings& s = context.settings();
  EXPECT_EQ(s.server, "db1");
  EXPECT_EQ(s.database, "chat");
  EXPECT_EQ(s.user, "sa");
  EXPECT_EQ(s.password, AnsiText("密码"));
  EXPECT_EQ(s.count_database, "");
}

TEST_F(PageContextTest, MissingSettingsGiveAConnectionStringWithEmptyParts) {
  for (bool no_session : {false, true}) {
    TestPage builder;
    if (no_session) builder.NoSession();
    InMemoryPage page = builder.Build();
    PageContext context;
    EXPECT_EQ(context.Start(page.context()), S_OK) << "a refused connection is no failure";
    EXPECT_EQ(context.HasSession(), !no_session);
    EXPECT_EQ(context.connection().connection_string(),
              "Provider=SQLOLEDB.1; Data Source=; Initial Catalog=; User ID=; PWD=");
    EXPECT_FALSE(context.connection().IsOpen());
  }
}

TEST_F(PageContextTest, PageConnectionOpensFromSessionSettingsAndOutlivesEnd) {
  zelto::testing::SeededDatabase db;
  InMemoryPage page = TestPage().Database(db.folder()).Build();
  PageContext context;
  ASSERT_EQ(context.Start(page.context()), S_OK);
  EXPECT_TRUE(context.connection().IsOpen());
  EXPECT_EQ(context.connection().connection_string(), db.ConnectionString("chat"));
  context.End();
  EXPECT_TRUE(context.connection().IsOpen()) << "the page connection lives with the object";
  EXPECT_EQ(context.settings().count_database, "count");
}

TEST_F(PageContextTest, QueryValuesAreNarrowedOrEmpty) {
  VARIANT error_value;
  VariantInit(&error_value);
  error_value.vt = VT_ERROR;
  error_value.scode = E_FAIL;
  TestPage page;
  page.Query("cid=12&msg=%E4%BD%A0%E5%A5%BD&thai=%E0%B8%81&nul=a%00b&esc=%u4F60")
      .QueryValue("n", MakeVariantI4(-5))
      .QueryValue("bad", error_value);
  struct Case {
    const char* key;
    std::string expected;
  } cases[] = {
      {"cid", "12"}, {"CID", "12"}, {"missing", ""},   {"msg", "\xC4\xE3\xBA\xC3"},
      {"thai", "?"}, {"nul", "a"},  {"esc", "%u4F60"}, {"n", "-5"},
      {"bad", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Query(page, c.key), c.expected) << c.key;
}

TEST_F(PageContextTest, CollectionFailuresGiveEmptyText) {
  const PageMember failing[] = {PageMember::kQueryString, PageMember::kQueryItem,
                                PageMember::kServerVariables, PageMember::kServerVariableItem,
                                PageMember::kSessionValue};
  for (PageMember member : failing) {
    PageRun run = TestPage()
                      .Query("cid=1")
                      .Session("timelabel", "V1")
                      .Fail(member, kRefused)
                      .Run([](PageContext& context) {
                        context.WriteResponse(context.GetQueryValue("cid") + "|" +
                                              context.GetServerVariable("REMOTE_ADDR") + "|" +
                                              context.GetSessionValue("timelabel"));
                        return S_OK;
                      });
    EXPECT_EQ(run.start_hr, S_OK);
    const std::string expected =
        std::string(member == PageMember::kQueryString || member == PageMember::kQueryItem ? ""
                                                                                           : "1") +
        "|" +
        (member == PageMember::kServerVariables || member == PageMember::kServerVariableItem
             ? ""
             : "127.0.0.1") +
        "|" + (member == PageMember::kSessionValue ? "" : "V1");
    EXPECT_EQ(run.body, expected) << static_cast<int>(member);
  }
}

TEST_F(PageContextTest, SessionValuesMustBeStrings) {
  PageRun run =
      TestPage().Session("timelabel", "访客1").Session("userid", 5).Run([](PageContext& context) {
        context.WriteResponse(context.GetSessionValue("timelabel") + "|" +
                              context.GetSessionValue("userid") + "|" +
                              context.GetSessionValue("absent"));
        return S_OK;
      });
  EXPECT_EQ(run.body, "访客1||");

  run = TestPage().NoSession().Run([](PageContext& context) {
    context.WriteResponse("[" + context.GetSessionValue("timelabel") + "]");
    return S_OK;
  });
  EXPECT_EQ(run.start_hr, S_OK);
  EXPECT_EQ(run.body, "[]");
}

TEST_F(PageContextTest, WritesAreWidenedAndEndIsPassedOn) {
  PageRun run = TestPage().Run([](PageContext& context) {
    context.WriteResponse(AnsiText("<b>提示</b>"));
    context.EndResponse();
    context.WriteResponse("after end");
    return S_FALSE;
  });
  EXPECT_EQ(run.hr, S_FALSE);
  EXPECT_EQ(run.body, "<b>提示</b>");
  EXPECT_TRUE(run.ended);

  run = TestPage()
            .Fail(PageMember::kWrite, kRefused)
            .Fail(PageMember::kEnd, kRefused)
            .Run([](PageContext& context) {
              context.WriteResponse("x");
              context.EndResponse();
              return S_OK;
            });
  EXPECT_EQ(run.hr, S_OK);
  EXPECT_EQ(run.body, "");
  EXPECT_FALSE(run.ended);
}

TEST_F(PageContextTest, OperationsAfterEndDoNothing) {
  InMemoryPage page = TestPage().Query("cid=3").Build();
  PageContext context;
  ASSERT_EQ(context.Start(page.context()), S_OK);
  context.End();
  EXPECT_EQ(context.GetQueryValue("cid"), "");
  EXPECT_EQ(context.GetServerVariable("REMOTE_ADDR"), "");
  context.WriteResponse("late");
  context.EndResponse();
  EXPECT_EQ(page.body(), u"");
  EXPECT_FALSE(page.ended());
}

}  // namespace
