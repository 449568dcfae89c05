// Hostile input through `zelto serve`: every value a visitor controls, and
// every way to pose as someone else, sent through the routes the pages use.
// Each is refused with a clear 4xx or shown as inert text, and what the
// database holds is left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win/codepage.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {
namespace fs = std::filesystem;

// A distinctive element, after quotes that would end an attribute or a
// script string if they were pasted in unescaped.
constexpr char kPayload[] = "'\"><zx-evil onmouseover=alert(1)>\\";
// kPayload as it must read once escaped for HTML...
constexpr char kPayloadInHtml[] = "&#39;&quot;&gt;&lt;zx-evil onmouseover=alert(1)&gt;\\";
// ...and for a JSON string.
constexpr char kPayloadInJson[] = "'\\\"\\u003e\\u003czx-evil onmouseover=alert(1)\\u003e\\\\";

// Every UTF-16 unit as %uXXXX, as the chat windows send message texts.
std::string EscapeMessage(const std::string& utf8) {
  std::string out;
  for (char16_t unit : Utf8ToWide(utf8)) {
    char piece[8];
    std::snprintf(piece, sizeof piece, "%%u%04X", static_cast<unsigned>(unit));
    out += piece;
  }
  return out;
}

std::string PercentEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.';
    char piece[4];
    std::snprintf(piece, sizeof piece, "%%%02X", c);
    out += plain ? std::string(1, static_cast<char>(c)) : piece;
  }
  return out;
}

// The rows the site's users change, as one text to compare before and after.
std::string Rows(SeededDatabase& db) {
  std::string all;
  for (const char* table :
       {"msg", "onlineCst", "conversation", "C_members", "preMsg", "inviteMsg", "userinfo"}) {
    all += std::string("[") + table + "]\n";
    for (const SeededRow& row : db.Query("chat", std::string("select * from ") + table)) {
      for (const auto& [column, value] : row) all += column + "=" + value + ";";
      all += "\n";
    }
  }
  return all;
}

// The first line where the rows differ, or "" when they are the same.
std::string FirstDifference(const std::string& before, const std::string& after) {
  size_t a = 0, b = 0;
  while (a < before.size() || b < after.size()) {
    const size_t a_end = std::min(before.find('\n', a), before.size());
    const size_t b_end = std::min(after.find('\n', b), after.size());
    const std::string x = before.substr(a, a_end - a), y = after.substr(b, b_end - b);
    if (x != y) return "before: " + x + "\nafter:  " + y;
    a = a_end + 1;
    b = b_end + 1;
  }
  return "";
}

bool IsValidUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

// Each echo line is one call AddMsg('...'); whose single-quoted string ends
// exactly at its closing "');": nothing in a message can end it early.
void ExpectWholeScriptStrings(const std::string& body, const std::string& context) {
  static const std::string kStart = "window.top.fresh.chatmsglist.AddMsg('";
  size_t lines = 0;
  size_t at = 0;
  while ((at = body.find(kStart, at)) != std::string::npos) {
    ++lines;
    size_t i = at + kStart.size();
    while (i < body.size() && body[i] != '\'' && body[i] != '\n' && body[i] != '\r')
      i += body[i] == '\\' ? 2 : 1;
    ASSERT_LT(i, body.size()) << context;
    EXPECT_EQ(body.compare(i, 3, "');"), 0) << context << ": string ends early in " << body;
    at = i;
  }
  EXPECT_GT(lines, 0u) << context << ": no echo in " << body;
}

// The cases were written for the GBK component, whose stored texts they
// state (a character GBK lacks is '?'); ServeHostileUtf8Test runs the
// default UTF-8 component.
class ServeHostileInputTest : public ::testing::Test {
 protected:
  explicit ServeHostileInputTest(std::vector<std::string> args = {"--codepage", "936"})
      : site_(std::move(args)) {}
  void SetUp() override {
    visitor_ = site_.Client();
    label_ = site_.Visit(*visitor_);
    operator_ = site_.Client();
    token_ = ServedSite::Login(*operator_, 5, "demo5");
    cid_ = std::to_string(ServedSite::OpenChat(*visitor_));
  }

  HttpReply VisitorPost(const std::string& msg_content, const std::string& adjunct = "") {
    return visitor_->Get("/visitor/DoClientMsg.asp?cid=" + cid_ +
                         "&action=sub&msgContent=" + msg_content + "&adjunct=" + adjunct);
  }
  std::string MessageCount() { return site_.db().Scalar("chat", "select count(*) from msg"); }

