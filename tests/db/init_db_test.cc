// `zelto init-db` as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/seeded_database.h"

namespace {

// Runs zelto with `args`; gives the exit status.
int Zelto(const std::string& args) {
  std::string command = std::string(ZELTO_BIN_DIR) + "/zelto " + args + " >/dev/null 2>&1";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InitDbTest, CreatesRefusesAndReplaces) {
  zelto::testing::SeededDatabase scratch;  // only for its folder
  std::string dir = scratch.folder() + "/new/data";
  ASSERT_EQ(Zelto("init-db --data " + dir + " --demo"), 0);
  EXPECT_TRUE(std::filesystem::exists(dir + "/chat.db"));
  EXPECT_TRUE(std::filesystem::exists(dir + "/count.db"));
  EXPECT_EQ(Zelto("init-db --data " + dir), 1);  // never overwrites by default
  EXPECT_EQ(Zelto("init-db --data " + dir + " --force"), 0);
  EXPECT_EQ(Zelto("init-db"), 2);
  EXPECT_EQ(Zelto("init-db --data " + dir + " --bogus"), 2);
  EXPECT_EQ(Zelto("init-db --help"), 0);
}

// Against the test cluster: both databases made, an existing one refused
// unless --force, wrong credentials refused with a message.
TEST(InitDbTest, PostgresServerGetsBothDatabases) {
  std::string why;
  auto cluster = zelto::testing::FindTestCluster(&why);
  if (!cluster) GTEST_SKIP() << why;
  const std::string account = " --user " + cluster->user + " --password " + cluster->password;
  const std::string on_server = "init-db --engine postgresql --server " + cluster->server;
  ASSERT_EQ(Zelto(on_server + account + " --demo --force"), 0);
  EXPECT_EQ(Zelto(on_server + account), 1);
  EXPECT_EQ(Zelto(on_server + " --user " + cluster->user + " --password wrong --force"), 1);
  // Through the socket directory as well; the demo data is there.
  ASSERT_EQ(Zelto("init-db --engine postgresql --server " + cluster->socket + account +
                  " --demo --force"),
            0);
  std::string output = std::string(ZELTO_BIN_DIR) + "/zelto call --engine postgresql --server " +
                       cluster->server + account + " --query companyid=1 GetClientList 5";
  FILE* pipe = popen(output.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string body;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) body.append(buf, n);
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_NE(body.find("20240520091502731"), std::string::npos) << body;
  EXPECT_EQ(Zelto("init-db --engine nosuch --server x"), 2);

  // The password from a file (first line, line end dropped), never argv; in
  // a folder of this run's own, so that concurrent runs do not share it.
  std::string folder = ::testing::TempDir() + "/zelto-init-db-XXXXXX";
  ASSERT_NE(mkdtemp(folder.data()), nullptr);
  const std::string file = folder + "/password";
  for (const std::string& line_end : {"\n", "\r\n", ""}) {
    std::ofstream(file, std::ios::binary)
        << cluster->password << line_end << (line_end.empty() ? "" : "ignored\n");
    EXPECT_EQ(Zelto(on_server + " --user " + cluster->user + " --password-file " + file +
                    " --demo --force"),
              0)
        << "line end " << line_end.size();
  }
  // `zelto call` takes it the same way.
  const std::string call = std::string(ZELTO_BIN_DIR) +
                           "/zelto call --engine postgresql --server " + cluster->server +
                           " --user " + cluster->user + " --password-file " + file +
                           " --query companyid=1 GetClientList 5 >/dev/null";
  EXPECT_EQ(std::system(call.c_str()), 0);
  std::ofstream(file, std::ios::binary) << "wrong\n";
  EXPECT_EQ(Zelto(on_server + " --user " + cluster->user + " --password-file " + file + " --force"),
            1);
  EXPECT_EQ(Zelto(on_server + " --user " + cluster->user + " --password-file " + file +
                  ".missing --force"),
            2);
  std::filesystem::remove_all(folder);
}

class InitDbDemoTest : public ::testing::TestWithParam<zelto::testing::TestEngine> {
 protected:
  void SetUp() override { ZELTO_SKIP_WITHOUT(db); }
  zelto::testing::SeededDatabase db{GetParam(), true};
};

TEST_P(InitDbDemoTest, DemoDataGivesOperatorsOfEachRight) {
  auto rows =
      db.Query("chat", "select ID, name, Popedom, Invite, conview from userinfo order by ID");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["name"], "王芳");
  EXPECT_EQ(rows[0]["Popedom"], "1");
  EXPECT_EQ(rows[2]["ID"], "12");
  EXPECT_EQ(rows[2]["Invite"], "1");
  EXPECT_EQ(db.Scalar("chat", "select count(*) from onlineCst where CompanyID=1"), "3");
  EXPECT_EQ(db.Scalar("chat", "select count(*) from C_members where cid=1"), "2");
  EXPECT_EQ(db.Scalar("count", "select count(*) from t_Iprecord"), "1");
  // Columns the component does not name have defaults.
  db.Execute("chat", "insert into msg(conid) values(77)");
  EXPECT_EQ(db.Scalar("chat",
                      "select CAST(issystem AS nvarchar(5)) + CAST(isDeleted AS nvarchar(5)) + "
                      "readFlag from msg where conid=77"),
            "00");
  // Labels compare without regard to case, as under SQL Server's collation.
  EXPECT_EQ(db.Scalar("chat",
                      "select count(*) from userinfo where name='王芳' and ID in "
                      "(select ID from userinfo where name<>'X')"),
            "1");
  db.Execute("chat", "insert into onlineCst(cstLabel,CompanyID) values('AbC',1)");
  EXPECT_EQ(db.Scalar("chat", "select count(*) from onlineCst where cstLabel='abc'"), "1");
  EXPECT_EQ(db.Scalar("chat",
                      "select count(*) from onlineCst where 'ABC' in "
                      "(select cstlabel from onlineCst)"),
            "4");
}

ZELTO_ON_EVERY_ENGINE(InitDbDemoTest);

}  // namespace
