#include "host/serve/chat_state.h"

#include <chrono>
#include <vector>

#include "db/sql_values.h"
#include "host/serve/site_database.h"

namespace zelto::serve {
namespace {

constexpr char kColumns[] =
    "cid, companyId, cstLabel, operatorId, state, queuedAt, assignedAt, endedAt, endedBy, "
    "endedById";

int64_t TimeField(const std::string& field) {
  return field.empty() ? 0 : std::strtoll(field.c_str(), nullptr, 10);
}

std::string SqlTime(int64_t seconds) { return std::to_string(seconds); }

}  // namespace

int64_t WallSecondsNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool ReadChatState(SqlSession& chat, LONG cid, std::optional<ChatState>* state) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query(std::string("select ") + kColumns + " from chatState where cid=" + SqlId(cid),
                  {"cid", "companyId", "cstLabel", "operatorId", "state", "queuedAt", "assignedAt",
                   "endedAt", "endedBy", "endedById"},
                  &rows))
    return false;
  if (rows.empty()) {
    state->reset();
    return true;
  }
  const SqlSession::Row& row = rows[0];
  *state = ChatState{
      IdField(row[0]),   IdField(row[1]),   row[2], IdField(row[3]), row[4], TimeField(row[5]),
      TimeField(row[6]), TimeField(row[7]), row[8], IdField(row[9])};
  return true;
}

bool FindQueuedChat(SqlSession& chat, const std::string& label, std::optional<LONG>* cid) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select cid from chatState where cstLabel=" + SqlStringLiteral(label) +
                      " and state=" + SqlStringLiteral(kQueued) + " order by cid",
                  {"cid"}, &rows))
    return false;
  *cid = rows.empty() ? std::nullopt : std::optional<LONG>(IdField(rows[0][0]));
  return true;
}

bool InsertChatState(SqlSession& chat, const ChatState& s) {
  return chat.Execute(std::string("insert into chatState (") + kColumns + ") values (" +
                      SqlId(s.cid) + ", " + SqlId(s.company_id) + ", " + SqlStringLiteral(s.label) +
                      ", " + SqlId(s.operator_id) + ", " + SqlStringLiteral(s.state) + ", " +
                      SqlTime(s.queued_at) + ", " + SqlTime(s.assigned_at) + ", " +
                      SqlTime(s.ended_at) + ", " + SqlStringLiteral(s.ended_by) + ", " +
                      SqlId(s.ended_by_id) + ")");
}

bool MarkAssigned(SqlSession& chat, LONG cid, LONG operator_id, int64_t now) {
  return chat.Execute("update chatState set state=" + SqlStringLiteral(kRunning) +
                      ", operatorId=" + SqlId(operator_id) + ", assignedAt=" + SqlTime(now) +
                      " where cid=" + SqlId(cid)) &&
         chat.Execute("update operatorState set lastAssigned=" + SqlTime(now) +
                      " where operatorId=" + SqlId(operator_id));
}

bool MarkEnded(SqlSession& chat, LONG cid, LONG company_id, const std::string& ended_by,
               LONG ended_by_id, int64_t now) {
  LONG affected = 0;
  if (!chat.Execute("update chatState set state=" + SqlStringLiteral(kEnded) +
                        ", endedAt=" + SqlTime(now) + ", endedBy=" + SqlStringLiteral(ended_by) +
                        ", endedById=" + SqlId(ended_by_id) + " where cid=" + SqlId(cid) +
                        " and state<>" + SqlStringLiteral(kEnded),
                    &affected))
    return false;
  if (affected > 0) return true;
  std::optional<ChatState> existing;
  if (!ReadChatState(chat, cid, &existing)) return false;
  if (existing) return true;  // ended before: the first end stays
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select cstlabel, serid from conversation where cid=" + SqlId(cid),
                  {"cstlabel", "serid"}, &rows))
    return false;
  ChatState state{cid,
                  company_id,
                  rows.empty() ? "" : rows[0][0],
                  rows.empty() ? 0 : IdField(rows[0][1]),
                  kEnded,
                  now,
                  now,
                  now,
                  ended_by,
                  ended_by_id};
  return InsertChatState(chat, state);
}

}  // namespace zelto::serve
