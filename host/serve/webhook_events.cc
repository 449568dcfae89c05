#include "host/serve/webhook_events.h"

#include "host/serve/chat_state.h"

namespace zelto::serve {

namespace json = boost::json;

void WebhookEvents::Emit(LONG company_id, const char* event, const json::object& data) const {
  std::string error;
  const auto queued = webhooks_.Emit(company_id, event, data, &error);
  if (!queued) return failures_.Failed(std::string("queueing the webhook event ") + event, error);
  if (*queued > 0 && queued_) queued_();
}

bool WebhookEvents::StateOf(LONG cid, std::optional<ChatState>* state) const {
  SqlSession chat = db_.Open(kChatCatalog);
  if (ReadChatState(chat, cid, state)) return true;
  failures_.Failed("a webhook event's chat", chat.error());
  return false;
}

void WebhookEvents::ChatStarted(LONG cid, const std::string& label, LONG company_id) const {
  std::optional<ChatState> state;
  if (!StateOf(cid, &state)) return;
  json::object data{{"cid", cid}, {"label", label}};
  data["state"] = state ? state->state : std::string(kRunning);
  data["operatorId"] = state ? state->operator_id : 0;
  Emit(state ? state->company_id : company_id, "chat.started", data);
}

void WebhookEvents::MessagePosted(LONG cid, LONG operator_id, LONG company_id) const {
  std::vector<SiteDatabase::Row> rows;
  std::string error;
  if (!db_.Query(kChatCatalog,
                 "select top 1 m.msgID as msgID, m.cstLabel as cstLabel, m.nickName as nickName, "
                 "m.msgContent as msgContent, m.msgApp as msgApp, m.msgTime as msgTime, "
                 "u.name as name from msg m left join userinfo u on u.ID=m.userID_send "
                 "where m.conid=" +
                     SqlId(cid) + " and m.userID_send=" + SqlId(operator_id) +
                     " and m.issystem=0 order by m.msgID desc",
                 {"msgID", "cstLabel", "nickName", "msgContent", "msgApp", "msgTime", "name"},
                 &rows, &error))
    return failures_.Failed("a webhook event's message", error);
  if (rows.empty()) return;
  const auto& m = rows[0];
  json::object data{{"cid", cid},
                    {"messageId", IdField(m[0])},
                    {"sender", operator_id ? "operator" : "visitor"},
                    {"operatorId", operator_id},
                    {"name", operator_id ? m[6] : m[2]},
                    {"label", m[1]},
                    {"text", m[3]},
                    {"attachment", m[4]},
                    {"time", m[5]}};
  std::optional<ChatState> state;
  if (!StateOf(cid, &state)) return;
  Emit(state ? state->company_id : company_id, "message", data);
}

void WebhookEvents::ChatEnded(LONG cid, LONG company_id) const {
  std::optional<ChatState> state;
  if (!StateOf(cid, &state)) return;
  if (!state) return failures_.Failed("a webhook event's chat", "no state of an ended chat");
  Emit(state->company_id ? state->company_id : company_id, "chat.ended",
       json::object{{"cid", cid},
                    {"label", state->label},
                    {"operatorId", state->operator_id},
                    {"endedBy", state->ended_by},
                    {"endedById", state->ended_by_id},
                    {"endedAt", state->ended_at}});
}

void WebhookEvents::OfflineMessageLeft(LONG company_id, LONG id, const std::string& label,
                                       const std::string& name, const std::string& contact,
                                       const std::string& text) const {
  Emit(company_id, "offline_message",
       json::object{{"id", id},
                    {"label", label},
                    {"name", name},
                    {"contact", contact},
                    {"text", text}});
}

void WebhookEvents::ChatRated(LONG cid, LONG company_id, int score, const std::string& comment,
                              int64_t rated_at) const {
  Emit(company_id, "rating",
       json::object{{"cid", cid}, {"score", score}, {"comment", comment}, {"ratedAt", rated_at}});
}

}  // namespace zelto::serve
