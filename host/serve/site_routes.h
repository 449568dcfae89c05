// The route modules of the Site: each registers its routes and their
// handlers into the table, which the Site fills once at its start. A new
// group of routes is a new module (a file with its handlers) and a line in
// Site's constructor. Every handler runs on a worker with the request's
// form read (the body of a POST, else the query).
#pragma once

#include <optional>
#include <string>

#include "host/serve/route_table.h"
#include "host/serve/site_context.h"
#include "host/serve/site_exchange.h"

namespace zelto::serve {

void AddVisitorRoutes(RouteTable& routes, SiteContext& site);       // /api/visitor/...
void AddOperatorRoutes(RouteTable& routes, SiteContext& site);      // login, lists, taking
void AddConversationRoutes(RouteTable& routes, SiteContext& site);  // /api/conversation/...
void AddUploadRoutes(RouteTable& routes, SiteContext& site);        // /api/upload
void AddAdminRoutes(RouteTable& routes, SiteContext& site);         // /api/admin/...
void AddEmbedRoutes(RouteTable& routes, SiteContext& site);         // /api/visitor/visit
// A chat's queue and end, availability, lists, offline messages, the view.
void AddLifecycleRoutes(RouteTable& routes, SiteContext& site);
// Past chats: history, search, transcripts, ratings, statistics.
void AddRecordsRoutes(RouteTable& routes, SiteContext& site);
// Typing, seen, whispers, canned replies, visitor notes.
void AddToolkitRoutes(RouteTable& routes, SiteContext& site);
void AddApiRoutes(RouteTable& routes, SiteContext& site);  // /api/v1/... (API keys)
// An administrator's webhooks and API keys (/api/admin/webhook..., apikey...).
void AddIntegrationRoutes(RouteTable& routes, SiteContext& site);

// Shared by the modules.
// False, after answering 405 with Allow, when the request is not `verb`.
bool Expect(SiteExchange& ex, http::verb verb);
// The form's `key` as a positive id; nullopt after answering 400.
std::optional<LONG> FormId(SiteExchange& ex, const std::string& key);
std::string OkJson();
// An operator's route: the method first, then the login (and for a POST
// the cross-site token and a request from the site itself), then `handler`.
RouteTable::Handler ForOperator(SiteContext& site, http::verb verb,
                                void (*handler)(SiteContext&, SiteExchange&));
// A route of the visitor: their session first (and for anything but a
// GET or HEAD a request from the site itself), then `handler` with their
// label.
template <typename Handler>
RouteTable::Handler ForVisitor(SiteContext& site, Handler handler) {
  return [&site, handler](SiteExchange& ex) {
    if (!site.RequireVisitor(ex)) return;
    if (!ex.Is(http::verb::get) && !ex.Is(http::verb::head) && !site.RequireSameSite(ex)) return;
    handler(site, ex, SessionText(*ex.session, kLabel));
  };
}
std::string CidJson(LONG cid);
// The logged-in operator's id and company. REQUIRES: an operator's session.
inline LONG SessionOperator(const SiteExchange& ex) {
  return static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
}
inline LONG SessionCompany(const SiteExchange& ex) {
  return static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany));
}

// The administrator calling an administration route.
struct Admin {
  LONG id = 0;
  LONG company_id = 0;
};
using AdminHandler = void (*)(SiteContext&, SiteExchange&, const Admin&);
// An administrator's route: the method, the login (and for a change the
// cross-site token), then the administrator right read from the database
// (a right taken away counts at once), then `handler`.
RouteTable::Handler ForAdmin(SiteContext& site, http::verb verb, AdminHandler handler);
// Answers 400 for a refusal, 500 for a failure; {"ok":true,"id":N} when done.
void AnswerAdminResult(SiteContext& site, SiteExchange& ex, const AdminResult& result);

}  // namespace zelto::serve