  ServedSite site_;
  std::unique_ptr<LoopbackHttpClient> visitor_, operator_;
  std::string label_, token_, cid_;
};

TEST_F(ServeHostileInputTest, MessageTextsAreStoredAsSentAndEchoedInert) {
  const struct {
    const char* what;
    std::string sent;    // msgContent as it goes on the wire
    std::string stored;  // the msg row's text
  } cases[] = {
      {"quotes and backslashes", EscapeMessage("it's \"x\" \\ \\' '"), "it's \"x\" \\ \\' '"},
      {"script", EscapeMessage("<script>alert(1)</script>"), "<script>alert(1)</script>"},
      {"payload", EscapeMessage(kPayload), kPayload},
      // U+2028 ends a line in older script engines; outside the code page it is '?'.
      {"line breaks",
       EscapeMessage("a\nb\r\nc\xE2\x80\xA8"
                     "d"),
       "a\nb\r\nc?d"},
      {"sql", EscapeMessage("x'); delete from msg; --"), "x'); delete from msg; --"},
      {"plain quotes unescaped", "it%27s%20%22q%22%5C", "it's \"q\"\\"},
  };
  for (const auto& c : cases) {
    const HttpReply echo = VisitorPost(c.sent);
    ASSERT_EQ(echo.status, 200) << c.what;
    EXPECT_EQ(echo.Header("x-zelto-hresult"), "0x00000000") << c.what;
    ExpectWholeScriptStrings(echo.body, c.what);
    EXPECT_EQ(echo.body.find("<script"), std::string::npos) << c.what;
    EXPECT_EQ(echo.body.find("<zx-evil"), std::string::npos) << c.what;
    EXPECT_EQ(site_.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1"),
              c.stored)
        << c.what;
  }
  const HttpReply poll = operator_->Get("/operator/GetUserMsg.asp?cid=" + cid_);
  EXPECT_EQ(poll.body.find("<script"), std::string::npos);
  EXPECT_EQ(poll.body.find("<zx-evil"), std::string::npos);
  EXPECT_NE(poll.body.find(kPayloadInHtml), std::string::npos) << poll.body;
}

class ServeHostileUtf8Test : public ServeHostileInputTest {
 protected:
  ServeHostileUtf8Test() : ServeHostileInputTest({}) {}
};

// On the default UTF-8 site every line break is stored as sent, U+2028 and
// U+2029 included, and none ends the echo's script string early.
TEST_F(ServeHostileUtf8Test, LineBreaksAreStoredWholeAndEchoedInert) {
  for (const std::string text : {std::string("a\nb\r\nc\xE2\x80\xA8"
                                             "d\xE2\x80\xA9"
                                             "e"),
                                 std::string(kPayload)}) {
    const HttpReply echo = VisitorPost(EscapeMessage(text));
    ASSERT_EQ(echo.status, 200);
    ExpectWholeScriptStrings(echo.body, text);
    EXPECT_EQ(echo.body.find("<zx-evil"), std::string::npos);
    EXPECT_EQ(site_.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1"),
              text);
  }
  const HttpReply poll = operator_->Get("/operator/GetUserMsg.asp?cid=" + cid_);
  EXPECT_NE(poll.body.find("c\xE2\x80\xA8"
                           "d"),
            std::string::npos);
  EXPECT_EQ(poll.body.find("<zx-evil"), std::string::npos);
}

TEST_F(ServeHostileInputTest, NulCharactersAreRefusedBeforeAnythingIsStored) {
  // A NUL would cut the text short where the component reads it: the
  // message would be stored with its end silently missing.
  const std::string before = Rows(site_.db());
  for (const std::string& sent : {std::string("a%00b"), std::string("%00"), std::string("ok")}) {
    for (const std::string& adjunct : {std::string(), std::string("x%00.png")}) {
      if (sent == "ok" && adjunct.empty()) continue;
      const HttpReply reply = VisitorPost(sent, adjunct);
      EXPECT_EQ(reply.status, 400) << sent << " " << adjunct;
    }
  }
  const HttpReply op = operator_->Get("/operator/DoUserMsg.asp?cid=" + cid_ +
                                      "&action=sub&msgContent=a%00b&token=" + token_);
  EXPECT_EQ(op.status, 400);
  EXPECT_EQ(FirstDifference(before, Rows(site_.db())), "");
}

