// The site's administration and retention on both engines: what a change
// refuses leaves no row; a removed operator cannot log in and its past
// messages keep its name; a purge takes only ended conversations older than
// the cutoff (with their files) and old tracks, in batches; forgetting a
// visitor takes their conversations, tracks, row and address records.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "db/schema_versions.h"
#include "host/serve/administration.h"
#include "host/serve/data_folder.h"
#include "host/serve/password.h"
#include "host/serve/retention.h"
#include "host/serve/web_app.h"
#include "tests/support/scratch_registry.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {
namespace {

using serve::AdminResult;
using serve::Administration;
using serve::OperatorRights;
using serve::SiteDatabase;
using serve::WebApp;

class AdministrationTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  void SetUp() override {
    ZELTO_SKIP_WITHOUT(db_);
    site_ = std::make_unique<SiteDatabase>(
        db_.folder(), db_.user(), db_.password(),
        std::pair<std::string, std::string>{db_.catalog("chat"), db_.catalog("count")});
    admin_ = std::make_unique<Administration>(*site_);
  }

  std::string Count(const std::string& catalog, const std::string& sql) {
    return db_.Scalar(catalog, "select count(*) from " + sql);
  }

  SeededDatabase db_{GetParam(), true};
  std::unique_ptr<SiteDatabase> site_;
  std::unique_ptr<Administration> admin_;
};

