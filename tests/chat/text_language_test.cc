// The chat methods' own texts follow the session value "ZeltoLanguage":
// English for "en" tags, the Chinese texts byte for byte without one or for a
// language the component has no texts in.
#include <gtest/gtest.h>

#include <string>

#include "chat/client_post.h"
#include "chat/invitation.h"
#include "chat/polling.h"
#include "chat/transfer.h"
#include "chat/user_post.h"
#include "tests/support/chat_scene.h"

namespace {

using zelto::testing::ChatScene;
using zelto::testing::ScenePage;

class TextLanguageTest : public ChatScene {
 protected:
  // Runs `method` on `query` with the language session value `language`
  // (none when empty) and the visitor's label; the body.
  std::string Body(const std::string& language, const std::string& query,
                   const std::function<HRESULT(PageContext&)>& method) {
    ScenePage page{query};
    page.session = {{"timelabel", "V1001"}};
    if (!language.empty()) page.session.emplace_back("ZeltoLanguage", language);
    return Run(page, method).body;
  }
};

TEST_P(TextLanguageTest, EveryTextOfTheChatMethods) {
  // A visitor without a nickname, for the operator's "Customer" line.
  Execute("update onlineCst set nickName='' where cstLabel='V1001'");
  struct Case {
    const char* what;
    std::string query;
    std::function<HRESULT(PageContext&)> method;
    const char* chinese;
    const char* english;
  };
  const Case cases[] = {
      {"visitor's echo", "cid=1&action=sub&msgContent=hi", DoClientMsg,
       "<font color=#990000>我 说：</font>", "<font color=#990000>Me:</font>"},
      {"operator's echo", "cid=1&action=sub&msgContent=hello",
       [](PageContext& p) { return DoUserMsg(p, 5); }, "<font color=#990000>我 说：</font>",
       "<font color=#990000>Me:</font>"},
      {"operator's poll heads the visitor's message", "cid=1",
       [](PageContext& p) { return GetUserMsg(p, 12); },
       "<font color='#990000'>客户V1001 说：</font>",
       "<font color='#990000'>Customer V1001 says:</font>"},
      {"visitor's poll heads the operator's message", "cid=1", GetClientMsg,
       "<font color='#990000'>王芳 说：</font>", "<font color='#990000'>王芳 says:</font>"},
      {"invitation of a member", "cid=1&action=inv&serid=5", InvitUser,
       "alert('此客服已经在会话中');", "alert('This operator is already in the conversation.');"},
      {"invitation that fails", "cid=x&action=inv&serid=5", InvitUser, "alert('邀请发送失败');",
       "alert('The invitation could not be sent.');"},
      {"transfer that fails", "cid=1&action=inv&serid=x",
       [](PageContext& p) { return TranstoUser(p, 5); }, "alert('会话转接失败');",
       "alert('The conversation could not be transferred.');"},
  };
  // Each case runs in Chinese (no value, and a language without texts)
  // before English, so the polls find the messages the posts stored; every
  // poll's messages are marked read, so each language polls its own reader.
  for (const Case& c : cases) {
    for (const std::string language : {"", "fr", "zh-CN"}) {
      const std::string body = Body(language, c.query, c.method);
      if (std::string(c.what).find("poll") != std::string::npos && body.empty()) continue;
      EXPECT_NE(body.find(c.chinese), std::string::npos)
          << c.what << " [" << language << "] " << body;
    }
  }
  Execute("update msg set readFlag=''");
  for (const Case& c : cases) {
    const std::string body = Body("en-GB", c.query, c.method);
    EXPECT_NE(body.find(c.english), std::string::npos) << c.what << ": " << body;
  }
}

TEST_P(TextLanguageTest, InvitationAndTransferInEnglish) {
  EXPECT_EQ(Body("en", "cid=1&action=inv&serid=12", InvitUser),
            "<script language='javascript'>alert('The invitation has been sent.');"
            "window.close();</script>");
  EXPECT_EQ(
      Body("EN", "cid=1&action=inv&serid=7", [](PageContext& p) { return TranstoUser(p, 5); }),
      "<script language='javascript'>alert('The conversation has been transferred to "
      "张伟');window.opener.top.close();window.close();</script>");
  // The system message is stored in the language of the operator who
  // transferred; everybody's poll shows it as it was stored.
  const auto rows = Rows("select msgContent from msg where issystem=1");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("msgContent"), "王芳 has transferred the conversation to 张伟");
  const std::string poll = Body("en", "cid=1", GetClientMsg);
  EXPECT_NE(poll.find("<font color='#990000'>System message</font>"), std::string::npos) << poll;
}

ZELTO_ON_EVERY_ENGINE(TextLanguageTest);

}  // namespace
