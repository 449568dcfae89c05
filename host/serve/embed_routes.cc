// The snippet's visit: each page view of a site that carries the chat's
// snippet records the visit (as the host records the pages of its own
// company site) and gives the page the visitor's signed label, which the
// page keeps and sends back in X-Zelto-Visitor (host/serve/visitor_header.h).
#include "host/serve/site_routes.h"
#include "host/serve/visitor_header.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

// A listed site reports only its own pages.
bool IsPageOf(std::string_view page, std::string_view origin) {
  return page.starts_with(origin) &&
         (page.size() == origin.size() || page[origin.size()] == '/' ||
          page[origin.size()] == '?' || page[origin.size()] == '#');
}

void AnswerVisitor(SiteContext& site, SiteExchange& ex, const std::string& label) {
  ex.Json(http::status::ok, JsonAnswer(json::object{
                                {"visitor", site.visitor_cookie().Sign(label)}, {"label", label}}));
}

void Visit(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::post)) return;
  std::string label = ex.session ? SessionText(*ex.session, kLabel) : "";
  const bool cross = ex.cross_origin_company != 0;
  const LONG own = label.empty() ? site.config().company_id : site.VisitorCompany(*ex.session);
  const LONG company = cross ? ex.cross_origin_company : own;
  // A label of another company's visitor: on this company's site, a new one.
  if (company != own) label.clear();
  // The host's own pages were recorded as it served them.
  if (!cross && !label.empty()) return AnswerVisitor(site, ex, label);
  const std::string page = ex.Form("page");
  if (cross && !IsPageOf(page, ex.request[http::field::origin]))
    return ex.Error(http::status::bad_request, "page must be the address of a page of this site");
  const bool first_view = label.empty();
  if (first_view) {
    label = site.app().visitors.NewVisitorLabel();
    bool made = false;
    if (!HeaderVisitorSession(site, ex, label, company, &made)) return site.SessionsFull(ex);
  }
  std::string error;
  if (!site.app().visitors.RecordVisit(label, company, first_view, ex.remote, ex.Form("referrer"),
                                       page, &error))
    return site.DatabaseError(ex, error);
  if (first_view) site.CompanyChanged(company);
  AnswerVisitor(site, ex, label);
}

}  // namespace

void AddEmbedRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/visitor/visit", [&site](SiteExchange& ex) { Visit(site, ex); });
}

}  // namespace zelto::serve
