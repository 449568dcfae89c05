// Ending a conversation: from the monitor (an operator who may monitor),
// or either chat window (a member operator, or the conversation's visitor).
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

void EndConversation(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !site.RequireOperator(ex, true) : !site.RequireVisitor(ex)) return;
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  bool allowed = false;
  const Chats& chats = site.app().chats;
  if (is_operator) {
    const LONG id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
    auto op = site.app().operators.FindOperator(id, &error);
    allowed = (op && op->can_monitor) || chats.OperatorInConversation(id, *cid, &error);
  } else {
    allowed = chats.VisitorInConversation(SessionText(*ex.session, kLabel), *cid, &error);
  }
  if (!allowed) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::forbidden, "not allowed to end this conversation");
  }
  if (!chats.EndConversation(*cid, &error)) return site.DatabaseError(ex, error);
  site.Stored(*cid);
  ex.Json(http::status::ok, OkJson());
}

}  // namespace

void AddConversationRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/conversation/end", [&site](SiteExchange& ex) { EndConversation(site, ex); });
}

}  // namespace zelto::serve