TEST_F(ServeHostileInputTest, InvalidUtf8IsStoredAsValidText) {
  for (const char* sent : {"b%FF%C3%28c", "%E4%BD", "%C0%AF..%C0%AF", "%ED%A0%80x"}) {
    const HttpReply echo = VisitorPost(sent);
    ASSERT_EQ(echo.status, 200) << sent;
    ExpectWholeScriptStrings(echo.body, sent);
    EXPECT_TRUE(IsValidUtf8(echo.body)) << sent;
    const std::string stored =
        site_.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1");
    EXPECT_TRUE(IsValidUtf8(stored)) << sent;
    EXPECT_EQ(stored.find('/'), std::string::npos) << "overlong '/' decoded: " << sent;
  }
}

TEST_F(ServeHostileInputTest, OneMegabyteMessagesAreRefusedWith413) {
  const std::string count = MessageCount();
  for (const std::string& sent :
       {std::string(1 << 20, 'a'), EscapeMessage(std::string(200 * 1024, 'b')),
        std::string(20 * 1024, 'c')}) {
    auto client = site_.Client();
    client->cookies() = visitor_->cookies();
    const HttpReply reply = client->Get("/visitor/DoClientMsg.asp?cid=" + cid_ +
                                        "&action=sub&adjunct=&msgContent=" + sent);
    EXPECT_EQ(reply.status, 413) << sent.size();
    EXPECT_LT(reply.body.size(), 200u);
    EXPECT_NE(reply.body.find("too large"), std::string::npos) << reply.body;
  }
  EXPECT_EQ(MessageCount(), count);
  EXPECT_EQ(VisitorPost("still%20here").status, 200);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where msgContent='still here'"),
            "1");
}

TEST_F(ServeHostileInputTest, ScriptInVisitorFieldsIsInertOnEveryOperatorPage) {
  // The referrer and its search words arrive with a new visitor; the
  // nickname is what another page of the application may have stored.
  auto hostile = site_.Client();
  const std::string referrer =
      "http://search.example/s?wd=" + PercentEncode(kPayload) + "&x=" + PercentEncode(kPayload);
  const std::string label = site_.Visit(*hostile, referrer);
  ASSERT_FALSE(label.empty());
  EXPECT_EQ(
      site_.db().Scalar("chat", "select searchkey from onlineCst where cstLabel='" + label + "'"),
      kPayload);
  const int hostile_cid = ServedSite::OpenChat(*hostile);
  const std::string hc = std::to_string(hostile_cid);
  site_.db().Execute("chat", "update onlineCst set NickName='" + std::string("'") +
                                 "'\"><zx-evil onmouseover=alert(1)>\\' where cstLabel='" + label +
                                 "'");
  ASSERT_EQ(
      site_.db().Scalar("chat", "select NickName from onlineCst where cstLabel='" + label + "'"),
      kPayload);
  ASSERT_EQ(hostile
                ->Get("/visitor/DoClientMsg.asp?cid=" + hc +
                      "&action=sub&msgContent=" + EscapeMessage(kPayload) + "&adjunct=")
                .status,
            200);
  // An operator of the conversation, and one it is handed to.
  ASSERT_EQ(
      operator_->Get("/operator/InvitUser.asp?cid=" + hc + "&serid=5&action=inv&token=" + token_)
          .status,
      200);

  const struct {
    const char* target;
    const char* escaped;  // the payload as the page must carry it
  } pages[] = {
      {"/operator/GetClientList.asp?companyid=1",
       "&#39;&quot;&gt;&lt;zx-evil onmouseover=alert(1)&gt;\\\\"},
      {"/operator/GetMonitorList.asp", kPayloadInHtml},
      {"/api/operator/conversations", kPayloadInJson},
  };
  for (const auto& page : pages) {
    const HttpReply reply = operator_->Get(page.target);
    EXPECT_EQ(reply.status, 200) << page.target;
    EXPECT_EQ(reply.body.find("<zx-evil"), std::string::npos) << page.target;
    EXPECT_NE(reply.body.find(page.escaped), std::string::npos)
        << page.target << ": " << reply.body;
  }
  const HttpReply poll = operator_->Get("/operator/GetUserMsg.asp?cid=" + hc);
  EXPECT_EQ(poll.body.find("<zx-evil"), std::string::npos);
  // The nickname above the message and the message itself.
  size_t shown = 0;
  for (size_t at = 0; (at = poll.body.find(kPayloadInHtml, at)) != std::string::npos; ++at) ++shown;
  EXPECT_EQ(shown, 2u) << poll.body;

  // The transfer's notice names the operators; with a hostile name it stays
  // inside its script string and the message list.
  site_.db().Execute("chat",
                     "update userinfo set name='</script><zx-evil onmouseover=alert(1)>''' "
                     "where ID=12");
  const HttpReply moved = operator_->Get("/operator/TranstoUser.asp?cid=" + hc +
                                         "&serid=12&action=inv&token=" + token_);
  EXPECT_EQ(moved.status, 200);
  // Inside the script string the name cannot close the element early.
  EXPECT_EQ(moved.body.find("</script>"), moved.body.size() - 9) << moved.body;
  EXPECT_NE(moved.body.find("<\\/script><zx-evil onmouseover=alert(1)>\\'"), std::string::npos)
      << moved.body;
  const HttpReply seen = hostile->Get("/visitor/GetClientMsg.asp?cid=" + hc);
  EXPECT_EQ(seen.body.find("<zx-evil"), std::string::npos) << seen.body;
  EXPECT_NE(seen.body.find("&lt;/script&gt;&lt;zx-evil"), std::string::npos) << seen.body;
}

