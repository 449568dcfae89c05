#include "host/serve/visitor_header.h"

#include "host/serve/embedding.h"
#include "host/serve/site_context.h"
#include "host/serve/site_exchange.h"

namespace zelto::serve {
namespace {

// "h" and the MAC of a derived label: stable for the visitor, unknown to
// anyone without the site secret (the label alone shows on consoles).
std::string HeaderSessionId(const VisitorCookie& cookie, const std::string& label) {
  const std::string signed_value = cookie.Sign("s" + label);
  return "h" + signed_value.substr(signed_value.find('.') + 1);
}

// The company of a visitor whose session is made again: the listed site's
// that called, else the one the host's chat pages name, when it lists
// sites (it embeds its chat), else the site's.
LONG ReturningVisitorCompany(SiteContext& site, const SiteExchange& ex) {
  if (ex.cross_origin_company) return ex.cross_origin_company;
  const LONG fallback = site.config().company_id;
  const std::string named(ex.request[kVisitorCompanyHeader]);
  const std::optional<LONG> company = ParseWellFormedInteger(named);
  if (!company || *company <= 0 || *company == fallback) return fallback;
  std::string error;
  const auto origins = EmbeddingOrigins(site.database()).Of(*company, &error);
  if (!origins) site.failures().Failed("a returning visitor's company", error);
  return origins && !origins->empty() ? *company : fallback;
}

}  // namespace

SessionStore::Values HeaderVisitorSession(SiteContext& site, SiteExchange& ex,
                                          const std::string& label, LONG company_id,
                                          bool* made) {
  auto session = site.AdoptVisitorSession(ex, HeaderSessionId(site.visitor_cookie(), label), made);
  if (session && *made) {
    session->SetText(kLabel, label);
    session->SetText(kVisitorAddress, ex.remote);
    session->SetLong(kVisitorCompany, company_id);
  }
  return session;
}

void UseVisitorHeader(SiteContext& site, SiteExchange& ex) {
  const std::string value(ex.request[kVisitorHeader]);
  if (value.empty()) return;
  const std::optional<std::string> label = site.visitor_cookie().Check(value);
  if (!label) return;
  if (ex.session && SessionText(*ex.session, kLabel) == *label) return;
  bool made = false;
  // No room: the request goes on without a visitor, as a stranger's.
  auto session = HeaderVisitorSession(site, ex, *label, site.config().company_id, &made);
  if (!session || !made) return;
  LONG company = ReturningVisitorCompany(site, ex);
  std::string error;
  if (!site.app().visitors.VisitorReturned(*label, &company, ex.remote, &error))
    site.failures().Failed("a returning visitor's row", error);
  session->SetLong(kVisitorCompany, company);
}

}  // namespace zelto::serve