TEST_P(AdministrationTest, CompaniesAndOperatorsAreAddedWithTheNextFreeIdAndReadBack) {
  const AdminResult company = admin_->AddCompany("Acme", {"https://acme.example"});
  ASSERT_TRUE(company) << company.message;
  EXPECT_EQ(company.id, 2);  // the demo company is 1

  serve::NewOperator op;
  op.name = "Alice";
  op.company_id = company.id;
  op.rights = OperatorRights{false, true, true, true};
  op.password_hash = serve::HashPassword("correct horse");
  const AdminResult added = admin_->AddOperator(op);
  ASSERT_TRUE(added) << added.message;
  EXPECT_EQ(added.id, 13);  // above 12, the largest demo id

  std::string error;
  auto read = admin_->FindOperator(added.id, &error);
  ASSERT_TRUE(read) << error;
  EXPECT_EQ(read->name, "Alice");
  EXPECT_EQ(read->rights, op.rights);
  // The component's own reading of the rights: no visitor list, monitor.
  EXPECT_EQ(db_.Scalar("chat", "select Invite from userinfo where ID=13"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select conview from userinfo where ID=13"), "1");
  WebApp app(*site_);
  auto login = app.operators.Login(added.id, "correct horse", &error);
  ASSERT_TRUE(login) << error;
  EXPECT_FALSE(app.operators.Login(added.id, "wrong horse", &error));

  // A demo operator without an account row: may invite, no administrator.
  read = admin_->FindOperator(5, &error);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->rights, (OperatorRights{true, true, true, false}));
  auto company_read = admin_->FindCompany(company.id, &error);
  ASSERT_TRUE(company_read);
  EXPECT_EQ(company_read->origins, std::vector<std::string>{"https://acme.example"});
  EXPECT_EQ(company_read->chat_limit, serve::kDefaultChatLimit);
}

TEST_P(AdministrationTest, AChatLimitIsTheCompanysOwnAndChangesInPlace) {
  const AdminResult made = admin_->AddCompany("Busy", {}, 2);
  ASSERT_TRUE(made) << made.message;
  ASSERT_TRUE(admin_->SetCompany(1, std::nullopt, std::nullopt, 6));
  ASSERT_TRUE(admin_->SetCompany(1, std::string("Renamed"), std::nullopt, 3));
  // A change without a limit keeps the one there is.
  ASSERT_TRUE(admin_->SetCompany(made.id, std::string("Busier"), std::nullopt));
  std::string error;
  EXPECT_EQ(admin_->FindCompany(1, &error)->chat_limit, 3);
  EXPECT_EQ(admin_->FindCompany(made.id, &error)->chat_limit, 2);
  EXPECT_EQ(Count("chat", "chatSetting"), "2");
  EXPECT_EQ(db_.Scalar("chat", "select maxChats from chatSetting where companyId=1"), "3");
}

TEST_P(AdministrationTest, RefusedChangesLeaveNoRow) {
  const std::string operators = Count("chat", "userinfo");
  const std::string accounts = Count("chat", "operatorAccount");
  const std::string companies = Count("chat", "Company");
  const std::string first_name = db_.Scalar("chat", "select CompanyName from Company where ID=1");
  serve::NewOperator base;
  base.name = "Bob";
  base.company_id = 1;
  struct Case {
    const char* what;
    std::function<AdminResult()> change;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"taken id", [&] { auto op = base; op.id = 5; return admin_->AddOperator(op); },
       "exists already"},
      {"unknown company", [&] { auto op = base; op.company_id = 99; return admin_->AddOperator(op); },
       "no company 99"},
      {"empty name", [&] { auto op = base; op.name = ""; return admin_->AddOperator(op); },
       "empty"},
      {"long name",
       [&] { auto op = base; op.name = std::string(51, 'x'); return admin_->AddOperator(op); },
       "longer than 50"},
      {"control character",
       [&] { auto op = base; op.name = "a\nb"; return admin_->AddOperator(op); }, "control"},
      {"company origin with a path",
       [&] { return admin_->AddCompany("X", {"https://x.example/path"}); }, "not a site address"},
      {"javascript origin", [&] { return admin_->AddCompany("X", {"javascript:alert(1)"}); },
       "not a site address"},
      {"no chats per operator", [&] { return admin_->AddCompany("X", {}, 0); },
       "between 1 and 100"},
      {"a chat limit past the most, with a new name",
       [&] { return admin_->SetCompany(1, std::string("Not kept"), std::nullopt, 101); },
       "between 1 and 100"},
      {"unknown operator",
       [&] { return admin_->SetOperator(77, serve::OperatorChange{std::string("Z"), {}, {}}); },
       "no operator 77"},
      {"move to unknown company",
       [&] { return admin_->SetOperator(12, serve::OperatorChange{{}, 42, {}}); }, "no company 42"},
      {"password of unknown operator", [&] { return admin_->SetPasswordHash(77, "$y$x"); },
       "no operator 77"},
      {"remove unknown", [&] { return admin_->RemoveOperator(77); }, "no operator 77"},
  };
  for (const Case& c : cases) {
    const AdminResult result = c.change();
    EXPECT_EQ(result.kind, AdminResult::kRefused) << c.what;
    EXPECT_NE(result.message.find(c.says), std::string::npos) << c.what << ": " << result.message;
  }
  EXPECT_EQ(Count("chat", "userinfo"), operators);
  EXPECT_EQ(Count("chat", "operatorAccount"), accounts);
  EXPECT_EQ(Count("chat", "Company"), companies);
  EXPECT_EQ(Count("chat", "chatSetting"), "0");
  EXPECT_EQ(db_.Scalar("chat", "select CompanyName from Company where ID=1"), first_name);
  EXPECT_EQ(db_.Scalar("chat", "select CompanyID from userinfo where ID=12"), "1");
}

