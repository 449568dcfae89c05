// The visitor's routes: opening a chat, the chat window opened, the
// invitation's state and answer. All need the visitor's session.
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

// A new chat goes to an operator with room, or waits in the queue; with
// nobody online none opens ("state":"offline", cid 0) and the page offers
// the leave-a-message form instead.
void OpenChat(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::post)) return;
  const LONG company = site.VisitorCompany(*ex.session);
  std::string error;
  auto chat = site.app().routing.Open(label, company, &error);
  if (!chat) return site.DatabaseError(ex, error);
  static constexpr const char* kStates[] = {kRunning, kQueued, "offline"};
  if (chat->cid != 0) {
    site.Stored(chat->cid);
    site.Assigned(chat->assigned, company);
    site.events().ChatStarted(chat->cid, label, company);
  }
  ex.Json(
      http::status::ok,
      JsonAnswer(json::object{
          {"cid", chat->cid}, {"label", label}, {"state", kStates[static_cast<int>(chat->kind)]}}));
}

void ChatOpened(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::post)) return;
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  if (!site.app().chats.ChatOpened(label, *cid, &error)) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::forbidden, "not the visitor's conversation");
  }
  site.Stored(*cid);
  ex.Json(http::status::ok, OkJson());
}

void AnswerInvitation(SiteContext& site, SiteExchange& ex, const std::string& label) {
  const std::string accept = ex.Form("accept");
  if (accept != "0" && accept != "1")
    return ex.Error(http::status::bad_request, "accept must be 1 or 0");
  std::string error;
  auto cid = site.app().chats.AnswerInvitation(label, accept == "1", &error);
  if (!cid) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::conflict, "no pending invitation");
  }
  site.Stored(*cid);
  const LONG company = site.VisitorCompany(*ex.session);
  site.CompanyChanged(company);
  if (accept == "1") site.events().ChatStarted(*cid, label, company);
  ex.Json(http::status::ok, CidJson(*cid));
}

void InvitationRoute(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (ex.Is(http::verb::post)) return AnswerInvitation(site, ex, label);
  if (!Expect(ex, http::verb::get)) return;
  std::string error;
  const auto invitation = site.app().chats.InvitationOf(label, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  json::array messages;
  for (const std::string& message : invitation.messages) messages.emplace_back(message);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"invited", invitation.invited},
                                                    {"cid", invitation.cid},
                                                    {"messages", std::move(messages)}}));
}

}  // namespace

void AddVisitorRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/visitor/chat", ForVisitor(site, OpenChat));
  routes.Add("/api/visitor/chat-opened", ForVisitor(site, ChatOpened));
  routes.Add("/api/visitor/invitation", ForVisitor(site, InvitationRoute));
  routes.AddPrefix("/api/visitor/",
                   ForVisitor(site, [](SiteContext&, SiteExchange& ex, const std::string&) {
                     ex.Error(http::status::not_found, "no such route");
                   }));
}

}  // namespace zelto::serve
