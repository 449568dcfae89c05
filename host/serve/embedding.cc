#include "host/serve/embedding.h"

#include "host/serve/administration.h"
#include "host/serve/request_origin.h"
#include "host/serve/site_context.h"
#include "host/serve/site_exchange.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {
namespace {

// What a listed site's script may send and read.
constexpr char kAllowedMethods[] = "GET, POST";
constexpr char kAllowedHeaders[] = "Content-Type, X-Zelto-Visitor";
constexpr char kExposedHeaders[] = "Retry-After, X-Zelto-Wait, X-Zelto-Ended";
constexpr char kPreflightSeconds[] = "600";

void AddVary(SiteExchange& ex, std::string_view field) {
  for (auto& [name, value] : ex.headers) {
    if (name == "Vary") {
      value += ", " + std::string(field);
      return;
    }
  }
  ex.headers.emplace_back("Vary", std::string(field));
}

}  // namespace

std::optional<std::vector<std::string>> EmbeddingOrigins::Of(LONG company_id,
                                                             std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  const std::string where = company_id ? " where companyId=" + SqlId(company_id) : "";
  if (!db_.Query(kChatCatalog, "select origin from companyOrigin" + where + " order by origin",
                 {"origin"}, &rows, error))
    return std::nullopt;
  std::vector<std::string> origins;
  for (auto& row : rows) origins.push_back(std::move(row[0]));
  return origins;
}

std::optional<bool> EmbeddingOrigins::Allows(LONG company_id, std::string_view origin,
                                             std::string* error) const {
  const std::optional<std::string> normal = NormalOrigin(std::string(origin));
  if (!normal) return false;  // "null", a file: page, garbage
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select count(*) as n from companyOrigin where companyId=" + SqlId(company_id) +
                     " and origin=" + SqlStringLiteral(*normal),
                 {"n"}, &rows, error))
    return std::nullopt;
  return !rows.empty() && IdField(rows[0][0]) > 0;
}

std::string FrameAncestors(const std::vector<std::string>& origins) {
  std::string value = "frame-ancestors 'self'";
  for (const std::string& origin : origins) value += " " + origin;
  return value;
}

std::optional<LONG> RequestCompany(std::string_view query, LONG fallback) {
  const NamedValues values = ParseQueryString(query);
  const std::u16string* company = FindValue(values, kCompanyParameter);
  if (!company) return fallback;
  const std::optional<LONG> id = ParseWellFormedInteger(WideToUtf8(*company));
  if (!id || *id <= 0) return std::nullopt;
  return id;
}

bool AdmitCrossOrigin(SiteContext& site, SiteExchange& ex) {
  if (!ex.path.starts_with("/api/visitor/")) return true;
  const std::string origin(ex.request[http::field::origin]);
  if (origin.empty() || !FromAnotherSite(ex.request, ex.host)) return true;
  const std::optional<LONG> company = RequestCompany(ex.query, site.config().company_id);
  if (!company) {
    ex.Error(http::status::bad_request, "company must be a company's id");
    return false;
  }
  std::string error;
  const std::optional<bool> allowed =
      EmbeddingOrigins(site.database()).Allows(*company, origin, &error);
  if (!allowed) {
    site.DatabaseError(ex, error);
    return false;
  }
  if (!*allowed) {
    ex.Error(http::status::forbidden, "this site may not use the company's chat");
    return false;
  }
  ex.headers.emplace_back("Access-Control-Allow-Origin", origin);
  ex.headers.emplace_back("Access-Control-Expose-Headers", kExposedHeaders);
  AddVary(ex, "Origin");
  ex.cross_origin_company = *company;
  if (!ex.Is(http::verb::options)) return true;
  ex.headers.emplace_back("Access-Control-Allow-Methods", kAllowedMethods);
  ex.headers.emplace_back("Access-Control-Allow-Headers", kAllowedHeaders);
  ex.headers.emplace_back("Access-Control-Max-Age", kPreflightSeconds);
  ex.Reply(http::status::no_content, "text/plain; charset=utf-8", "");
  return false;
}

bool LimitFraming(SiteContext& site, SiteExchange& ex) {
  // The company the snippet named when it opened the frame; the pages a
  // chat window holds (/frames/) name none and allow every listed site.
  const std::optional<LONG> company = RequestCompany(ex.query, 0);
  std::string error;
  const auto origins = EmbeddingOrigins(site.database()).Of(company.value_or(0), &error);
  if (!origins) {
    site.DatabaseError(ex, error);
    return false;
  }
  ex.headers.emplace_back("Content-Security-Policy", FrameAncestors(*origins));
  return true;
}

}  // namespace zelto::serve
