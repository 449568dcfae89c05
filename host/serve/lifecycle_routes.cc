// The routes of a chat's life around the component pages: a visitor's chat
// state (queued with its place, running, ended), the message a visitor
// leaves when nobody can answer, an operator's availability, the console's
// lists held until they change, the offline messages, and a supervisor's
// read-only view of a conversation.
#include "host/serve/conversation_view.h"
#include "host/serve/held_answer.h"
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

TimePoint WaitDeadline(SiteContext& site, const SiteExchange& ex) {
  return site.config().clock->Now() + std::chrono::seconds(RequestedWait(ex));
}

json::object EndJson(const ChatEnd& end) {
  return json::object{{"state", kEnded}, {"endedBy", end.by}, {"endedAt", end.at}};
}

// GET /api/visitor/chat-state?cid=N: where the visitor's chat stands.
void VisitorChatState(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::get)) return;
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  WebApp& app = site.app();
  const auto place = app.routing.PlaceOf(*cid, &error);
  const bool queued = place && place->position > 0;
  const bool mine = queued ? app.routing.IsQueuedFor(*cid, label, &error)
                           : app.chats.VisitorInConversation(label, *cid, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!mine) return ex.Error(http::status::forbidden, "not the visitor's conversation");
  if (queued) {
    return ex.Json(http::status::ok,
                   JsonAnswer(json::object{{"state", kQueued},
                                           {"position", place->position},
                                           {"operators", place->online_operators},
                                           {"estimateSeconds", place->estimate_seconds}}));
  }
  const auto end = app.lifecycle.EndOf(*cid, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(end ? EndJson(*end) : json::object{{"state", kRunning}}));
}

// POST /api/visitor/offline-message (name, contact, text).
void LeaveMessage(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::post) || !site.RequireMessageAllowance(ex)) return;
  const std::string name = ex.Form("name"), contact = ex.Form("contact"), text = ex.Form("text");
  if (text.find_first_not_of(" \t\r\n") == std::string::npos)
    return ex.Error(http::status::bad_request, "the message is empty");
  if (contact.find_first_not_of(" \t\r\n") == std::string::npos)
    return ex.Error(http::status::bad_request, "a way to reach you is needed");
  if (name.size() > kOfflineNameLimit || contact.size() > kOfflineContactLimit ||
      text.size() > kOfflineTextLimit)
    return ex.Error(http::status::bad_request, "a field is too long");
  std::string error;
  const LONG company = site.VisitorCompany(*ex.session);
  const auto id = site.app().offline_messages.Leave(label, company, name, contact, text, &error);
  if (!id) return site.DatabaseError(ex, error);
  site.CompanyChanged(company);
  site.events().OfflineMessageLeft(company, *id, label, name, contact, text);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"id", *id}}));
}

// POST /api/operator/availability (state: online or away).
void ChooseAvailability(SiteContext& site, SiteExchange& ex) {
  const std::string state = ex.Form("state");
  if (!IsChosenState(state))
    return ex.Error(http::status::bad_request, "state must be online or away");
  std::string error;
  const auto assigned =
      site.app().availability.Choose(SessionOperator(ex), SessionCompany(ex), state, &error);
  if (!assigned) return site.DatabaseError(ex, error);
  site.Assigned(*assigned, SessionCompany(ex));
  ex.Json(http::status::ok, JsonAnswer(json::object{{"state", state}}));
}

json::object OfflineMessageJson(const OfflineMessage& m) {
  return json::object{{"id", m.id},
                      {"label", m.label},
                      {"name", m.name},
                      {"contact", m.contact},
                      {"text", m.text},
                      {"createdAt", m.created_at},
                      {"handled", m.handled},
                      {"handledBy", m.handled_by},
                      {"address", m.address},
                      {"sourcePage", m.source_page},
                      {"searchWords", m.search_words},
                      {"visitTime", m.visit_time}};
}

