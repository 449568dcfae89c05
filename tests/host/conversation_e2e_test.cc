// A whole conversation through `zelto call`, one process per page request,
// the way pages reach the component: by ProgID, through IDispatch.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "tests/support/seeded_database.h"

namespace {

namespace fs = std::filesystem;

struct Call {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class ConversationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!getenv("ZELTO_REGISTRY")) {
      setenv("ZELTO_REGISTRY", (fs::path(db_.folder()) / "registry").c_str(), 1);
    }
    db_.Execute(
        "chat",
        "insert into userinfo(ID,name,CompanyID,Popedom,Invite,conview) values"
        "(5,'王芳',1,1,1,1),(12,'李明',1,0,1,0),(7,'张伟',1,0,0,0)");
    db_.Execute("chat", "insert into onlineCst(cstLabel,nickName,CompanyID) values('V1001','小周',1)");
    db_.Execute(
        "chat",
        "insert into C_members(cid,serid,cstlabel,addtime,IsChat) values"
        "(1,0,'V1001','2024-01-01 10:00:00',1),(1,5,'','2024-01-01 10:00:00',1)");
  }

  // Runs `zelto call --data <db> ARGS...`, capturing both streams.
  Call Zelto(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {ZELTO_BIN_DIR "/zelto", "call", "--data",
                                     db_.folder()};
    argv.insert(argv.end(), args.begin(), args.end());
    const fs::path out = fs::path(db_.folder()) / "stdout";
    const fs::path err = fs::path(db_.folder()) / "stderr";
    pid_t pid = fork();
    if (pid == 0) {
      int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out_fd, 1);
      dup2(err_fd, 2);
      std::vector<char*> raw;
      for (auto& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      execv(raw[0], raw.data());
      _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Call call;
    call.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    call.out = ReadFile(out);
    call.err = ReadFile(err);
    return call;
  }

  Call Visitor(const std::string& query, const std::string& method) {
    return Zelto({"--session", "timelabel=V1001", "--query", query, method});
  }
  Call Operator(LONG id, const std::string& query, const std::string& method) {
    return Zelto({"--query", query, method, std::to_string(id)});
  }

  zelto::testing::SeededDatabase db_;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(ConversationTest, VisitorAndOperatorsTalkInviteAndTransfer) {
  // The visitor posts and sees the echo at once.
  Call call = Visitor("cid=1&action=sub&msgContent=hello+there", "DoClientMsg");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_TRUE(call.out.starts_with("window.top.fresh.chatmsglist.AddMsg('")) << call.out;
  EXPECT_TRUE(Contains(call.out, "我 说：")) << call.out;
  EXPECT_TRUE(Contains(call.out, "hello there")) << call.out;

  // The operator's poll brings it; the operator replies in %u escapes.
  call = Operator(5, "cid=1", "GetUserMsg");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_TRUE(Contains(call.out, "hello there")) << call.out;
  call = Operator(5, "cid=1&action=sub&msgContent=%u4F60%u597D", "DoUserMsg");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_TRUE(Contains(call.out, "你好")) << call.out;

  // The visitor's poll brings the reply, and not the visitor's own message.
  call = Visitor("cid=1", "GetClientMsg");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_TRUE(Contains(call.out, "你好")) << call.out;
  EXPECT_FALSE(Contains(call.out, "hello there")) << call.out;

  // A second operator is invited; the window closes and the page ends.
  call = Zelto({"--query", "cid=1&action=inv&serid=12", "InvitUser"});
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_EQ(call.out,
            "<script language='javascript'>alert('邀请已经成功发送');window.close();</script>");
  EXPECT_TRUE(Contains(call.err, "end=1")) << call.err;
  // Inviting again is refused, and the page goes on.
  call = Zelto({"--query", "cid=1&action=inv&serid=12", "InvitUser"});
  EXPECT_EQ(call.out, "<script language='javascript'>alert('此客服已经在会话中');</script>");
  EXPECT_TRUE(Contains(call.err, "end=0")) << call.err;

  // The invited operator sees what is posted later.
  ASSERT_EQ(Visitor("cid=1&action=sub&msgContent=anyone+else%3F", "DoClientMsg").exit_code, 0);
  call = Operator(12, "cid=1", "GetUserMsg");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_TRUE(Contains(call.out, "anyone else?")) << call.out;

  // Operator 5 hands the conversation to operator 7.
  call = Operator(5, "cid=1&action=inv&serid=7", "TranstoUser");
  ASSERT_EQ(call.exit_code, 0) << call.err;
  EXPECT_EQ(call.out,
            "<script language='javascript'>alert('已经将会话转接给张伟');"
            "window.opener.top.close();window.close();</script>");
  EXPECT_TRUE(Contains(call.err, "end=1")) << call.err;

  // Both sides see the system message naming both operators.
  const std::string notice = "王芳已经将会话转接给张伟";
  call = Visitor("cid=1", "GetClientMsg");
  EXPECT_TRUE(Contains(call.out, notice)) << call.out;
  call = Operator(7, "cid=1", "GetUserMsg");
  EXPECT_TRUE(Contains(call.out, notice)) << call.out;
  call = Operator(12, "cid=1", "GetUserMsg");
  EXPECT_TRUE(Contains(call.out, notice)) << call.out;
}

}  // namespace
