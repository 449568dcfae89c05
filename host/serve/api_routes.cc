// The read-only JSON API for other systems: a company's conversations and
// their transcripts, opened by one of the company's API keys
// ("Authorization: Bearer KEY"); no session, no cookie. A missing, unknown
// or revoked key is answered 401; another company's conversation is not
// found (404), as one that does not exist.
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "host/serve/api_keys.h"
#include "host/serve/api_reads.h"
#include "host/serve/site_routes.h"

namespace zelto::serve {
namespace {

constexpr char kConversationsPath[] = "/api/v1/conversations";

void Unauthorized(SiteExchange& ex, std::string_view why) {
  ex.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"zelto\"");
  ex.Error(http::status::unauthorized, why);
}

// The company of the request's key; nullopt after answering.
std::optional<LONG> KeyCompany(SiteContext& site, SiteExchange& ex) {
  const std::string_view header = ex.request[http::field::authorization];
  constexpr std::string_view kBearer = "Bearer ";
  if (header.size() <= kBearer.size() || header.substr(0, kBearer.size()) != kBearer) {
    Unauthorized(ex, "an API key is needed: Authorization: Bearer KEY");
    return std::nullopt;
  }
  std::string error;
  const auto company = ApiKeys(site.database(), WallSecondsNow)
                           .CompanyOfKey(std::string(header.substr(kBearer.size())), &error);
  if (!error.empty()) {
    site.DatabaseError(ex, error);
    return std::nullopt;
  }
  if (!company) Unauthorized(ex, "the API key is not valid");
  return company;
}

// The form's `key` as an integer within [low, high], `fallback` when
// absent; false after answering 400.
bool NumberParam(SiteExchange& ex, const std::string& key, int64_t low, int64_t high,
                 int64_t fallback, int64_t* out) {
  const std::string text = ex.Form(key);
  if (text.empty()) {
    *out = fallback;
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno == 0 && *end == '\0' && std::isdigit(static_cast<unsigned char>(text[0])) &&
      value >= low && value <= high) {
    *out = value;
    return true;
  }
  ex.Error(http::status::bad_request, key + " must be an integer from " + std::to_string(low) +
                                          " to " + std::to_string(high));
  return false;
}

bool ReadFilter(SiteExchange& ex, ConversationFilter* f) {
  int64_t operator_id = 0, limit = 0, offset = 0;
  constexpr int64_t kMaxTime = int64_t{1} << 40;
  if (!NumberParam(ex, "from", 0, kMaxTime, 0, &f->from) ||
      !NumberParam(ex, "to", 0, kMaxTime, 0, &f->to) ||
      !NumberParam(ex, "operator", 0, 2147483647, 0, &operator_id) ||
      !NumberParam(ex, "limit", 1, kApiPageLimit, kApiPageDefault, &limit) ||
      !NumberParam(ex, "offset", 0, 2147483647, 0, &offset))
    return false;
  f->operator_id = static_cast<LONG>(operator_id);
  f->limit = static_cast<LONG>(limit);
  f->offset = static_cast<LONG>(offset);
  f->label = ex.Form("visitor");
  f->state = ex.Form("state");
  if (!f->state.empty() && f->state != kQueued && f->state != kRunning && f->state != kEnded) {
    ex.Error(http::status::bad_request, "state must be queued, running or ended");
    return false;
  }
  return true;
}

// GET /api/v1/conversations?from=&to=&operator=&visitor=&state=&limit=&offset=
void ListConversations(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::get)) return;
  const auto company = KeyCompany(site, ex);
  ConversationFilter filter;
  if (!company || !ReadFilter(ex, &filter)) return;
  std::string error;
  const auto page = ConversationPage(site.database(), *company, filter, &error);
  if (!page) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(*page));
}

// GET /api/v1/conversations/CID/transcript
void ConversationTranscript(SiteContext& site, SiteExchange& ex) {
  if (!Expect(ex, http::verb::get)) return;
  const auto company = KeyCompany(site, ex);
  if (!company) return;
  std::string_view rest = std::string_view(ex.path).substr(sizeof(kConversationsPath));
  constexpr std::string_view kTail = "/transcript";
  const std::optional<int32_t> cid =
      rest.size() > kTail.size() && rest.substr(rest.size() - kTail.size()) == kTail
          ? ParseWellFormedInteger(rest.substr(0, rest.size() - kTail.size()))
          : std::nullopt;
  if (!cid || *cid <= 0) return ex.Error(http::status::not_found, "no such route");
  std::string error;
  const auto transcript = Transcript(site.database(), *company, *cid, &error);
  if (!transcript) {
    if (!error.empty()) return site.DatabaseError(ex, error);
    return ex.Error(http::status::not_found, "no such conversation");
  }
  ex.Json(http::status::ok, JsonAnswer(*transcript));
}

}  // namespace

void AddApiRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add(kConversationsPath, [&site](SiteExchange& ex) { ListConversations(site, ex); });
  routes.AddPrefix(std::string(kConversationsPath) + "/",
                   [&site](SiteExchange& ex) { ConversationTranscript(site, ex); });
}

}  // namespace zelto::serve
