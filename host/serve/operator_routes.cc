// The operator's routes: login and logout, who the operator is, their
// running conversations, their company's operators, and taking a visitor
// (from the console's list, as JSON or as the chat window's redirect).
#include "host/serve/random_bytes.h"
#include "host/serve/site_routes.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

json::object OperatorObject(const OperatorInfo& op, const std::string& token) {
  return json::object{
      {"id", op.id}, {"name", op.name}, {"companyId", op.company_id}, {"token", token}};
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
  // A foreign page's form must not log a browser in as someone else.
  if (!Expect(ex, http::verb::post) || !site.RequireSameSite(ex)) return;
  auto id = FormId(ex, "id");
  if (!id) return;
  LoginThrottle& throttle = site.logins();
  if (const auto wait = throttle.Refused(*id, ex.remote))
    return site.TooMany(ex, *wait, "too many failed logins; try again later");
  std::string error;
  auto op = site.app().operators.Login(*id, ex.Form("password"), &error);
  if (!op) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    if (throttle.Failed(*id, ex.remote))
      site.failures().Failed("login", "operator " + std::to_string(*id) + " from " + ex.remote +
                                          ": failed logins in a row; attempts now delayed");
    return ex.Error(http::status::unauthorized, "wrong operator id or password");
  }
  throttle.Succeeded(*id);
  // A new session id at login, so an id known before cannot ride the login.
  const std::string replaced = ex.session ? ex.session_id : "";
  if (ex.session) {
    ex.session_id = site.sessions().Reissue(ex.session_id);
    ex.session = ex.session_id.empty() ? nullptr : site.sessions().Find(ex.session_id);
  }
  if (!site.EnsureSession(ex)) return site.SessionsFull(ex);
  ex.new_cookie = true;
  const std::string token = RandomHex128();
  const LONG before = SessionOperator(ex);
  if (!site.StartOperatorSession(ex, *op, token, replaced)) return;
  CountSession(site, *op, before);
  ex.Json(http::status::ok, JsonAnswer(OperatorObject(*op, token)));
}

void Logout(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post) || !site.RequireOperator(ex, true) || !site.RequireSameSite(ex))
    return;
  site.EndOperatorSession(ex);
  ex.clear_cookie = true;
  ex.Json(http::status::ok, OkJson());
}

void Me(SiteContext& site, SiteExchange& ex) {
  std::string error;
  auto op = site.app().operators.FindOperator(SessionOperator(ex), &error);
  if (!op) return site.DatabaseError(ex, error.empty() ? "the operator is gone" : error);
  const auto account = site.app().admin.FindOperator(op->id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  json::object me = OperatorObject(*op, SessionText(*ex.session, kToken));
  me["admin"] = account && account->rights.admin;
  ex.Json(http::status::ok, JsonAnswer(me));
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

// False after answering 403 when the session's operator may not invite
// visitors (or 500 when the database cannot tell).
bool MayInvite(SiteContext& site, SiteExchange& ex) {
  std::string error;
  const auto account = site.app().admin.FindOperator(SessionOperator(ex), &error);
  if (!error.empty()) {
    site.DatabaseError(ex, error);
    return false;
  }
  if (account && account->rights.invite) return true;
  ex.Error(http::status::forbidden, "the invitation right is required");
  return false;
}

// Answers 403 unless the session's operator has the list right (which
// brings the visitor list and proactive invitations).
bool RequireListRight(SiteContext& site, SiteExchange& ex) {
  std::string error;
  const auto rights = site.access().RightsOf(SessionOperator(ex), &error);
  if (rights && rights->list) return true;
  if (!error.empty()) {
    site.DatabaseError(ex, error);
  } else {
    ex.Error(http::status::forbidden, "you may not invite visitors");
  }
  return false;
}

void InviteVisitor(SiteContext& site, SiteExchange& ex) {
  if (!site.RequireSameSite(ex) || !RequireListRight(site, ex) || !MayInvite(site, ex)) return;
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
  if (!site.RequireOperator(ex, true) || !site.RequireSameSite(ex) ||
      !RequireListRight(site, ex) || !MayInvite(site, ex))
    return;
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