TEST_F(ServeHostileInputTest, AttachmentNamesNeverLeaveTheFilesFolder) {
  const fs::path data = site_.db().folder();
  const auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(data))
      names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = listing();
  const std::string evil = "zelto-hostile-evil.txt";
  size_t uploads = 0;
  for (const std::string name :
       {"..%2F..%2F" + evil, "%2e%2e%2f%2e%2e%2f" + evil, "..%5C..%5C" + evil, "%2Ftmp%2F" + evil,
        "C%3A%5C" + evil, evil + "%00.png", std::string("%2E%2E"), "files%2F..%2F..%2F" + evil,
        std::string("%3Cimg%20src%3Dx%20onerror%3Dalert(1)%3E.png")}) {
    const HttpReply reply = visitor_->Post("/api/upload?name=" + name, "upload " + name,
                                           {{"Content-Type", "application/octet-stream"}});
    ASSERT_EQ(reply.status, 200) << name;
    const std::string stored = JsonText(reply.body, "name");
    EXPECT_EQ(stored.find_first_of("/\\<>'\"% "), std::string::npos) << name << " -> " << stored;
    EXPECT_EQ(stored.find(".."), std::string::npos) << name << " -> " << stored;
    EXPECT_TRUE(fs::is_regular_file(data / "files" / stored)) << name << " -> " << stored;
    ++uploads;
  }
  // Nothing but the new files appeared, all in files/, and nothing above.
  const std::vector<std::string> after = listing();
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  std::erase(added, (data / "files").string());
  EXPECT_EQ(added.size(), uploads);
  for (const std::string& path : added) EXPECT_EQ(fs::path(path).parent_path(), data / "files");
  for (const fs::path& outside : {data / evil, data.parent_path() / evil, fs::path("/tmp") / evil})
    EXPECT_FALSE(fs::exists(outside)) << outside;

  // Downloads: every spelling of a way out of files/ is refused.
  for (const char* target :
       {"/files/..%2Fchat.db", "/files/%2e%2e%2fchat.db", "/files/%2E%2E/chat.db",
        "/files/..%5Cchat.db", "/files/..\\chat.db", "/visitor/files/..%2F..%2Fsecret.txt",
        "/operator/files/%2Fetc%2Fpasswd", "/files/%00", "/files/chat.db%00.png",
        "/files/%252e%252e%252fchat.db", "/files//etc/passwd", "/x/y/files/chat.db"}) {
    const HttpReply reply = visitor_->Get(target);
    EXPECT_GE(reply.status, 400) << target;
    EXPECT_LT(reply.status, 500) << target;
    EXPECT_EQ(reply.body.find("SQLite format"), std::string::npos) << target;
    EXPECT_EQ(reply.body.find("root:"), std::string::npos) << target;
  }
}

