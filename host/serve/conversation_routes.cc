// Ending a conversation: from the monitor (an operator who may monitor,
// for its own company's conversations), or either chat window (a member
// operator, or the conversation's visitor, also while it waits in the
// queue). Who ended it is recorded; the held polls of its windows wake and
// learn it.
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

void EndConversation(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !site.RequireOperator(ex, true) : !site.RequireVisitor(ex)) return;
  if (!site.RequireSameSite(ex)) return;
  auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  // A visitor's chat still in the queue has no members yet: its visitor
  // may end it; everything else goes through the access rules.
  const bool own_queued = !is_operator && site.app().routing.IsQueuedFor(
                                              *cid, SessionText(*ex.session, kLabel), &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!own_queued && !site.RequireConversation(ex, cid, ConversationUse::kEnd)) return;
  bool member = false;
  LONG by_id = 0;
  if (is_operator) {
    by_id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
    member = site.app().chats.OperatorInConversation(by_id, *cid, &error);
    if (!error.empty()) return site.DatabaseError(ex, error);
  }
  const char* by = !is_operator ? kEndedByVisitor : member ? kEndedByOperator : kEndedBySupervisor;
  const auto ended = site.app().lifecycle.End(*cid, by, by_id, &error);
  if (!ended) return site.DatabaseError(ex, error);
  site.Stored(*cid);
  site.Assigned(ended->assigned, ended->company_id);
  if (ended->by_this_call) site.events().ChatEnded(*cid, ended->company_id);
  ex.Json(http::status::ok, OkJson());
}

}  // namespace

void AddConversationRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/conversation/end", [&site](SiteExchange& ex) { EndConversation(site, ex); });
}

}  // namespace zelto::serve
