// The administration page's routes (/api/admin/...): an administrator's
// company (name, allowed sites, chats per operator) and its operators (add,
// rights, password, removal). The same token rules as every operator action, then the
// administrator right, then: only within the administrator's company, and
// never the administrator's own removal or loss of the right (no company
// locks itself out).
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "host/serve/password.h"
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

json::object OperatorObject(const OperatorAccount& op) {
  return json::object{{"id", op.id},
                      {"name", op.name},
                      {"list", op.rights.list},
                      {"invite", op.rights.invite},
                      {"monitor", op.rights.monitor},
                      {"admin", op.rights.admin},
                      {"canLogIn", op.can_log_in}};
}

OperatorRights FormRights(const SiteExchange& ex) {
  return OperatorRights{ex.Form("list") == "1", ex.Form("invite") == "1",
                        ex.Form("monitor") == "1", ex.Form("admin") == "1"};
}

// The form's `password` hashed; nullopt after answering 400.
std::optional<std::string> FormPasswordHash(SiteExchange& ex) {
  const std::string password = ex.Form("password");
  if (std::string refused = RefusedPassword(password); !refused.empty()) {
    ex.Error(http::status::bad_request, refused);
    return std::nullopt;
  }
  std::string hash = HashPassword(password);
  if (hash.empty()) ex.Error(http::status::internal_server_error, "cannot hash the password");
  if (hash.empty()) return std::nullopt;
  return hash;
}

// The operator named by the form's `id`, of the administrator's company and
// not removed; nullopt after answering. Never the administrator, unless
// `self_allowed`.
std::optional<LONG> TargetOperator(SiteContext& site, SiteExchange& ex, const Admin& admin,
                                   bool self_allowed) {
  const auto id = FormId(ex, "id");
  if (!id) return std::nullopt;
  std::string error;
  const auto op = site.app().admin.FindOperator(*id, &error);
  if (!error.empty()) site.DatabaseError(ex, error);
  if (!error.empty()) return std::nullopt;
  if (!op || op->removed || op->company_id != admin.company_id) {
    ex.Error(http::status::not_found, "no such operator in your company");
    return std::nullopt;
  }
  if (*id == admin.id && !self_allowed) {
    ex.Error(http::status::conflict, "you cannot do this to your own account");
    return std::nullopt;
  }
  return id;
}

void Company(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string error;
  const auto company = site.app().admin.FindCompany(admin.company_id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!company) return ex.Error(http::status::not_found, "your company is gone");
  json::array origins(company->origins.begin(), company->origins.end());
  ex.Json(http::status::ok, JsonAnswer(json::object{{"id", company->id},
                                                    {"name", company->name},
                                                    {"origins", origins},
                                                    {"chatLimit", company->chat_limit}}));
}

// name, origins one per line (or separated by commas or spaces), and
// chatLimit when given.
void SetCompany(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string refused;
  const auto origins = ParseOrigins(ex.Form("origins"), &refused);
  if (!origins) return ex.Error(http::status::bad_request, refused);
  std::optional<LONG> chat_limit;
  if (const std::string limit = ex.Form("chatLimit"); !limit.empty()) {
    const auto number = ParseWellFormedInteger(limit);
    if (!number) return ex.Error(http::status::bad_request, RefusedChatLimit(0));
    chat_limit = static_cast<LONG>(*number);
  }
  AnswerAdminResult(site, ex, site.app().admin.SetCompany(admin.company_id, ex.Form("name"),
                                                          *origins, chat_limit));
}

void ListOperators(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string error;
  json::array rows;
  for (const OperatorAccount& op : site.app().admin.Operators(admin.company_id, &error)) {
    if (!op.removed) rows.push_back(OperatorObject(op));
  }
  if (!error.empty()) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(rows));
}

void AddOperator(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  NewOperator op;
  if (!ex.Form("id").empty()) {
    const auto id = FormId(ex, "id");
    if (!id) return;
    op.id = *id;
  }
  op.name = ex.Form("name");
  op.company_id = admin.company_id;
  op.rights = FormRights(ex);
  const auto hash = FormPasswordHash(ex);
  if (!hash) return;
  op.password_hash = *hash;
  AnswerAdminResult(site, ex, site.app().admin.AddOperator(op));
}

void SetOperator(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  const auto id = TargetOperator(site, ex, admin, true);
  if (!id) return;
  OperatorChange change;
  change.name = ex.Form("name");
  change.rights = FormRights(ex);
  if (*id == admin.id && !change.rights->admin)
    return ex.Error(http::status::conflict, "you cannot take your own administrator right");
  AnswerAdminResult(site, ex, site.app().admin.SetOperator(*id, change));
}

void ResetPassword(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  const auto id = TargetOperator(site, ex, admin, true);
  if (!id) return;
  const auto hash = FormPasswordHash(ex);
  if (!hash) return;
  AnswerAdminResult(site, ex, site.app().admin.SetPasswordHash(*id, *hash));
}

void RemoveOperator(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  const auto id = TargetOperator(site, ex, admin, false);
  if (!id) return;
  AnswerAdminResult(site, ex, site.app().admin.RemoveOperator(*id));
}

}  // namespace

void AnswerAdminResult(SiteContext& site, SiteExchange& ex, const AdminResult& result) {
  if (result.kind == AdminResult::kFailed) return site.DatabaseError(ex, result.message);
  if (result.kind == AdminResult::kRefused)
    return ex.Error(http::status::bad_request, result.message);
  ex.Json(http::status::ok, JsonAnswer(json::object{{"ok", true}, {"id", result.id}}));
}

RouteTable::Handler ForAdmin(SiteContext& site, http::verb verb, AdminHandler handler) {
  return [&site, verb, handler](SiteExchange& ex) {
    if (!Expect(ex, verb) || !site.RequireOperator(ex, verb == http::verb::post)) return;
    const LONG id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
    std::string error;
    const auto op = site.app().admin.FindOperator(id, &error);
    if (!error.empty()) return site.DatabaseError(ex, error);
    if (!op || !op->rights.admin)
      return ex.Error(http::status::forbidden, "the administrator right is required");
    handler(site, ex, Admin{id, op->company_id});
  };
}

void AddAdminRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/admin/company", [get = ForAdmin(site, http::verb::get, Company),
                                    post = ForAdmin(site, http::verb::post, SetCompany)](
                                       SiteExchange& ex) { ex.Is(http::verb::post) ? post(ex) : get(ex); });
  routes.Add("/api/admin/operators", ForAdmin(site, http::verb::get, ListOperators));
  routes.Add("/api/admin/operator/add", ForAdmin(site, http::verb::post, AddOperator));
  routes.Add("/api/admin/operator/set", ForAdmin(site, http::verb::post, SetOperator));
  routes.Add("/api/admin/operator/password", ForAdmin(site, http::verb::post, ResetPassword));
  routes.Add("/api/admin/operator/remove", ForAdmin(site, http::verb::post, RemoveOperator));
  routes.AddPrefix("/api/admin/", ForAdmin(site, http::verb::get, [](SiteContext&, SiteExchange& ex,
                                                                      const Admin&) {
                     ex.Error(http::status::not_found, "no such route");
                   }));
}

}  // namespace zelto::serve