TEST_F(ServeHostileInputTest, MessageAttachmentsNameOnlyStoredFiles) {
  // The message's attachment becomes a link under files/: a name with a
  // path in it would lead the operator's browser elsewhere.
  const std::string before = Rows(site_.db());
  for (const char* adjunct :
       {"..%2F..%2Fchat.db", "..%5Cchat.db", "%2Fetc%2Fpasswd", "%2e%2e%2fchat.db",
        "a.png%27%3E%3Czx-evil%3E", "a%20b.png", ".htaccess", "a%2Fb.png"}) {
    const HttpReply reply = VisitorPost("see", adjunct);
    EXPECT_EQ(reply.status, 400) << adjunct;
    const HttpReply op =
        operator_->Get("/operator/DoUserMsg.asp?cid=" + cid_ +
                       "&action=sub&msgContent=see&adjunct=" + adjunct + "&token=" + token_);
    EXPECT_EQ(op.status, 400) << adjunct;
  }
  EXPECT_EQ(FirstDifference(before, Rows(site_.db())), "");

  const std::string stored = JsonText(
      visitor_->Post("/api/upload?name=report.pdf", "%PDF", {{"Content-Type", "application/pdf"}})
          .body,
      "name");
  const HttpReply posted = VisitorPost("see", stored);
  EXPECT_EQ(posted.status, 200);
  EXPECT_NE(posted.body.find("files/" + stored), std::string::npos) << posted.body;
}

TEST_F(ServeHostileInputTest, OperatorIdsInRequestsNeverOverrideTheSession) {
  auto clerk = site_.Client();
  const std::string token = ServedSite::Login(*clerk, 7, "demo7");
  clerk->cookies()["operator_id"] = "5";
  const std::string forged = "&userid=5&userID=5&serid=5&operator_id=5&id=5&userID_send=5";
  EXPECT_EQ(JsonNumber(clerk->Get("/api/me?id=5&operator_id=5").body, "id"), 7);
  // 7 is not a member of the conversation; a forged id does not make it one.
  const HttpReply poll = clerk->Get("/operator/GetUserMsg.asp?cid=" + cid_ + forged);
  EXPECT_EQ(poll.body.find("window.top"), std::string::npos);
  EXPECT_EQ(clerk->Get("/operator/GetClientList.asp?companyid=1" + forged).body, "");
  EXPECT_EQ(clerk->Get("/operator/GetMonitorList.asp?" + forged.substr(1)).body, "");
  const std::string post =
      "/operator/DoUserMsg.asp?cid=" + cid_ + "&action=sub&msgContent=forged" + forged;
  EXPECT_EQ(clerk->Get(post + "&token=" + token).status, 403) << "not a member";
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from msg where msgContent='forged'"), "0");
  // Made a member, 7 posts as 7 whatever the query says.
  site_.db().Execute("chat", "insert into C_members (cid, serid, cstlabel, IsChat) values (" +
                                 cid_ + ", 7, '', 1)");
  ASSERT_EQ(clerk->Get(post + "&token=" + token).status, 200);
  EXPECT_EQ(site_.db().Scalar("chat", "select userID_send from msg where msgContent='forged'"),
            "7");
  site_.db().Execute("chat", "delete from C_members where serid=7");
  EXPECT_EQ(clerk->Post("/api/conversation/end", "cid=" + cid_ + forged, {{"X-Zelto-Token", token}})
                .status,
            403);
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from conversation where cid=" + cid_), "1");
  // Login takes the id from its form only, and the password must match it.
  auto other = site_.Client();
  EXPECT_EQ(other->Post("/api/login?id=5", "id=7&password=demo5").status, 401);
  EXPECT_EQ(other->Post("/api/login?id=5&password=demo5", "").status, 400);
}

