// The administration page's routes as an attacker tries them: without the
// administrator right, without the token, across companies, against the
// administrator's own account; a removed operator's session is refused at
// its next request; the database is checked, not only the status.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

using Headers = LoopbackHttpClient::Headers;

class ServeAdminTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Operator 5 administers company 1; operator 30 is in company 2.
    site_.db().Execute("chat",
                       "insert into operatorAccount (id, isAdmin, canInvite, removed) "
                       "values (5, 1, 1, 0);"
                       "insert into Company (ID, CompanyName) values (2, 'Other');"
                       "insert into userinfo (ID, name, CompanyID) values (30, 'Zed', 2)");
    admin_ = site_.Client();
    token_ = ServedSite::Login(*admin_, 5, "demo5");
  }

  HttpReply AdminPost(LoopbackHttpClient& client, const std::string& path,
                      const std::string& body, const std::string& token) {
    return client.Post(path, body, Headers{{"X-Zelto-Token", token}});
  }

  std::string Scalar(const std::string& sql) { return site_.db().Scalar("chat", sql); }

  ServedSite site_;
  std::unique_ptr<LoopbackHttpClient> admin_;
  std::string token_;
};

TEST_F(ServeAdminTest, OnlyAnAdministratorWithTheTokenChangesAnything) {
  auto plain = site_.Client();
  const std::string plain_token = ServedSite::Login(*plain, 12, "demo12");
  auto anonymous = site_.Client();
  const std::string add = "name=Mallory&password=longenough1&list=1&admin=1";
  EXPECT_EQ(AdminPost(*anonymous, "/api/admin/operator/add", add, "").status, 401);
  EXPECT_EQ(AdminPost(*plain, "/api/admin/operator/add", add, plain_token).status, 403);
  EXPECT_EQ(plain->Get("/api/admin/operators").status, 403);
  EXPECT_EQ(AdminPost(*admin_, "/api/admin/operator/add", add, "").status, 403);
  EXPECT_EQ(AdminPost(*admin_, "/api/admin/operator/add", add, plain_token).status, 403);
  EXPECT_EQ(admin_->Get("/api/admin/operator/add?" + add + "&token=" + token_).status, 405);
  EXPECT_EQ(Scalar("select count(*) from userinfo where name='Mallory'"), "0");

  // The administrator's own add works and lands in its own company.
  const HttpReply added = AdminPost(*admin_, "/api/admin/operator/add", add, token_);
  ASSERT_EQ(added.status, 200) << added.body;
  EXPECT_EQ(Scalar("select CompanyID from userinfo where name='Mallory'"), "1");
  EXPECT_EQ(Scalar("select count(*) from userinfo where name='Mallory' and pwdHash like '$y$%'"),
            "1");
  auto mallory = site_.Client();
  EXPECT_FALSE(ServedSite::Login(*mallory, 31, "longenough1").empty());
  // A short password is refused and makes nothing.
  EXPECT_EQ(AdminPost(*admin_, "/api/admin/operator/add", "name=Shorty&password=short", token_)
                .status,
            400);
  EXPECT_EQ(Scalar("select count(*) from userinfo where name='Shorty'"), "0");
}

