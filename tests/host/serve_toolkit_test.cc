// The operators' toolkit through the routes of `zelto serve`: whispers stay
// between operators (the visitor's poll and activity never carry them), the
// typing state and seen receipts, canned replies and visitor notes with
// who may change what.
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

class ServeToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    member_ = site_.Client();
    token_ = ServedSite::Login(*member_, 12, "demo12");
    visitor_ = site_.Client();
    label_ = site_.Visit(*visitor_);
    cid_ = std::to_string(ServedSite::OpenChat(*visitor_));
    ASSERT_EQ(visitor_->Post("/api/visitor/chat-opened", "cid=" + cid_).status, 200);
    supervisor_ = site_.Client();
    supervisor_token_ = ServedSite::Login(*supervisor_, 5, "demo5");
  }

  static HttpReply OpPost(LoopbackHttpClient& op, const std::string& token,
                          const std::string& path, const std::string& body) {
    return op.Post(path, body, {{"X-Zelto-Token", token}});
  }
  std::string Count(const std::string& sql) { return site_.db().Scalar("chat", sql); }

  ServedSite site_;
  std::unique_ptr<LoopbackHttpClient> member_, visitor_, supervisor_;
  std::string token_, supervisor_token_, label_, cid_;
};

TEST_F(ServeToolkitTest, WhispersReachOperatorsAndNeverTheVisitor) {
  const std::string words[] = {"offer%20the%20refund", "%E6%82%84%E6%82%84%E8%AF%9D"};
  ASSERT_EQ(OpPost(*supervisor_, supervisor_token_, "/api/conversation/whisper",
                   "cid=" + cid_ + "&text=" + words[0])
                .status,
            200);
  ASSERT_EQ(OpPost(*member_, token_, "/api/conversation/whisper", "cid=" + cid_ + "&text=" + words[1])
                .status,
            200);
  // The visitor (and an operator neither in it nor supervising) cannot
  // whisper; blank text is refused.
  EXPECT_EQ(visitor_->Post("/api/conversation/whisper", "cid=" + cid_ + "&text=x").status, 403);
  auto outsider = site_.Client();
  const std::string outsider_token = ServedSite::Login(*outsider, 7, "demo7");
  EXPECT_EQ(OpPost(*outsider, outsider_token, "/api/conversation/whisper",
                   "cid=" + cid_ + "&text=x")
                .status,
            403);
  EXPECT_EQ(OpPost(*member_, token_, "/api/conversation/whisper", "cid=" + cid_ + "&text=%20")
                .status,
            400);
  EXPECT_EQ(Count("select count(*) from whisper where cid=" + cid_), "2");
  EXPECT_EQ(Count("select count(*) from msg where conid=" + cid_), "0") << "never a message";

  // The visitor's poll, at once and held, and the visitor's activity.
  for (const std::string& poll : {"/visitor/GetClientMsg.asp?cid=" + cid_,
                                  "/visitor/GetClientMsg.asp?cid=" + cid_ + "&wait=1",
                                  "/api/conversation/activity?cid=" + cid_}) {
    const HttpReply reply = visitor_->Get(poll);
    EXPECT_EQ(reply.status, 200) << poll;
    for (const char* text : {"refund", "悄悄话", "whisper"})
      EXPECT_EQ(reply.body.find(text), std::string::npos) << poll << ": " << reply.body;
  }
  const HttpReply seen_by_member = member_->Get("/api/conversation/activity?cid=" + cid_);
  EXPECT_NE(seen_by_member.body.find("\"name\":\"王芳\",\"text\":\"offer the refund\""),
            std::string::npos)
      << seen_by_member.body;
  EXPECT_NE(seen_by_member.body.find("悄悄话"), std::string::npos);
  EXPECT_EQ(outsider->Get("/api/conversation/activity?cid=" + cid_).status, 403);
}

