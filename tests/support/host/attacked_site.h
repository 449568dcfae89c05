// AttackedSite: an InProcessSite (on a clock the test moves) on either
// engine, with the demo data plus a second company, for tests that play
// attackers against the site's rules and then look at the database:
//
//   company 1: 5 (Popedom 1: lists and monitor), 12 (Invite), 7 (no right),
//              23 (conview: the monitor only)
//   company 2: 21 (Popedom 1), 22 (no right)
//
// Every operator's password is "demo5". On PostgreSQL the site runs on a
// cluster of the suite's own (the host's databases are named chat and
// count); without one the fixture is not available() and the test skips.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/host/in_process_site.h"
#include "tests/support/private_pg_cluster.h"
#include "tests/support/seeded_database.h"

namespace zelto::testing {

class AttackedSite {
 public:
  // Starts the suite's PostgreSQL cluster once (call from SetUpTestSuite)
  // and stops it (TearDownTestSuite).
  static void StartCluster();
  static void StopCluster();

  AttackedSite(TestEngine engine, std::vector<std::string> serve_args = {});

  bool available() const { return site_ != nullptr && site_->running(); }
  const std::string& unavailable_reason() const { return why_; }
  InProcessSite& site() { return *site_; }
  ManualClock& clock() { return site_->clock(); }
  std::unique_ptr<LoopbackHttpClient> Client() const { return site_->Client(); }

  // The chat database, whatever the engine.
  std::string Scalar(const std::string& sql);
  void Execute(const std::string& sql);
  // "select count(*) from TABLE" with an optional where clause.
  long Count(const std::string& table, const std::string& where = "");

  // A visitor's first page view; its label (from the signed cookie).
  std::string Visit(LoopbackHttpClient& client);
  // A visitor with a chat of its own; its conversation id.
  int VisitorWithChat(LoopbackHttpClient& client);
  // Logs `client` in as operator `id`; the token.
  static std::string Login(LoopbackHttpClient& client, int id);

 private:
  std::string why_;
  std::unique_ptr<InProcessSite> site_;
  TestEngine engine_;
};

}  // namespace zelto::testing