TEST_F(ServeAdminTest, AnotherCompanysOperatorsAndTheAdministratorsOwnAccountAreOutOfReach) {
  for (const char* path : {"/api/admin/operator/set", "/api/admin/operator/password",
                           "/api/admin/operator/remove"}) {
    const HttpReply reply =
        AdminPost(*admin_, path, "id=30&name=Owned&password=longenough1&admin=1", token_);
    EXPECT_EQ(reply.status, 404) << path << " " << reply.body;
  }
  EXPECT_EQ(Scalar("select name from userinfo where ID=30"), "Zed");
  EXPECT_EQ(Scalar("select pwdHash from userinfo where ID=30"), "");
  EXPECT_EQ(Scalar("select count(*) from operatorAccount where id=30"), "0");

  EXPECT_EQ(AdminPost(*admin_, "/api/admin/operator/remove", "id=5", token_).status, 409);
  EXPECT_EQ(AdminPost(*admin_, "/api/admin/operator/set", "id=5&name=Me&list=1", token_).status,
            409);
  EXPECT_EQ(Scalar("select isAdmin from operatorAccount where id=5"), "1");
  EXPECT_EQ(Scalar("select removed from operatorAccount where id=5"), "0");

  // The company's allowed sites: only well-formed origins are stored.
  EXPECT_EQ(AdminPost(*admin_, "/api/admin/company",
                      "name=Acme&origins=https%3A%2F%2Fok.example%0Ajavascript%3Aalert(1)", token_)
                .status,
            400);
  EXPECT_EQ(Scalar("select count(*) from companyOrigin"), "0");
  ASSERT_EQ(AdminPost(*admin_, "/api/admin/company",
                      "name=Acme&origins=HTTPS%3A%2F%2FOk.Example%2F", token_)
                .status,
            200);
  EXPECT_EQ(Scalar("select origin from companyOrigin where companyId=1"), "https://ok.example");
  EXPECT_EQ(Scalar("select CompanyName from Company where ID=1"), "Acme");

  // Chats per operator: a number from 1 to 100, else nothing changes.
  const std::string limits = "select count(*) || ' ' || coalesce(max(maxChats), 0) from chatSetting";
  const std::string before = Scalar(limits);
  for (const char* limit : {"0", "101", "-3", "4x", "4%3B%20drop%20table%20chatSetting", "2147483648"}) {
    EXPECT_EQ(AdminPost(*admin_, "/api/admin/company",
                        std::string("name=Changed&chatLimit=") + limit, token_)
                  .status,
              400)
        << limit;
  }
  EXPECT_EQ(Scalar(limits), before);
  EXPECT_EQ(Scalar("select CompanyName from Company where ID=1"), "Acme");
  ASSERT_EQ(AdminPost(*admin_, "/api/admin/company", "name=Acme&chatLimit=2", token_).status, 200);
  EXPECT_EQ(Scalar("select maxChats from chatSetting where companyId=1"), "2");
  EXPECT_NE(admin_->Get("/api/admin/company").body.find("\"chatLimit\":2"), std::string::npos);
}

TEST_F(ServeAdminTest, ARemovedOperatorsSessionEndsAtItsNextRequest) {
  auto victim = site_.Client();
  const std::string victim_token = ServedSite::Login(*victim, 12, "demo12");
  ASSERT_EQ(victim->Get("/api/me").status, 200);
  ASSERT_EQ(AdminPost(*admin_, "/api/admin/operator/remove", "id=12", token_).status, 200);
  EXPECT_EQ(victim->Get("/api/me").status, 401);
  EXPECT_EQ(victim->Get("/operator/GetUserMsg.asp?cid=1").status, 401);
  EXPECT_EQ(AdminPost(*victim, "/api/logout", "", victim_token).status, 401);
  // It cannot log in again; its name still heads its rows.
  EXPECT_EQ(victim->Post("/api/login", "id=12&password=demo12").status, 401);
  EXPECT_EQ(Scalar("select name from userinfo where ID=12"), "李明");
  // A removed operator is no longer listed on the page.
  const HttpReply list = admin_->Get("/api/admin/operators");
  EXPECT_EQ(list.body.find("\"id\":12"), std::string::npos) << list.body;
}

TEST_F(ServeAdminTest, TheInvitationRightIsCheckedOnTheServer) {
  ASSERT_EQ(AdminPost(*admin_, "/api/admin/operator/set", "id=12&name=Li&list=1", token_).status,
            200);
  auto op = site_.Client();
  const std::string token = ServedSite::Login(*op, 12, "demo12");
  const HttpReply reply = op->Post("/api/operator/invite-visitor", "cstLabel=20240520094005468",
                                   Headers{{"X-Zelto-Token", token}});
  EXPECT_EQ(reply.status, 403) << reply.body;
  EXPECT_EQ(Scalar("select count(*) from conversation where cstlabel='20240520094005468'"), "0");
}

}  // namespace
}  // namespace zelto::testing
