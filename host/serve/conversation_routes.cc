// Ending a conversation: from the monitor (an operator who may monitor),
// or either chat window (a member operator, or the conversation's visitor,
// also while it waits in the queue). Who ended it is recorded; the held
// polls of its windows wake and learn it.
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
  bool allowed = false, member = false;
  const Chats& chats = site.app().chats;
  LONG by_id = 0;
  if (is_operator) {
    by_id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
    member = chats.OperatorInConversation(by_id, *cid, &error);
    auto op = member ? std::nullopt : site.app().operators.FindOperator(by_id, &error);
    allowed = member || (op && op->can_monitor);
  } else {
    allowed = chats.VisitorInConversation(SessionText(*ex.session, kLabel), *cid, &error) ||
              site.app().routing.IsQueuedFor(*cid, SessionText(*ex.session, kLabel), &error);
  }
  if (!allowed) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::forbidden, "not allowed to end this conversation");
  }
  const char* by = !is_operator ? kEndedByVisitor : member ? kEndedByOperator : kEndedBySupervisor;
  const auto ended = site.app().lifecycle.End(*cid, by, by_id, &error);
  if (!ended) return site.DatabaseError(ex, error);
  site.Stored(*cid);
  site.Assigned(ended->assigned, ended->company_id);
  ex.Json(http::status::ok, OkJson());
}

}  // namespace

void AddConversationRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/conversation/end", [&site](SiteExchange& ex) { EndConversation(site, ex); });
}

}  // namespace zelto::serve
