// The operator's routes: login and logout, who the operator is, their
// running conversations, their company's operators, and taking a visitor
// (from the console's list, as JSON or as the chat window's redirect).
#include "host/serve/random_bytes.h"
#include "host/serve/site_routes.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

std::string OperatorJson(const OperatorInfo& op, const std::string& token) {
  return JsonAnswer(json::object{
      {"id", op.id}, {"name", op.name}, {"companyId", op.company_id}, {"token", token}});
}

LONG SessionOperator(const SiteExchange& ex) {
  return static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
}

// The operator's new session makes them online (a session logged in before
// as `before` is counted once: that login ends). A failure here does not
// undo the login; it is logged, and the console shows the state.
void CountSession(SiteContext& site, const OperatorInfo& op, LONG before) {
  std::string error;
  Availability& availability = site.app().availability;
  if (before != 0 && !availability.SessionEnded(before, &error))
    site.failures().Failed("an operator's earlier login", error);
  const auto assigned = availability.SessionStarted(op.id, op.company_id, &error);
  if (!assigned) return site.failures().Failed("an operator coming online", error);
  site.Assigned(*assigned, op.company_id);
}

void Login(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  auto id = FormId(ex, "id");
  if (!id) return;
  std::string error;
  auto op = site.app().operators.Login(*id, ex.Form("password"), &error);
  if (!op) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::unauthorized, "wrong operator id or password");
  }
  // A new session id at login, so an id known before cannot ride the login.
  if (ex.session) {
    ex.session_id = site.sessions().Reissue(ex.session_id);
    ex.session = ex.session_id.empty() ? nullptr : site.sessions().Find(ex.session_id);
  }
  if (!site.EnsureSession(ex)) return site.SessionsFull(ex);
  ex.new_cookie = true;
  const std::string token = RandomHex128();
  const LONG before = SessionOperator(ex);
  ex.session->SetLong(kOperatorId, op->id);
  ex.session->SetLong(kOperatorCompany, op->company_id);
  ex.session->SetText(kToken, token);
  CountSession(site, *op, before);
  ex.Json(http::status::ok, OperatorJson(*op, token));
}

void Logout(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post) || !site.RequireOperator(ex, true)) return;
  site.EndSessions({site.sessions().End(ex.session_id)});
  ex.clear_cookie = true;
  ex.Json(http::status::ok, OkJson());
}

void Me(SiteContext& site, SiteExchange& ex) {
  std::string error;
  auto op = site.app().operators.FindOperator(SessionOperator(ex), &error);
  if (!op) return site.DatabaseError(ex, error.empty() ? "the operator is gone" : error);
  ex.Json(http::status::ok, OperatorJson(*op, SessionText(*ex.session, kToken)));
}

void Conversations(SiteContext& site, SiteExchange& ex) {
  std::string error;
  json::array rows;
  for (const ConversationRow& row :
       site.app().operators.ConversationsOf(SessionOperator(ex), &error))
    rows.push_back(
        json::object{{"cid", row.cid}, {"label", row.label}, {"nickName", row.nick_name}});
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

void CompanyOperators(SiteContext& site, SiteExchange& ex) {
  std::string error;
  json::array rows;
  const LONG company = static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany));
  for (const OperatorState& op : site.app().availability.StatesOf(company, &error))
    rows.push_back(json::object{
        {"id", op.id}, {"name", op.name}, {"online", op.state == kOnline}, {"state", op.state}});
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

// The session's operator takes visitor `label`: the conversation, or
// nullopt with `error` empty when there is no such visitor on the site.
std::optional<LONG> TakeVisitor(SiteContext& site, SiteExchange& ex, const std::string& label,
                                std::string* error) {
  auto op = site.app().operators.FindOperator(SessionOperator(ex), error);
  if (!op || label.empty()) return std::nullopt;
  return site.app().chats.TakeVisitor(*op, label, error);
}

void InviteVisitor(SiteContext& site, SiteExchange& ex) {
  std::string error;
  const auto cid = TakeVisitor(site, ex, ex.Form("cstLabel"), &error);
  if (!cid) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::not_found, "no such visitor on the site");
  }
  site.Stored(*cid);
  site.CompanyChanged(static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany)));
  ex.Json(http::status::ok, CidJson(*cid));
}

// The console's "take this visitor" link: the chat window, or a page saying
// the visitor is gone.
void TakeVisitorPage(SiteContext& site, SiteExchange& ex) {
  if (!site.RequireOperator(ex, true)) return;
  if (ex.request["Sec-Fetch-Site"] == "cross-site")
    return ex.Error(http::status::forbidden, "cross-site request refused");
  const NamedValues query = ParseQueryString(ex.query);
  const std::u16string* label = FindValue(query, u"cstLabel");
  std::string error;
  const auto cid = TakeVisitor(site, ex, label ? WideToUtf8(*label) : "", &error);
  if (!cid) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    const std::string language = site.RequestLanguage(ex);
    return ex.Reply(http::status::not_found, "text/html; charset=utf-8",
                    "<!doctype html><meta charset=utf-8><title>" +
                        site.languages().Text(language, "visitorGone.title") + "</title><p>" +
                        site.languages().Text(language, "visitorGone.text") + "</p>\n");
  }
  site.Stored(*cid);
  site.CompanyChanged(static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany)));
  ex.headers.emplace_back("Location", "/operator/chat.html?cid=" + std::to_string(*cid));
  ex.Reply(http::status::found, "text/plain; charset=utf-8", "");
}

}  // namespace

void AddOperatorRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/login", [&site](SiteExchange& ex) { Login(site, ex); });
  routes.Add("/api/logout", [&site](SiteExchange& ex) { Logout(site, ex); });
  routes.Add("/api/me", ForOperator(site, http::verb::get, Me));
  routes.Add("/api/operators", ForOperator(site, http::verb::get, CompanyOperators));
  routes.Add("/api/operator/conversations", ForOperator(site, http::verb::get, Conversations));
  routes.Add("/api/operator/invite-visitor", ForOperator(site, http::verb::post, InviteVisitor));
  routes.AddPrefix("/api/operator/",
                   ForOperator(site, http::verb::get, [](SiteContext&, SiteExchange& ex) {
                     ex.Error(http::status::not_found, "no such route");
                   }));
  routes.Add("/operator/cstReWin.asp", [&site](SiteExchange& ex) { TakeVisitorPage(site, ex); });
}

}  // namespace zelto::serve
