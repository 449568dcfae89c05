// Ending a conversation: from the monitor (an operator who may monitor,
// for its own company's conversations), or either chat window (a member
// operator, or the conversation's visitor).
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

void EndConversation(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  const bool is_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (is_operator ? !site.RequireOperator(ex, true) : !site.RequireVisitor(ex)) return;
  if (!site.RequireSameSite(ex)) return;
  auto cid = FormId(ex, "cid");
  if (!cid || !site.RequireConversation(ex, cid, ConversationUse::kEnd)) return;
  std::string error;
  if (!site.app().chats.EndConversation(*cid, &error)) return site.DatabaseError(ex, error);
  site.Stored(*cid);
  ex.Json(http::status::ok, OkJson());
}

}  // namespace

void AddConversationRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/conversation/end", [&site](SiteExchange& ex) { EndConversation(site, ex); });
}

}  // namespace zelto::serve