TEST_F(ServeHostileInputTest, StateChangingOperatorRoutesNeedTheSessionsToken) {
  auto other = site_.Client();
  const std::string other_token = ServedSite::Login(*other, 12, "demo12");
  std::string upper = token_;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::vector<std::string> forged_tokens = {"",
                                                  "0",
                                                  other_token,
                                                  token_.substr(1),
                                                  token_ + "0",
                                                  upper,
                                                  std::string(4096, 'a'),
                                                  token_ + "%00"};
  const std::string before = Rows(site_.db());
  const std::string get_routes[] = {
      "/operator/DoUserMsg.asp?cid=" + cid_ + "&action=sub&msgContent=forged",
      "/operator/InvitUser.asp?cid=" + cid_ + "&serid=7&action=inv",
      "/operator/TranstoUser.asp?cid=" + cid_ + "&serid=7&action=inv",
      "/operator/CheckDomain.asp?domains=a.example;b.example",
      "/operator/cstReWin.asp?cstLabel=" + label_ + "&companyid=1",
      "/operator/cstReWin.asp?cstLabel=20240520094005468&companyid=1",
  };
  for (const std::string& route : get_routes) {
    EXPECT_EQ(operator_->Get(route).status, 403) << route;
    for (const std::string& forged : forged_tokens)
      EXPECT_EQ(operator_->Get(route + "&token=" + forged).status, 403) << route << " " << forged;
    // The token belongs in the query of a GET, never in a header alone.
    EXPECT_EQ(operator_->Get(route, {{"X-Zelto-Token", token_}}).status, 403) << route;
  }
  const std::pair<std::string, std::string> post_routes[] = {
      {"/api/operator/invite-visitor", "cstLabel=" + label_},
      {"/api/conversation/end", "cid=" + cid_},
      {"/api/upload?name=a.txt", "content"},
      {"/api/logout", ""},
  };
  for (const auto& [route, body] : post_routes) {
    EXPECT_EQ(operator_->Post(route, body).status, 403) << route;
    EXPECT_EQ(operator_->Post(route, body + "&token=" + token_).status, 403) << route;
    for (const std::string& forged : forged_tokens) {
      if (forged.find('%') != std::string::npos) continue;  // not a header value
      EXPECT_EQ(operator_->Post(route, body, {{"X-Zelto-Token", forged}}).status, 403)
          << route << " " << forged;
    }
  }
  EXPECT_EQ(FirstDifference(before, Rows(site_.db())), "");
  EXPECT_EQ(operator_->Get("/api/me").status, 200) << "still logged in";

  // With the right token each works.
  const HttpReply taken =
      operator_->Get("/operator/cstReWin.asp?cstLabel=" + label_ + "&companyid=1&token=" + token_);
  EXPECT_EQ(taken.status, 302);
  EXPECT_EQ(taken.Header("location"), "/operator/chat.html?cid=" + cid_);
  EXPECT_EQ(
      operator_->Post("/api/conversation/end", "cid=" + cid_, {{"X-Zelto-Token", token_}}).status,
      200);
}

TEST_F(ServeHostileInputTest, LoginNeverKeepsASessionIdChosenBeforeIt) {
  const struct {
    const char* what;
    std::string planted;  // "" for the visitor's own live session
  } cases[] = {
      {"an id the host never issued", "0123456789abcdef0123456789abcdef"},
      {"a malformed id", "'; drop table userinfo; --"},
      {"a live visitor session", ""},
  };
  for (const auto& c : cases) {
    auto victim = site_.Client();
    if (c.planted.empty()) {
      site_.Visit(*victim);
    } else {
      victim->cookies()["ZSESSIONID"] = c.planted;
    }
    const std::string planted = victim->cookies()["ZSESSIONID"];
    auto attacker = site_.Client();
    attacker->cookies()["ZSESSIONID"] = planted;
    ServedSite::Login(*victim, 12, "demo12");
    const std::string issued = victim->cookies()["ZSESSIONID"];
    EXPECT_NE(issued, planted) << c.what;
    EXPECT_EQ(issued.size(), 32u) << c.what;
    EXPECT_EQ(JsonNumber(victim->Get("/api/me").body, "id"), 12) << c.what;
    EXPECT_EQ(attacker->Get("/api/me").status, 401) << c.what;
    EXPECT_EQ(attacker->Get("/operator/GetUserMsg.asp?cid=1").status, 401) << c.what;
  }
}

