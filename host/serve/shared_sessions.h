// SharedSessions: operator sessions kept in the chat database, so that
// every host of one database (PostgreSQL) knows them: a load balancer may
// send an operator's requests to any host without a second login. Each
// host keeps its in-memory SessionStore; a session id it does not know is
// looked up here and adopted. A row holds what the operator's pages need
// (operator, company, cross-site token) under a SHA-256 hash of the
// session id, never the id itself, and the wall-clock time it was last
// used. Logout deletes the row; Check, made at each operator request, sees
// a logout or a removal on any host at once. Rows unused for the timeout
// are deleted by Sweep. Visitor sessions need nothing here: the signed
// visitor cookie brings the visitor's label back on any host.
//
// Every call may block on the database: run it on a worker.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

struct SharedOperatorSession {
  LONG operator_id = 0;
  LONG company_id = 0;
  std::string token;
};

class SharedSessions {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;

  SharedSessions(const SiteDatabase& db, std::chrono::seconds timeout,
                 WallClock now = std::chrono::system_clock::now)
      : db_(db), timeout_(timeout), now_(std::move(now)) {}

  // A login's session (`replaced`: the id it had before the login, if any).
  bool Save(const std::string& id, const SharedOperatorSession& session,
            const std::string& replaced, std::string* error) const;
  // The session `id` when its row is there, unexpired, and its operator
  // has not been removed; marks it used. Nullopt with `error` empty when
  // it is not (logged out, expired, removed), with `error` on a failure.
  std::optional<SharedOperatorSession> Check(const std::string& id, std::string* error) const;
  bool Remove(const std::string& id, std::string* error) const;
  // The operators with a live session on any host.
  std::set<LONG> Online(std::string* error) const;
  // Deletes the rows unused for the timeout.
  bool Sweep(std::string* error) const;

 private:
  long long NowSeconds() const;

  const SiteDatabase& db_;
  const std::chrono::seconds timeout_;
  const WallClock now_;
};

}  // namespace zelto::serve
