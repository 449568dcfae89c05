// Embedding: the sites a company lets put its chat on their pages (the
// companyOrigin table, set with `zelto company add|set --origins` or the
// administration page). A script of a listed site may call the visitor's
// routes (/api/visitor/...) across origins: the host answers CORS for that
// origin alone (never "*", never with credentials: the visitor is known by
// the X-Zelto-Visitor header, not by cookies), preflight included. A
// request whose Origin is another site not on the company's list gets no
// CORS answer, a 403, and nothing runs. The chat pages may be framed only
// by the site itself and the listed sites (frame-ancestors).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

class SiteContext;
struct SiteExchange;

// The query parameter naming the company a cross-origin call is for (the
// snippet's data-company); without it, the host's own company.
inline constexpr char16_t kCompanyParameter[] = u"company";

class EmbeddingOrigins {
 public:
  explicit EmbeddingOrigins(const SiteDatabase& db) : db_(db) {}

  // The origins company `company_id` lists; every company's when 0.
  // nullopt, with `error`, when the database cannot tell.
  std::optional<std::vector<std::string>> Of(LONG company_id, std::string* error) const;
  // Whether `origin` (as a browser sends it) is on company `company_id`'s
  // list. nullopt, with `error`, when the database cannot tell.
  std::optional<bool> Allows(LONG company_id, std::string_view origin, std::string* error) const;

 private:
  const SiteDatabase& db_;
};

// "frame-ancestors 'self' ORIGIN ...".
std::string FrameAncestors(const std::vector<std::string>& origins);

// The company a request names with ?company=N; `fallback` without one,
// nullopt when it is not a positive number.
std::optional<LONG> RequestCompany(std::string_view query, LONG fallback);

// For the visitor's routes: a request from another site is let through
// only from an origin the company lists, with the CORS headers for it; a
// preflight is answered here. False after answering (the preflight, 403
// for a site not on the list, 400 for a malformed company, 500).
bool AdmitCrossOrigin(SiteContext& site, SiteExchange& ex);

// For the chat's own pages (/visitor/, /frames/): the frame-ancestors
// header naming the sites that may frame them. False after answering 500.
bool LimitFraming(SiteContext& site, SiteExchange& ex);

}  // namespace zelto::serve