TEST_P(AdministrationTest, ARemovedOperatorCannotLogInAndKeepsItsNameOnItsMessages) {
  std::string error;
  ASSERT_TRUE(admin_->SetPasswordHash(5, serve::HashPassword("a new password")));
  ASSERT_TRUE(admin_->RemoveOperator(5));
  WebApp app(*site_);
  EXPECT_FALSE(app.operators.Login(5, "a new password", &error));
  EXPECT_EQ(admin_->IsActive(5, &error), std::optional<bool>(false));
  EXPECT_EQ(admin_->IsActive(12, &error), std::optional<bool>(true));
  EXPECT_EQ(admin_->IsActive(404, &error), std::optional<bool>(false));
  // Its row stays for the message lists' sender names; its messages stay.
  EXPECT_EQ(db_.Scalar("chat", "select name from userinfo where ID=5"), "王芳");
  EXPECT_EQ(Count("chat", "msg where userID_send=5"), "1");
  // It takes no new chats: the next visitor goes to 7, the first other one.
  auto chat = app.chats.OpenChat("20240520094005468", 1, {}, &error);
  ASSERT_TRUE(chat) << error;
  EXPECT_EQ(db_.Scalar("chat", "select serid from conversation where cid=" +
                                   std::to_string(chat->cid)),
            "7");
  // Removing twice, or changing a removed operator, is refused.
  EXPECT_EQ(admin_->RemoveOperator(5).kind, AdminResult::kRefused);
  EXPECT_EQ(admin_->SetPasswordHash(5, "x").kind, AdminResult::kRefused);
}

