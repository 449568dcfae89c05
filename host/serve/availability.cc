#include "host/serve/availability.h"

#include <algorithm>

#include "host/serve/conversation_rows.h"
#include "host/serve/routing.h"

namespace zelto::serve {
namespace {

// The operator's row, made offline with no sessions when missing.
bool EnsureRow(SqlSession& chat, LONG operator_id, int64_t now) {
  bool found = false;
  if (!HasRow(chat, "select operatorId from operatorState where operatorId=" + SqlId(operator_id),
              &found))
    return false;
  return found || chat.Execute(
                      "insert into operatorState (operatorId, state, sessions, "
                      "lastAssigned, changedAt) values (" +
                      SqlId(operator_id) + ", " + SqlStringLiteral(kOffline) + ", 0, 0, " +
                      std::to_string(now) + ")");
}

}  // namespace

bool IsChosenState(const std::string& state) { return state == kOnline || state == kAway; }

std::optional<std::vector<LONG>> Availability::Change(LONG operator_id, LONG company_id,
                                                      const std::string& state, int session_change,
                                                      std::string* error) const {
  std::vector<LONG> assigned;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    assigned.clear();
    const int64_t now = now_();
    std::vector<SqlSession::Row> rows;
    if (!EnsureRow(chat, operator_id, now) ||
        !chat.Query(
            "select sessions, state from operatorState where operatorId=" + SqlId(operator_id),
            {"sessions", "state"}, &rows) ||
        rows.empty())
      return false;
    const LONG sessions = std::max<LONG>(0, IdField(rows[0][0]) + session_change);
    // The last session gone: offline, whatever was chosen. A new session
    // keeps an operator who chose away away (a second browser does not
    // change what they chose).
    std::string new_state = state;
    if (session_change < 0) new_state = sessions == 0 ? kOffline : "";
    if (session_change > 0 && rows[0][1] == kAway) new_state = kAway;
    if (!chat.Execute("update operatorState set sessions=" + SqlId(sessions) +
                      (new_state.empty() ? "" : ", state=" + SqlStringLiteral(new_state)) +
                      ", changedAt=" + std::to_string(now) +
                      " where operatorId=" + SqlId(operator_id)))
      return false;
    return new_state != kOnline || AssignWaitingChats(chat, company_id, now, &assigned);
  });
  if (!done) return std::nullopt;
  return assigned;
}

std::optional<std::vector<LONG>> Availability::SessionStarted(LONG operator_id, LONG company_id,
                                                              std::string* error) const {
  return Change(operator_id, company_id, kOnline, 1, error);
}

bool Availability::SessionEnded(LONG operator_id, std::string* error) const {
  return Change(operator_id, 0, kOffline, -1, error).has_value();
}

bool Availability::OperatorWentOffline(LONG operator_id, std::string* error) const {
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    return EnsureRow(chat, operator_id, now_()) &&
           chat.Execute("update operatorState set sessions=0, state=" + SqlStringLiteral(kOffline) +
                        ", changedAt=" + std::to_string(now_()) +
                        " where operatorId=" + SqlId(operator_id));
  });
}

std::optional<std::vector<LONG>> Availability::Choose(LONG operator_id, LONG company_id,
                                                      const std::string& state,
                                                      std::string* error) const {
  if (!IsChosenState(state)) return std::vector<LONG>{};
  return Change(operator_id, company_id, state, 0, error);
}

std::vector<OperatorState> Availability::StatesOf(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select u.ID as ID, u.name as name, s.state as state, s.sessions as sessions "
            "from userinfo u left join operatorState s on s.operatorId=u.ID "
            "where u.CompanyID=" +
                SqlId(company_id) + " order by u.ID",
            {"ID", "name", "state", "sessions"}, &rows, error);
  std::vector<OperatorState> states;
  for (auto& row : rows) {
    const bool gone = row[2].empty() || IdField(row[3]) <= 0;
    states.push_back({IdField(row[0]), std::move(row[1]), gone ? kOffline : row[2]});
  }
  return states;
}

}  // namespace zelto::serve
