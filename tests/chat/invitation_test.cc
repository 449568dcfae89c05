#include "chat/invitation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::ScenePage;

const char kInvited[] =
    "<script language='javascript'>alert('邀请已经成功发送');window.close();</script>";
const char kAlreadyMember[] = "<script language='javascript'>alert('此客服已经在会话中');</script>";
const char kFailed[] = "<script language='javascript'>alert('邀请发送失败');</script>";

class InvitationTest : public ChatScene {
 protected:
  zelto::testing::SceneResult Invite(const std::string& query) {
    return Run(ScenePage{query}, InvitUser);
  }
};

TEST_P(InvitationTest, NewOperatorBecomesMemberAndWindowCloses) {
  const auto result = Invite("cid=1&action=inv&serid=12");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body, kInvited);
  EXPECT_TRUE(result.ended);
  const auto rows = Rows("select * from C_members where cid=1 and serid=12");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("cstlabel"), "");
  EXPECT_EQ(rows[0].at("IsChat"), "1");
  EXPECT_EQ(rows[0].at("addtime").size(), 19u);
}

TEST_P(InvitationTest, MemberIsRefusedWhateverItsChatFlag) {
  Execute("update C_members set IsChat=0 where serid=5");
  const auto result = Invite("cid=1&action=inv&serid=5");
  EXPECT_EQ(result.hr, S_OK);
  EXPECT_EQ(result.body, kAlreadyMember);
  EXPECT_FALSE(result.ended);
  EXPECT_EQ(Count("C_members where serid=5"), 1u);
}

TEST_P(InvitationTest, OtherActionsDoNothing) {
  for (const char* query : {"cid=1&serid=12", "cid=1&action=sub&serid=12",
                            "cid=1&action=INV&serid=12"}) {
    const auto result = Invite(query);
    EXPECT_EQ(result.hr, S_OK) << query;
    EXPECT_EQ(result.body, "") << query;
    EXPECT_FALSE(result.ended) << query;
  }
  EXPECT_EQ(Count("C_members"), 2u);
}

TEST_P(InvitationTest, FailureIsNeverReportedAsSuccessNorAsMembership) {
  for (const char* query : {"action=inv&serid=12", "cid=1&action=inv",
                            "cid=1&action=inv&serid=12+or+1%3D1", "cid=x&action=inv&serid=12"}) {
    const auto result = Invite(query);
    EXPECT_EQ(result.body, kFailed) << query;
    EXPECT_FALSE(result.ended) << query;
  }
  RefuseInserts("C_members");
  const auto result = Invite("cid=1&action=inv&serid=12");
  EXPECT_EQ(result.body, kFailed);
  EXPECT_FALSE(result.ended);
  EXPECT_EQ(Count("C_members"), 2u);
}

TEST_P(InvitationTest, SimultaneousInvitationsMakeOneRow) {
  constexpr int kThreads = 4;
  for (int round = 0; round < 5; ++round) {
    const std::string query = "cid=1&action=inv&serid=" + std::to_string(100 + round);
    std::atomic<int> ready{0};
    std::vector<zelto::testing::SceneResult> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        ++ready;
        while (ready < kThreads) std::this_thread::yield();
        results[i] = Invite(query);
      });
    }
    for (auto& t : threads) t.join();
    int successes = 0;
    for (const auto& r : results) {
      if (r.ended) {
        ++successes;
        EXPECT_EQ(r.body, kInvited);
      } else {
        EXPECT_TRUE(r.body == kAlreadyMember || r.body == kFailed) << r.body;
      }
    }
    EXPECT_EQ(successes, 1) << query;
    EXPECT_EQ(Count("C_members where serid=" + std::to_string(100 + round)), 1u) << query;
  }
}

ZELTO_ON_EVERY_ENGINE(InvitationTest);

}  // namespace
