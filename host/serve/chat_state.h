// Chat states: the web application's own record of each chat in table
// chatState (one row per conversation id): queued while it waits for an
// operator with room, running once assigned, ended with who ended it and
// when. The component never reads it; the conversation row still goes at
// the end as before. The statements here run on the caller's chat session,
// inside its transaction, and return false when a statement failed.
// Times are wall-clock seconds since 1970 (SecondsClock, injectable).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "db/sql_session.h"

namespace zelto::serve {

using SecondsClock = std::function<int64_t()>;
// The system's wall clock.
int64_t WallSecondsNow();

inline constexpr char kQueued[] = "queued";
inline constexpr char kRunning[] = "running";
inline constexpr char kEnded[] = "ended";

// Who ended a chat, as recorded and shown.
inline constexpr char kEndedByVisitor[] = "visitor";
inline constexpr char kEndedByOperator[] = "operator";
inline constexpr char kEndedBySupervisor[] = "supervisor";

struct ChatState {
  LONG cid = 0;
  LONG company_id = 0;
  std::string label;
  LONG operator_id = 0;
  std::string state;  // kQueued, kRunning, kEnded
  int64_t queued_at = 0, assigned_at = 0, ended_at = 0;
  std::string ended_by;
  LONG ended_by_id = 0;
};

// The row of `cid`, nullopt in `state` when it has none.
bool ReadChatState(SqlSession& chat, LONG cid, std::optional<ChatState>* state);
// The visitor's queued chat, if any.
bool FindQueuedChat(SqlSession& chat, const std::string& label, std::optional<LONG>* cid);
// A new row (`state` filled in whole).
bool InsertChatState(SqlSession& chat, const ChatState& state);
// The chat assigned to `operator_id` at `now`: the row's state, operator and
// time, and the operator's last assignment.
bool MarkAssigned(SqlSession& chat, LONG cid, LONG operator_id, int64_t now);
// The chat ended: its row says so (made when the chat had none, such as a
// conversation the operator started from the visitor list).
bool MarkEnded(SqlSession& chat, LONG cid, LONG company_id, const std::string& ended_by,
               LONG ended_by_id, int64_t now);

}  // namespace zelto::serve
