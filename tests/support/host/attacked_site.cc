#include "tests/support/host/attacked_site.h"

#include <gtest/gtest.h>

#include "platform/ado/engine.h"
#include "tests/support/served_site.h"

namespace zelto::testing {
namespace {

std::unique_ptr<PrivatePgCluster>& Cluster() {
  static std::unique_ptr<PrivatePgCluster> cluster;
  return cluster;
}

ado::ConnectionString ClusterTarget(const std::string& catalog) {
  const TestCluster& settings = Cluster()->settings();
  ado::ConnectionString target;
  target.data_source = settings.server;
  target.initial_catalog = catalog;
  target.user_id = settings.user;
  target.password = settings.password;
  return target;
}

// Runs `sql` on the cluster's `catalog`; the first column of the first row.
std::string RunOnCluster(const std::string& catalog, const std::string& sql) {
  std::string error;
  auto connection = ado::PostgresEngine()->Connect(ClusterTarget(catalog), &error);
  ado::ResultSet rs;
  if (!connection || !connection->Execute(sql, &rs, &error)) {
    ADD_FAILURE() << sql << ": " << error;
    return "";
  }
  if (rs.RowCount() == 0 || rs.columns.empty()) return "";
  const ado::SqlValue& v = rs.At(0, 0);
  return v.kind == ado::SqlValue::Kind::kInteger ? std::to_string(v.integer) : v.bytes;
}

}  // namespace

void AttackedSite::StartCluster() { Cluster() = std::make_unique<PrivatePgCluster>(); }
void AttackedSite::StopCluster() { Cluster().reset(); }

AttackedSite::AttackedSite(TestEngine engine, std::vector<std::string> serve_args)
    : engine_(engine) {
  if (engine == TestEngine::kPostgres) {
    if (!Cluster() || !Cluster()->available()) {
      why_ = Cluster() ? Cluster()->unavailable_reason() : "no PostgreSQL cluster started";
      if (Cluster() && Cluster()->start_failed()) ADD_FAILURE() << why_;
      return;
    }
    // Each test starts from no databases: the site makes them with demo data.
    for (const char* name : {"chat", "count"})
      RunOnCluster("postgres", std::string("DROP DATABASE IF EXISTS ") + name);
    const std::vector<std::string> server = Cluster()->ServeArgs();
    serve_args.insert(serve_args.begin(), server.begin(), server.end());
  }
  site_ = std::make_unique<InProcessSite>(serve_args, InProcessSite::Time::kManual);
  if (!site_->running()) return;
  Execute(
      "insert into Company (ID, CompanyName, SiteUrl) values (2, 'other', 'http://other/');"
      "insert into userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) "
      "select 21, 'chief2', 2, 1, 1, 1, pwdHash from userinfo where ID=5;"
      "insert into userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) "
      "select 22, 'clerk2', 2, 0, 0, 0, pwdHash from userinfo where ID=5;"
      "insert into userinfo (ID, name, CompanyID, Popedom, Invite, conview, pwdHash) "
      "select 23, 'watcher', 1, 0, 0, 1, pwdHash from userinfo where ID=5;"
      "update userinfo set pwdHash=(select pwdHash from userinfo where ID=5) where ID in (7, 12)");
}

std::string AttackedSite::Scalar(const std::string& sql) {
  if (engine_ == TestEngine::kPostgres) return RunOnCluster("chat", sql);
  return site_->db().Scalar("chat", sql);
}

void AttackedSite::Execute(const std::string& sql) {
  if (engine_ == TestEngine::kPostgres) {
    RunOnCluster("chat", sql);
  } else {
    site_->db().Execute("chat", sql);
  }
}

long AttackedSite::Count(const std::string& table, const std::string& where) {
  return std::stol(
      "0" + Scalar("select count(*) from " + table + (where.empty() ? "" : " where " + where)));
}

std::string AttackedSite::Visit(LoopbackHttpClient& client) {
  EXPECT_EQ(client.Get("/site/index.html").status, 200);
  const std::string cookie = client.cookies()["ZVISITOR"];
  EXPECT_FALSE(cookie.empty()) << "no visitor cookie after the first page view";
  return cookie.substr(0, cookie.find('.'));
}

int AttackedSite::VisitorWithChat(LoopbackHttpClient& client) {
  Visit(client);
  return ServedSite::OpenChat(client);
}

std::string AttackedSite::Login(LoopbackHttpClient& client, int id) {
  return ServedSite::Login(client, id, "demo5");
}

}  // namespace zelto::testing
