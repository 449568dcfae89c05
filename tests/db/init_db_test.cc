// `zelto init-db` as a user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

TEST(InitDbTest, DemoDataGivesOperatorsOfEachRight) {
  zelto::testing::SeededDatabase db(true);
  auto rows = db.Query("chat", "select ID, name, Popedom, Invite, conview from userinfo order by ID");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["name"], "王芳");
  EXPECT_EQ(rows[0]["Popedom"], "1");
  EXPECT_EQ(rows[2]["ID"], "12");
  EXPECT_EQ(rows[2]["Invite"], "1");
  EXPECT_EQ(db.Scalar("chat", "select count(*) from onlineCst where CompanyID=1"), "3");
  EXPECT_EQ(db.Scalar("chat", "select count(*) from C_members where cid=1"), "2");
  EXPECT_EQ(db.Scalar("count", "select count(*) from t_Iprecord"), "1");
  // Columns the component does not name have defaults.
  db.Execute("chat", "insert into msg(conid) values(1)");
  EXPECT_EQ(db.Scalar("chat", "select issystem||isDeleted||readFlag from msg where conid=1"), "00");
}

}  // namespace
