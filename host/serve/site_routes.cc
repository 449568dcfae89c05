#include "host/serve/site_routes.h"

namespace zelto::serve {

namespace json = boost::json;

bool Expect(SiteExchange& ex, http::verb verb) {
  if (ex.Is(verb)) return true;
  ex.headers.emplace_back("Allow", std::string(http::to_string(verb)));
  ex.Error(http::status::method_not_allowed, "method not allowed");
  return false;
}

std::optional<LONG> FormId(SiteExchange& ex, const std::string& key) {
  const std::optional<LONG> id = ParseWellFormedInteger(ex.Form(key));
  if (id && *id > 0) return id;
  ex.Error(http::status::bad_request, key + " must be a positive integer");
  return std::nullopt;
}

RouteTable::Handler ForOperator(SiteContext& site, http::verb verb,
                                void (*handler)(SiteContext&, SiteExchange&)) {
  return [&site, verb, handler](SiteExchange& ex) {
    if (!Expect(ex, verb) || !site.RequireOperator(ex, verb == http::verb::post)) return;
    if (verb == http::verb::post && !site.RequireSameSite(ex)) return;
    handler(site, ex);
  };
}

std::string OkJson() { return JsonAnswer(json::object{{"ok", true}}); }

std::string CidJson(LONG cid) { return JsonAnswer(json::object{{"cid", cid}}); }

}  // namespace zelto::serve
