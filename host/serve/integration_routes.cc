// The administration page's webhooks and API keys: an administrator lists,
// adds and removes the webhooks of their own company and makes and revokes
// its API keys. A webhook's secret and an API key are in the answer that
// made them, and never in a list. Addresses must be https here.
#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "host/serve/api_keys.h"
#include "host/serve/site_routes.h"
#include "host/serve/webhooks.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

ApiKeys Keys(SiteContext& site) { return ApiKeys(site.database(), WallSecondsNow); }

// Answers what was made with its secret, or the refusal or failure.
void AnswerMade(SiteContext& site, SiteExchange& ex, const AdminResult& result,
                const char* secret_name, const std::string& secret) {
  if (!result) return AnswerAdminResult(site, ex, result);
  ex.Json(http::status::ok,
          JsonAnswer(json::object{{"ok", true}, {"id", result.id}, {secret_name, secret}}));
}

void ListWebhooks(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string error;
  const auto hooks = site.webhooks().List(admin.company_id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  json::array rows;
  for (const Webhook& h : hooks)
    rows.push_back(json::object{{"id", h.id},         {"url", h.url},
                                {"events", h.events}, {"createdAt", h.created_at},
                                {"pending", h.pending}, {"failed", h.failed}});
  ex.Json(http::status::ok, JsonAnswer(rows));
}

void AddWebhook(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string secret;
  const std::string events = ex.Form("events").empty() ? "*" : ex.Form("events");
  AnswerMade(site, ex, site.webhooks().Add(admin.company_id, ex.Form("url"), events, false, &secret),
             "secret", secret);
}

void RemoveWebhook(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  const auto id = FormId(ex, "id");
  if (id) AnswerAdminResult(site, ex, site.webhooks().Remove(*id, admin.company_id));
}

void ListApiKeys(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string error;
  const auto keys = Keys(site).List(admin.company_id, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  json::array rows;
  for (const ApiKey& k : keys)
    rows.push_back(json::object{{"id", k.id},
                                {"name", k.name},
                                {"prefix", k.prefix},
                                {"createdAt", k.created_at},
                                {"revokedAt", k.revoked_at}});
  ex.Json(http::status::ok, JsonAnswer(rows));
}

void AddApiKey(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  std::string key;
  AnswerMade(site, ex, Keys(site).Create(admin.company_id, ex.Form("name"), &key), "key", key);
}

void RevokeApiKey(SiteContext& site, SiteExchange& ex, const Admin& admin) {
  const auto id = FormId(ex, "id");
  if (id) AnswerAdminResult(site, ex, Keys(site).Revoke(*id, admin.company_id));
}

}  // namespace

void AddIntegrationRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/admin/webhooks", ForAdmin(site, http::verb::get, ListWebhooks));
  routes.Add("/api/admin/webhook/add", ForAdmin(site, http::verb::post, AddWebhook));
  routes.Add("/api/admin/webhook/remove", ForAdmin(site, http::verb::post, RemoveWebhook));
  routes.Add("/api/admin/apikeys", ForAdmin(site, http::verb::get, ListApiKeys));
  routes.Add("/api/admin/apikey/add", ForAdmin(site, http::verb::post, AddApiKey));
  routes.Add("/api/admin/apikey/revoke", ForAdmin(site, http::verb::post, RevokeApiKey));
}

}  // namespace zelto::serve
