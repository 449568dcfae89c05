#include "host/serve/chat_lifecycle.h"

#include "host/serve/conversation_rows.h"
#include "host/serve/routing.h"

namespace zelto::serve {

std::optional<ChatEnd> ChatLifecycle::EndOf(LONG cid, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  std::optional<ChatState> state;
  bool running = false;
  if (!ReadChatState(chat, cid, &state) ||
      (!state && !HasRow(chat, "select cid from conversation where cid=" + SqlId(cid), &running))) {
    *error = chat.unreported_error();
    return std::nullopt;
  }
  if (state) {
    if (state->state != kEnded) return std::nullopt;
    return ChatEnd{state->ended_by, state->ended_at};
  }
  if (running) return std::nullopt;
  return ChatEnd{"", 0};
}

namespace {

// The company of a chat that was never routed (an operator's invitation):
// its operators'.
bool OperatorsCompany(SqlSession& chat, LONG cid, LONG* company_id) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select top 1 u.CompanyID as CompanyID from C_members m inner join userinfo u "
                  "on u.ID = m.serid where m.cid=" +
                      SqlId(cid) + " order by m.serid",
                  {"CompanyID"}, &rows))
    return false;
  *company_id = rows.empty() ? 0 : IdField(rows[0][0]);
  return true;
}

}  // namespace

bool ChatLifecycle::EndIn(SqlSession& chat, LONG cid, const std::string& by, LONG by_id,
                          EndedChat* ended) const {
  std::optional<ChatState> state;
  if (!ReadChatState(chat, cid, &state)) return false;
  if (state && state->state == kEnded) return true;
  if (state)
    ended->company_id = state->company_id;
  else if (!OperatorsCompany(chat, cid, &ended->company_id))
    return false;
  ended->by_this_call = true;
  const int64_t now = now_();
  return MarkEnded(chat, cid, ended->company_id, by, by_id, now) && FinishConversation(chat, cid) &&
         AssignWaitingChats(chat, ended->company_id, now, &ended->assigned);
}

std::optional<EndedChat> ChatLifecycle::End(LONG cid, const std::string& by, LONG by_id,
                                            std::string* error) const {
  EndedChat ended;
  if (!db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
        ended = EndedChat();
        return EndIn(chat, cid, by, by_id, &ended);
      }))
    return std::nullopt;
  return ended;
}

}  // namespace zelto::serve