// The console's lists: the operator's state and running conversations,
// colleagues' states, the queue, unread offline messages, visitors on the
// site (the version of their list, which the console reads itself). Its
// version changes whenever any of it does.
HeldAnswer ConsoleLists(SiteContext& site, LONG operator_id, LONG company) {
  WebApp& app = site.app();
  HeldAnswer answer;
  std::string& error = answer.error;
  json::array conversations, operators;
  for (const ConversationRow& row : app.operators.ConversationsOf(operator_id, &error))
    conversations.push_back(
        json::object{{"cid", row.cid}, {"label", row.label}, {"nickName", row.nick_name}});
  std::string my_state = kOffline;
  for (const OperatorState& op : app.availability.StatesOf(company, &error)) {
    if (op.id == operator_id) my_state = op.state;
    operators.push_back(json::object{{"id", op.id}, {"name", op.name}, {"state", op.state}});
  }
  const LONG queue = app.routing.QueueLength(company, &error);
  const LONG unread = app.offline_messages.UnreadCount(company, &error);
  const std::string visitors = VersionOf(app.visitors.VisitorListState(company, &error));
  if (!error.empty()) return answer;
  answer.body = JsonAnswer(json::object{{"state", my_state},
                                        {"conversations", std::move(conversations)},
                                        {"operators", std::move(operators)},
                                        {"queue", queue},
                                        {"offlineUnread", unread},
                                        {"visitors", visitors}});
  answer.version = VersionOf(answer.body);
  return answer;
}

// GET /api/operator/lists?since=VERSION&wait=SECONDS
void Lists(SiteContext& site, SiteExchange& ex) {
  const LONG op = SessionOperator(ex), company = SessionCompany(ex);
  AnswerWhenChanged(site, ex.shared_from_this(), CompanyChannel(company), ex.Form("since"),
                    WaitDeadline(site, ex),
                    [&site, op, company] { return ConsoleLists(site, op, company); });
}

void OfflineMessagesList(SiteContext& site, SiteExchange& ex) {
  std::string error;
  json::array rows;
  for (const OfflineMessage& m : site.app().offline_messages.ListOf(SessionCompany(ex), &error))
    rows.push_back(OfflineMessageJson(m));
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

void MarkHandled(SiteContext& site, SiteExchange& ex) {
  auto id = FormId(ex, "id");
  if (!id) return;
  std::string error;
  const LONG company = SessionCompany(ex);
  if (!site.app().offline_messages.MarkHandled(company, *id, SessionOperator(ex), &error)) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::not_found, "no such message");
  }
  site.CompanyChanged(company);
  ex.Json(http::status::ok, OkJson());
}

// GET /api/conversation/view?cid=N&since=VERSION&wait=SECONDS: the
// conversation's whole message list, read without marking it read.
void ViewConversation(SiteContext& site, SiteExchange& ex) {
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  const auto op = site.app().operators.FindOperator(SessionOperator(ex), &error);
  if (!op || !MayViewConversation(site.database(), *op, *cid, &error)) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::forbidden, "not allowed to view this conversation");
  }
  const std::string language = site.RequestLanguage(ex);
  const LONG id = *cid;
  AnswerWhenChanged(site, ex.shared_from_this(), id, ex.Form("since"), WaitDeadline(site, ex),
                    [&site, id, language] {
                      HeldAnswer answer;
                      answer.content_type = "text/html; charset=utf-8";
                      const auto document =
                          ConversationViewDocument(site.database(), id, language, &answer.error);
                      if (!document) return answer;
                      answer.body = *document;
                      answer.version = VersionOf(answer.body);
                      return answer;
                    });
}

}  // namespace

void AddLifecycleRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/visitor/chat-state", ForVisitor(site, VisitorChatState));
  routes.Add("/api/visitor/offline-message", ForVisitor(site, LeaveMessage));
  routes.Add("/api/operator/availability", ForOperator(site, http::verb::post, ChooseAvailability));
  routes.Add("/api/operator/lists", ForOperator(site, http::verb::get, Lists));
  routes.Add("/api/operator/offline-messages",
             ForOperator(site, http::verb::get, OfflineMessagesList));
  routes.Add("/api/operator/offline-message/handled",
             ForOperator(site, http::verb::post, MarkHandled));
  routes.Add("/api/conversation/view", ForOperator(site, http::verb::get, ViewConversation));
}

}  // namespace zelto::serve