TEST_P(AdministrationTest, ACompanyWithoutOperatorsGivesNoChatAndNoFailure) {
  ASSERT_TRUE(admin_->AddCompany("Empty", {}));
  db_.Execute("chat", "insert into onlineCst (cstLabel, CompanyID) values ('lonely', 2)");
  WebApp app(*site_);
  std::string error;
  EXPECT_FALSE(app.chats.OpenChat("lonely", 2, {}, &error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(Count("chat", "conversation where cstlabel='lonely'"), "0");
}

TEST_P(AdministrationTest, TheFirstAdministratorGetsEveryRight) {
  std::string error;
  EXPECT_EQ(admin_->NoLogins(&error), std::optional<bool>(false));  // the demo logins
  db_.Execute("chat", "update userinfo set pwdHash=''");
  EXPECT_EQ(admin_->NoLogins(&error), std::optional<bool>(true));
  const AdminResult made = admin_->AddFirstAdministrator(serve::HashPassword("first admin"));
  ASSERT_TRUE(made) << made.message;
  auto op = admin_->FindOperator(made.id, &error);
  ASSERT_TRUE(op);
  EXPECT_EQ(op->company_id, 1);
  EXPECT_EQ(op->rights, (OperatorRights{true, true, true, true}));
  EXPECT_EQ(admin_->NoLogins(&error), std::optional<bool>(false));
}

// Retention, with fixed dates: the demo conversation 1 runs (2024-05-20).
class RetentionTest : public AdministrationTest {
 protected:
  void SetUp() override {
    AdministrationTest::SetUp();
    if (IsSkipped()) return;
    files_ = std::filesystem::path(scratch_.folder()) / "files";
    std::filesystem::create_directories(files_);
    // Conversation 40 ended in 2023 with an attachment; 41 ended in 2023
    // but had a message in 2025; 42 ended in 2023, without messages.
    db_.Execute("chat",
                "insert into msg (conid, userID_send, cstLabel, msgContent, msgApp, msgTime, IP) "
                "values (40, 0, 'old', 'hello', 'a-40.png', '2023-01-02 10:00:00', '10.1.1.1');"
                "insert into msg (conid, userID_send, msgContent, msgTime) "
                "values (40, 5, 'hi', '2023-01-02 10:01:00');"
                "insert into msg (conid, userID_send, cstLabel, msgContent, msgTime) "
                "values (41, 0, 'kept', 'then', '2023-01-02 10:00:00');"
                "insert into msg (conid, userID_send, cstLabel, msgContent, msgTime) "
                "values (41, 0, 'kept', 'now', '2025-06-01 10:00:00');"
                "insert into C_members (cid, serid, cstlabel, addtime, IsChat) "
                "values (40, 0, 'old', '2023-01-02 09:59:00', 0);"
                "insert into C_members (cid, serid, cstlabel, addtime, IsChat) "
                "values (42, 5, '', '2023-01-03 09:00:00', 0);"
                "insert into preMsg (cstlabel, conid) values ('old', 40);"
                "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
                "assignedAt, endedAt, endedBy, endedById) "
                "values (40, 1, 'old', 5, 'ended', 1672650000, 1672650000, 1672653600, 'visitor', 0);"
                "insert into chatState (cid, companyId, cstLabel, operatorId, state, queuedAt, "
                "assignedAt, endedAt, endedBy, endedById) "
                "values (41, 1, 'kept', 5, 'ended', 1672650000, 1672650000, 1748772000, 'visitor', 0);"
                "insert into offlineMessage (id, companyId, cstLabel, name, contact, content, "
                "createdAt, handled, handledBy, handledAt, IP, sourcepage, searchkey, visittime) "
                "values (1, 1, 'old', 'Old', 'old@example.com', 'call me', 1672650000, 0, 0, 0, "
                "'10.1.1.1', '', '', '');"
                "insert into offlineMessage (id, companyId, cstLabel, name, contact, content, "
                "createdAt, handled, handledBy, handledAt, IP, sourcepage, searchkey, visittime) "
                "values (2, 1, 'kept', 'Kept', 'kept@example.com', 'later', 1748772000, 0, 0, 0, "
                "'10.2.2.2', '', '', '');"
                "insert into cstTrack (cstLabel, presentTime, presentPage) "
                "values ('old', '2023-01-02 09:58:00', 'http://a/');"
                "insert into cstTrack (cstLabel, presentTime, presentPage) "
                "values ('kept', '2025-06-01 09:58:00', 'http://b/');");
    db_.Execute("count",
                "insert into t_Iprecord (IP, recordTime) values ('10.1.1.1', '2023-01-02 11:00:00');"
                "insert into t_Iprecord (IP, recordTime) values ('10.2.2.2', '2025-06-01 11:00:00')");
    std::ofstream(files_ / "a-40.png") << "png";
    std::ofstream(files_ / "other.png") << "png";
  }

  ScratchRegistry scratch_;
  std::filesystem::path files_;
};

TEST_P(RetentionTest, PurgeTakesOnlyEndedConversationsOlderThanTheCutoff) {
  serve::PurgeCounts counts;
  std::string error;
  // A batch of one: several transactions, the same end state.
  ASSERT_TRUE(serve::Retention(*site_, files_, 1).Purge("2024-01-01 00:00:00", &counts, &error))
      << error;
  EXPECT_EQ(counts.conversations, 2u);  // 40 and 42
  EXPECT_EQ(counts.messages, 2u);
  EXPECT_EQ(counts.files, 1u);
  EXPECT_EQ(counts.file_bytes, 3u);  // "png": room again under the folder's cap
  EXPECT_EQ(counts.tracks, 1u);
  EXPECT_EQ(counts.addresses, 1u);
  EXPECT_EQ(Count("chat", "msg where conid=40"), "0");
  EXPECT_EQ(Count("chat", "C_members where cid in (40, 42)"), "0");
  EXPECT_EQ(Count("chat", "preMsg where conid=40"), "0");
  EXPECT_EQ(Count("chat", "chatState where cid=40"), "0");  // its recorded end goes with it
  EXPECT_EQ(Count("chat", "chatState where cid=41"), "1");
  EXPECT_EQ(Count("chat", "offlineMessage"), "2");  // left messages are not conversations
  EXPECT_EQ(Count("chat", "msg where conid=41"), "2");  // a recent message keeps it whole
  EXPECT_EQ(Count("chat", "msg where conid=1"), "2");   // running
  EXPECT_EQ(Count("chat", "cstTrack where cstLabel='kept'"), "1");
  EXPECT_EQ(Count("count", "t_Iprecord where IP='10.2.2.2'"), "1");
  EXPECT_FALSE(std::filesystem::exists(files_ / "a-40.png"));
  EXPECT_TRUE(std::filesystem::exists(files_ / "other.png"));

  // Nothing left to take: a second run removes nothing.
  serve::PurgeCounts again;
  ASSERT_TRUE(serve::Retention(*site_, files_).Purge("2024-01-01 00:00:00", &again, &error));
  EXPECT_EQ(again.Summary(), serve::PurgeCounts{}.Summary());
}

TEST_P(RetentionTest, ForgettingAVisitorByLabelOrAddressTakesTheirData) {
  serve::PurgeCounts counts;
  std::string error;
  serve::Retention retention(*site_, files_);
  ASSERT_TRUE(retention.Forget("nobody-known", &counts, &error)) << error;
  EXPECT_EQ(counts.messages, 0u);

  ASSERT_TRUE(retention.Forget("10.1.1.1", &counts, &error)) << error;  // visitor 'old'
  EXPECT_EQ(Count("chat", "msg where conid=40"), "0");
  EXPECT_EQ(Count("chat", "cstTrack where cstLabel='old'"), "0");
  EXPECT_EQ(Count("count", "t_Iprecord where IP='10.1.1.1'"), "0");
  EXPECT_FALSE(std::filesystem::exists(files_ / "a-40.png"));
  EXPECT_EQ(Count("chat", "chatState where cid=40"), "0");
  EXPECT_EQ(Count("chat", "offlineMessage where cstLabel='old'"), "0");
  EXPECT_EQ(Count("chat", "offlineMessage where cstLabel='kept'"), "1");

  // The running demo conversation's visitor, by label: everything of theirs.
  const std::string label = "20240520091502731";
  ASSERT_TRUE(retention.Forget(label, &counts, &error)) << error;
  EXPECT_EQ(Count("chat", "msg where conid=1"), "0");
  EXPECT_EQ(Count("chat", "conversation where cid=1"), "0");
  EXPECT_EQ(Count("chat", "onlineCst where cstLabel='" + label + "'"), "0");
  EXPECT_EQ(Count("chat", "cstTrack where cstLabel='" + label + "'"), "0");
  // Others stay.
  EXPECT_EQ(Count("chat", "msg where conid=41"), "2");
  EXPECT_EQ(Count("chat", "onlineCst"), "2");
}

// Databases made before the administration tables existed (schema version
// 2) are upgraded on start, keep their rows, and then take an administrator.
class AdministrationUpgradeTest : public ::testing::TestWithParam<TestEngine> {
 protected:
  SeededDatabase old_{GetParam(), true, kSchemaVersion2Folder};
};

TEST_P(AdministrationUpgradeTest, AVersion2DatabaseIsUpgradedAndAdministered) {
  ZELTO_SKIP_WITHOUT(old_);
  const std::string messages = old_.Scalar("chat", "select count(*) from msg");
  SiteDatabase site(old_.folder(), old_.user(), old_.password(),
                    {old_.catalog("chat"), old_.catalog("count")});
  std::string message;
  ASSERT_EQ(serve::UseExistingDatabases(site, "using them", &message),
            serve::DataFolderResult::kReady)
      << message;
  EXPECT_EQ(message,
            "using them\nupgraded chat: version 3, operator rights, company sites, shared "
            "sessions\nupgraded chat: version 4, chat states, operator availability, chat "
            "limits, offline messages\nupgraded chat: version 5, chat ratings, history and "
            "statistics indexes, message search\nupgraded chat: version 6, canned replies, "
            "visitor notes, whispers, typing preview\nupgraded chat: version 7, webhooks, their "
            "delivery queue, API keys");
  EXPECT_EQ(old_.Scalar("chat", "select count(*) from msg"), messages);
  Administration admin(site);
  ASSERT_TRUE(admin.SetOperator(12, serve::OperatorChange{{}, {}, OperatorRights{true, true, true, true}}));
  std::string error;
  EXPECT_TRUE(admin.FindOperator(12, &error)->rights.admin) << error;
  EXPECT_EQ(old_.Scalar("chat", "select version from schemaVersion"),
            std::to_string(LatestSchemaVersion("chat")));
}

ZELTO_ON_EVERY_ENGINE(AdministrationTest);
ZELTO_ON_EVERY_ENGINE(AdministrationUpgradeTest);
ZELTO_ON_EVERY_ENGINE(RetentionTest);

}  // namespace
}  // namespace zelto::testing