TEST_F(ServeToolkitTest, TypingWakesTheOtherSideAndPreviewFollowsTheSetting) {
  const std::string activity = "/api/conversation/activity?cid=" + cid_;
  const std::string version = member_->Get(activity).Header("x-zelto-version");
  ASSERT_FALSE(version.empty());
  // A held poll of the operator answers when the visitor starts typing.
  HttpReply woken;
  std::thread held([&] { woken = member_->Get(activity + "&wait=20&since=" + version); });
  // The held poll may start after the typing: either way it answers with it.
  ASSERT_EQ(visitor_->Post("/api/conversation/typing", "cid=" + cid_ + "&on=1&text=secret").status,
            200);
  held.join();
  EXPECT_NE(woken.Header("x-zelto-version"), version);
  EXPECT_NE(woken.body.find("\"side\":\"visitor\""), std::string::npos) << woken.body;
  EXPECT_EQ(woken.body.find("secret"), std::string::npos) << "no preview while the setting is off";
  EXPECT_NE(visitor_->Get(activity).body.find("\"typing\":[]"), std::string::npos) << "not one's own typing";

  // Only a supervisor turns the preview on.
  EXPECT_EQ(OpPost(*member_, token_, "/api/operator/typing-preview", "on=1").status, 403);
  EXPECT_EQ(OpPost(*supervisor_, supervisor_token_, "/api/operator/typing-preview", "on=1").body,
            "{\"on\":true}");
  EXPECT_NE(visitor_->Get(activity).body.find("\"sendPreview\":true"), std::string::npos);
  // A stop is always taken; a new start after it too, with the text.
  visitor_->Post("/api/conversation/typing", "cid=" + cid_ + "&on=0");
  EXPECT_NE(member_->Get(activity).body.find("\"typing\":[]"), std::string::npos);
  visitor_->Post("/api/conversation/typing", "cid=" + cid_ + "&on=1&text=hello%20pre");
  EXPECT_NE(member_->Get(activity).body.find("\"preview\":\"hello pre\""), std::string::npos);
  // The visitor learns an operator types, never an operator's text.
  OpPost(*member_, token_, "/api/conversation/typing", "cid=" + cid_ + "&on=1&text=draft");
  const HttpReply visitor_view = visitor_->Get(activity);
  EXPECT_NE(visitor_view.body.find("\"side\":\"operator\""), std::string::npos);
  EXPECT_EQ(visitor_view.body.find("draft"), std::string::npos);
  // Not for a conversation of someone else.
  EXPECT_EQ(visitor_->Post("/api/conversation/typing", "cid=1&on=1").status, 403);
}

TEST_F(ServeToolkitTest, SeenFollowsTheReadMarksOfThePolls) {
  const std::string activity = "/api/conversation/activity?cid=" + cid_;
  EXPECT_NE(visitor_->Get(activity).body.find("\"seen\":{\"lastSent\":0,\"seen\":false}"),
            std::string::npos);
  visitor_->Get("/visitor/DoClientMsg.asp?cid=" + cid_ + "&action=sub&msgContent=hi");
  EXPECT_NE(visitor_->Get(activity).body.find("\"seen\":false"), std::string::npos);
  member_->Get("/operator/GetUserMsg.asp?cid=" + cid_);
  EXPECT_NE(visitor_->Get(activity).body.find("\"seen\":true"), std::string::npos);

  member_->Get("/operator/DoUserMsg.asp?cid=" + cid_ + "&action=sub&msgContent=hello&token=" +
               token_);
  EXPECT_NE(member_->Get(activity).body.find("\"seen\":false"), std::string::npos);
  // The supervisor watching does not count as the visitor having seen it.
  supervisor_->Get("/api/conversation/view?cid=" + cid_);
  EXPECT_NE(member_->Get(activity).body.find("\"seen\":false"), std::string::npos);
  // The operator's held activity answers when the visitor's poll reads it.
  const std::string version = member_->Get(activity).Header("x-zelto-version");
  HttpReply woken;
  std::thread held([&] { woken = member_->Get(activity + "&wait=20&since=" + version); });
  EXPECT_NE(visitor_->Get("/visitor/GetClientMsg.asp?cid=" + cid_).body.find("hello"),
            std::string::npos);
  held.join();
  EXPECT_NE(woken.body.find("\"seen\":true"), std::string::npos) << woken.body;
}

