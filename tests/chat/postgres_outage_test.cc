// The database server going away under a running host, on a PostgreSQL
// cluster of this suite's own (the shared one serves other tests meanwhile):
// requests during the outage fail cleanly and change nothing, and once the
// server is back the same process serves again, with the sessions it had
// pooled before replaced rather than failing a request.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "chat/user_post.h"
#include "chat/transfer.h"
#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::ScenePage;
using zelto::testing::TestEngine;

std::string g_state;  // the private cluster's state directory; empty without one
std::string g_saved_env;

int Cluster(const std::string& action) {
  const std::string command = "bash " ZELTO_SOURCE_DIR "/scripts/pg-cluster.sh " + action + " " +
                              g_state + " >/dev/null 2>&1";
  return std::system(command.c_str());
}

class PostgresOutageTest : public ChatScene {
 public:
  static void SetUpTestSuite() {
    // Only where a shared cluster exists, i.e. the server binaries do.
    std::string why;
    if (!zelto::testing::FindTestCluster(&why)) return;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelto-outage-XXXXXX";
    if (!mkdtemp(pattern.data())) return;
    g_state = pattern;
    g_saved_env = std::getenv("ZELTO_TEST_PG_ENV");
    if (Cluster("start") != 0) {
      ADD_FAILURE() << "cannot start a private PostgreSQL cluster";
      return;
    }
    setenv("ZELTO_TEST_PG_ENV", (g_state + "/cluster.env").c_str(), 1);
  }
  static void TearDownTestSuite() {
    if (g_state.empty()) return;
    Cluster("stop");
    std::filesystem::remove_all(g_state);
    setenv("ZELTO_TEST_PG_ENV", g_saved_env.c_str(), 1);
  }

 protected:
  zelto::testing::SceneResult Post(const std::string& text) {
    return Run(ScenePage{"cid=1&action=sub&msgContent=" + text},
               [](PageContext& page) { return DoUserMsg(page, 5); });
  }
  zelto::testing::SceneResult Transfer() {
    return Run(ScenePage{"cid=1&action=inv&serid=12"},
               [](PageContext& page) { return TranstoUser(page, 5); });
  }
  std::string Contents() {
    std::string list;
    for (const auto& row : Rows("select msgContent from msg order by msgID")) {
      list += row.at("msgContent") + "\n";
    }
    return list;
  }
};

TEST_P(PostgresOutageTest, RequestsFailCleanlyAndServingResumes) {
  if (g_state.empty()) GTEST_SKIP() << "no PostgreSQL server binaries";
  ASSERT_NE(Post("before").body, "");  // sessions now pooled

  ASSERT_EQ(Cluster("halt"), 0);
  const auto lost_post = Post("lost");
  EXPECT_EQ(lost_post.body, "");  // nothing stored, nothing echoed
  const auto lost_transfer = Transfer();
  EXPECT_NE(lost_transfer.body.find("会话转接失败"), std::string::npos) << lost_transfer.body;
  ASSERT_EQ(Cluster("resume"), 0);

  EXPECT_EQ(Contents(), "before\n");  // no half-written transfer
  EXPECT_EQ(Rows("select * from C_members where cid=1 and serid=5").size(), 1u);
  const auto transfer = Transfer();
  EXPECT_NE(transfer.body.find("已经将会话转接给李明"), std::string::npos) << transfer.body;
  EXPECT_EQ(Rows("select * from C_members where cid=1 and serid=5").size(), 0u);

  // A restart between two requests: the first request after it succeeds.
  ASSERT_NE(Post("pooled").body, "");
  ASSERT_EQ(Cluster("halt"), 0);
  ASSERT_EQ(Cluster("resume"), 0);
  EXPECT_NE(Post("after").body, "");
  EXPECT_EQ(Contents(), "before\n王芳已经将会话转接给李明\npooled\nafter\n");
}

INSTANTIATE_TEST_SUITE_P(Postgres, PostgresOutageTest, ::testing::Values(TestEngine::kPostgres),
                         zelto::testing::TestEngineName);

}  // namespace
