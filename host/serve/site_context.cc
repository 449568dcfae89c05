#include "host/serve/site_context.h"

#include "host/serve/site_exchange.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {

SiteContext::SiteContext(SiteConfig config, SessionStore& sessions)
    : config_(std::move(config)),
      own_failures_(stderr, std::chrono::seconds(60)),
      failures_(config_.failure_log ? *config_.failure_log : own_failures_),
      sessions_(sessions),
      db_(config_.data_dir, config_.db_user, config_.db_password),
      app_(db_, config_.company_id),
      visitor_cookie_(config_.site_secret),
      languages_(config_.www_root / "i18n") {}

SessionStore::Values SiteContext::EnsureSession(SiteExchange& ex) {
  if (!ex.session) {
    ex.session = sessions_.Create(&ex.session_id);
    ex.new_cookie = ex.session != nullptr;
    if (!ex.session) failures_.Failed("sessions", "the store is full; new sessions refused");
  }
  return ex.session;
}

std::string SiteContext::RequestLanguage(const SiteExchange& ex) const {
  return languages_.Choose(ex.request[http::field::cookie],
                           ex.request[http::field::accept_language]);
}

void SiteContext::SessionsFull(SiteExchange& ex) {
  ex.headers.emplace_back("Retry-After", "60");
  ex.Error(http::status::service_unavailable, "too many visitors at once; try again later");
}

bool SiteContext::RequireOperator(SiteExchange& ex, bool token) {
  if (!ex.session || SessionNumber(*ex.session, kOperatorId) == 0) {
    ex.Error(http::status::unauthorized, "operator login required");
    return false;
  }
  if (!token) return true;
  std::string given;
  if (ex.Is(http::verb::get) || ex.Is(http::verb::head)) {
    const NamedValues query = ParseQueryString(ex.query);
    if (const std::u16string* value = FindValue(query, u"token")) given = WideToUtf8(*value);
  } else {
    given = std::string(ex.request["X-Zelto-Token"]);
  }
  if (!SameToken(given, SessionText(*ex.session, kToken))) {
    ex.Error(http::status::forbidden, "missing or wrong cross-site token");
    return false;
  }
  return true;
}

bool SiteContext::RequireVisitor(SiteExchange& ex) {
  if (!ex.session || SessionText(*ex.session, kLabel).empty()) {
    ex.Error(http::status::forbidden, "no visitor session: open the company site first");
    return false;
  }
  return true;
}

void SiteContext::DatabaseError(SiteExchange& ex, const std::string& error) {
  failures_.Failed(std::string(ex.request.method_string()) + " " + ex.path, error);
  ex.Error(http::status::internal_server_error, "database error");
}

void SiteContext::Stored(LONG cid) {
  if (config_.stored) config_.stored(cid);
}

void SiteContext::CompanyChanged(LONG company_id) {
  if (config_.stored && company_id > 0) config_.stored(CompanyChannel(company_id));
}

void SiteContext::Assigned(const std::vector<LONG>& cids, LONG company_id) {
  for (LONG cid : cids) Stored(cid);
  CompanyChanged(company_id);
}

void SiteContext::EndSessions(const std::vector<SessionStore::Values>& ended) {
  for (const auto& values : ended) {
    if (!values) continue;
    std::string error;
    if (const LONG op = static_cast<LONG>(SessionNumber(*values, kOperatorId))) {
      if (!app_.availability.SessionEnded(op, &error))
        failures_.Failed("an operator's session ending", error);
      CompanyChanged(static_cast<LONG>(SessionNumber(*values, kOperatorCompany)));
    }
    const std::string label = SessionText(*values, kLabel);
    if (label.empty()) continue;
    if (!app_.visitors.VisitorLeft(label, SessionText(*values, kVisitorAddress), &error))
      failures_.Failed("a leaving visitor's rows", error);
    CompanyChanged(config_.company_id);
  }
}

}  // namespace zelto::serve