TEST_F(ServeToolkitTest, CannedRepliesAndNotesKeepTheirOwners) {
  auto plain = site_.Client();
  const std::string plain_token = ServedSite::Login(*plain, 7, "demo7");
  const struct {
    LoopbackHttpClient* op;
    const std::string* token;
    std::string body;
    int status;
  } saves[] = {
      {member_.get(), &token_, "keyword=/price&text=It%20is%2010%20for%20{visitor}&scope=mine", 200},
      {member_.get(), &token_, "keyword=price&text=Now%2012&scope=mine", 200},  // replaces
      {member_.get(), &token_, "keyword=hello&text=x&scope=company", 403},
      {supervisor_.get(), &supervisor_token_, "keyword=hello&text=Hi%20{visitor}&scope=company", 200},
      {supervisor_.get(), &supervisor_token_, "keyword=price&text=company&scope=company", 200},
      {member_.get(), &token_, "keyword=a%20b&text=x&scope=mine", 400},
      {member_.get(), &token_, "keyword=&text=x&scope=mine", 400},
      {member_.get(), &token_, "keyword=ok&text=%20&scope=mine", 400},
      {member_.get(), &token_, "keyword=ok&text=x&scope=theirs", 400},
  };
  for (const auto& s : saves)
    EXPECT_EQ(OpPost(*s.op, *s.token, "/api/operator/canned/save", s.body).status, s.status)
        << s.body;
  EXPECT_EQ(Count("select count(*) from cannedResponse"), "3");
  // The operator's own reply hides the company's of the same keyword.
  const std::string mine = member_->Get("/api/operator/canned").body;
  EXPECT_NE(mine.find("\"keyword\":\"price\",\"text\":\"Now 12\",\"scope\":\"mine\""),
            std::string::npos)
      << mine;
  EXPECT_NE(mine.find("\"keyword\":\"hello\""), std::string::npos);
  const std::string others = plain->Get("/api/operator/canned").body;
  EXPECT_NE(others.find("\"text\":\"company\""), std::string::npos) << others;
  EXPECT_EQ(others.find("Now 12"), std::string::npos) << "another operator's own reply";
  const std::string company_id =
      Count("select id from cannedResponse where operatorId=0 and keyword='hello'");
  EXPECT_EQ(OpPost(*member_, token_, "/api/operator/canned/delete", "id=" + company_id).status, 403);
  EXPECT_EQ(OpPost(*supervisor_, supervisor_token_, "/api/operator/canned/delete",
                   "id=" + company_id)
                .status,
            200);
  EXPECT_EQ(Count("select count(*) from cannedResponse"), "2");

  // Notes: every operator of the company reads them; the author or a
  // supervisor removes one.
  ASSERT_EQ(OpPost(*member_, token_, "/api/operator/notes/add",
                   "label=" + label_ + "&text=prefers%20email")
                .status,
            200);
  EXPECT_EQ(OpPost(*member_, token_, "/api/operator/notes/add", "label=" + label_ + "&text=").status,
            400);
  EXPECT_NE(plain->Get("/api/operator/notes?label=" + label_).body.find("prefers email"),
            std::string::npos);
  EXPECT_EQ(visitor_->Get("/api/operator/notes?label=" + label_).status, 401);
  const std::string note = Count("select id from visitorNote");
  EXPECT_EQ(OpPost(*plain, plain_token, "/api/operator/notes/delete", "id=" + note).status, 403);
  EXPECT_EQ(OpPost(*supervisor_, supervisor_token_, "/api/operator/notes/delete", "id=" + note)
                .status,
            200);
  EXPECT_EQ(Count("select count(*) from visitorNote"), "0");
}

}  // namespace
}  // namespace zelto::testing