TEST_F(ServeHostileInputTest, ForgedVisitorCookiesGetNobodysIdentity) {
  const std::string genuine = visitor_->cookies()["ZVISITOR"];
  ASSERT_NE(genuine.find('.'), std::string::npos);
  const std::string mac = genuine.substr(genuine.find('.') + 1);
  std::string flipped = genuine;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  const std::string forged_cookies[] = {
      flipped,
      "20240520091502731." + mac,        // the demo visitor, with another's MAC
      "20240520091502731",               // no MAC at all
      label_ + ".",                      // empty MAC
      "<zx-evil>." + mac,                // markup as the label
      "V1'or'1'='1." + mac,              // SQL as the label
      std::string(60, 'V') + "." + mac,  // a label too long to be one
      genuine + genuine,                 // two glued together
      std::string(8000, 'A'),
  };
  const std::string visitors_before = site_.db().Scalar("chat", "select count(*) from onlineCst");
  for (const std::string& cookie : forged_cookies) {
    auto stranger = site_.Client();
    stranger->cookies()["ZVISITOR"] = cookie;
    const std::string context = cookie.substr(0, 40);
    EXPECT_EQ(stranger->Get("/visitor/GetClientMsg.asp?cid=" + cid_).status, 403) << context;
    EXPECT_EQ(stranger->Get("/visitor/GetClientMsg.asp?cid=1").status, 403) << context;
    EXPECT_EQ(stranger->Post("/api/visitor/chat", "").status, 403) << context;
    EXPECT_EQ(stranger->Get("/api/visitor/invitation").status, 403) << context;
  }
  EXPECT_EQ(site_.db().Scalar("chat", "select count(*) from onlineCst"), visitors_before);
  // On the company site a forged cookie is a stranger: a label of its own.
  auto stranger = site_.Client();
  stranger->cookies()["ZVISITOR"] = flipped;
  const std::string label = site_.Visit(*stranger);
  EXPECT_NE(label, label_);
  EXPECT_NE(stranger->cookies()["ZVISITOR"], flipped);
}

TEST_F(ServeHostileInputTest, OverlongCookiesAndHeadersAre431) {
  const std::string before = Rows(site_.db());
  for (const std::string& header : {"Cookie: ZSESSIONID=" + std::string(20 * 1024, 'a'),
                                    "Cookie: ZVISITOR=" + std::string(20 * 1024, 'b'),
                                    "Referer: http://x/?wd=" + std::string(64 * 1024, 'c'),
                                    "X-Zelto-Token: " + std::string(20 * 1024, 'd')}) {
    const HttpReply reply =
        visitor_->SendRaw("GET /site/index.html HTTP/1.1\r\nHost: x\r\n" + header + "\r\n\r\n");
    EXPECT_EQ(reply.status, 431) << header.substr(0, 20);
  }
  // Many cookies that fit: the host takes its own and ignores the rest.
  std::string many = "Cookie: ";
  for (int i = 0; i < 300; ++i) many += "c" + std::to_string(i) + "=" + std::string(20, 'x') + "; ";
  many += "ZSESSIONID=" + visitor_->cookies()["ZSESSIONID"];
  const HttpReply reply = visitor_->SendRaw("GET /visitor/GetClientMsg.asp?cid=" + cid_ +
                                            " HTTP/1.1\r\nHost: x\r\n" + many + "\r\n\r\n");
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(FirstDifference(before, Rows(site_.db())), "");
  EXPECT_EQ(site_.Client()->Get("/healthz").status, 200);
}

class ServeHostileGbkTest : public ::testing::Test {
 protected:
  ServedSite site_{{"--charset", "gbk"}};
};

TEST_F(ServeHostileGbkTest, InvalidGbkIsStoredAsValidText) {
  auto visitor = site_.Client();
  site_.Visit(*visitor);
  const std::string cid = std::to_string(ServedSite::OpenChat(*visitor));
  const struct {
    std::string sent;
    std::string stored;  // "" when only its validity is checked
  } cases[] = {
      {"%C4%E3%BA%C3", "你好"},     // valid GBK
      {"%81", ""},                  // a lead byte at the end
      {"%81%20x", ""},              // a lead byte before a space
      {"%FF%FE%80", ""},            // bytes GBK never uses
      {"%81%27%3Czx-evil%3E", ""},  // a lead byte swallowing a quote
      {"%E4%BD%A0", ""},            // UTF-8 sent to a GBK page
  };
  for (const auto& c : cases) {
    const HttpReply echo = visitor->Get("/visitor/DoClientMsg.asp?cid=" + cid +
                                        "&action=sub&adjunct=&msgContent=" + c.sent);
    ASSERT_EQ(echo.status, 200) << c.sent;
    EXPECT_EQ(echo.Header("content-type"), "text/html; charset=gbk");
    ExpectWholeScriptStrings(echo.body, c.sent);
    EXPECT_EQ(echo.body.find("<zx-evil"), std::string::npos) << c.sent;
    const std::string stored =
        site_.db().Scalar("chat", "select msgContent from msg order by msgID desc limit 1");
    EXPECT_TRUE(IsValidUtf8(stored)) << c.sent;
    if (!c.stored.empty()) {
      EXPECT_EQ(stored, c.stored) << c.sent;
    }
  }
}

}  // namespace
}  // namespace zelto::testing
