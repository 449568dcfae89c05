#include "host/serve/site_context.h"

#include "host/serve/request_origin.h"
#include "host/serve/site_exchange.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {

SiteContext::SiteContext(SiteConfig config, SessionStore& sessions)
    : config_(std::move(config)),
      own_failures_(stderr, std::chrono::seconds(60)),
      failures_(config_.failure_log ? *config_.failure_log : own_failures_),
      sessions_(sessions),
      db_(config_.data_dir, config_.db_user, config_.db_password),
      app_(db_),
      own_memberships_(*config_.clock),
      own_typing_(*config_.clock),
      typing_(config_.typing ? *config_.typing : own_typing_),
      access_(db_, config_.memberships ? *config_.memberships : own_memberships_),
      messages_(*config_.clock, config_.limits.message_rate, config_.limits.message_burst),
      logins_(*config_.clock, config_.limits.login_id_failures,
              config_.limits.login_address_failures),
      uploads_(*config_.clock, config_.limits.upload_address_bytes, config_.limits.files_bytes,
               FolderBytes(config_.files_dir.string())),
      visitor_cookie_(config_.site_secret),
      languages_(config_.www_root / "i18n"),
      webhooks_(db_, WallSecondsNow, config_.webhook_retry),
      events_(db_, webhooks_, failures_, config_.webhook_queued) {
  if (config_.shared_sessions)
    shared_ = std::make_unique<SharedSessions>(
        db_, std::chrono::duration_cast<std::chrono::seconds>(sessions_.timeout()));
}

namespace {

// A visitor session holding a place of its client address.
constexpr char kAddressPlace[] = "address_place";

}  // namespace

SessionStore::Values SiteContext::NewSession(SiteExchange& ex, size_t keep_free) {
  ex.session = sessions_.Create(&ex.session_id, keep_free);
  ex.new_cookie = ex.session != nullptr;
  if (!ex.session) failures_.Failed("sessions", "the store is full; new sessions refused");
  return ex.session;
}

SessionStore::Values SiteContext::EnsureSession(SiteExchange& ex) {
  return ex.session ? ex.session : NewSession(ex, 0);
}

size_t SiteContext::LoginReserve() const { return std::min<size_t>(sessions_.limit() / 10, 1000); }

SessionStore::Values SiteContext::EnsureVisitorSession(SiteExchange& ex) {
  if (ex.session) return ex.session;
  if (!TakeVisitorSession(ex.remote)) return nullptr;
  if (!NewSession(ex, LoginReserve())) {
    ReleaseVisitorSession(ex.remote);
    return nullptr;
  }
  ex.session->SetText(kAddressPlace, ex.remote);
  return ex.session;
}

SessionStore::Values SiteContext::AdoptVisitorSession(SiteExchange& ex, const std::string& id,
                                                     bool* made) {
  *made = false;
  ex.session_id = id;
  ex.new_cookie = false;
  if ((ex.session = sessions_.Find(id))) return ex.session;
  if (!TakeVisitorSession(ex.remote)) return nullptr;
  ex.session = sessions_.Adopt(id, [&](SessionValues& values) {
    values.SetText(kAddressPlace, ex.remote);
    *made = true;
  });
  // Made by a request of the same visitor meanwhile: its place is counted.
  if (!*made) ReleaseVisitorSession(ex.remote);
  if (!ex.session) failures_.Failed("sessions", "the store is full; new sessions refused");
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
  if (shared_ ? !SyncSharedSession(ex) : !OperatorStillThere(ex)) return false;
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

// Removed since the login (by the administration page or a command): the
// session ends here, and the request is answered 401 by the caller. When
// the database cannot tell, the request goes on as the login allows: the
// page then meets the same failure and answers it its own way.
bool SiteContext::OperatorStillThere(SiteExchange& ex) {
  if (!ex.session || SessionNumber(*ex.session, kOperatorId) == 0) return true;
  std::string error;
  const auto active =
      app_.admin.IsActive(static_cast<LONG>(SessionNumber(*ex.session, kOperatorId)), &error);
  if (!active) {
    failures_.Failed("an operator's removal check", error);
    return true;
  }
  if (!*active) {
    EndSessions({sessions_.End(ex.session_id)});
    ex.session = nullptr;
    ex.clear_cookie = true;
  }
  return true;
}

bool SiteContext::SyncSharedSession(SiteExchange& ex) {
  if (ex.session_id.empty()) return true;
  std::string error;
  const auto shared = shared_->Check(ex.session_id, &error);
  const bool local_operator = ex.session && SessionNumber(*ex.session, kOperatorId) != 0;
  if (!error.empty()) {
    // A session this host knows goes on as its login allows (as without
    // shared sessions); one it does not know cannot be told apart.
    if (local_operator) {
      failures_.Failed("a shared session's check", error);
      return true;
    }
    DatabaseError(ex, error);
    return false;
  }
  if (!shared) {
    if (local_operator) {  // logged out or removed on some host
      EndSessions({sessions_.End(ex.session_id)});
      ex.session = nullptr;
      ex.clear_cookie = true;
    }
    return true;
  }
  if (local_operator) return true;
  ex.session = sessions_.Adopt(ex.session_id, [&shared](SessionValues& values) {
    values.SetLong(kOperatorId, shared->operator_id);
    values.SetLong(kOperatorCompany, shared->company_id);
    values.SetText(kToken, shared->token);
  });
  if (!ex.session) {
    SessionsFull(ex);
    return false;
  }
  // This host's copy of the session counts in the operator's availability
  // as a login here would: its end here (expiry, logout, removal) uncounts
  // it again.
  const auto assigned =
      app_.availability.SessionStarted(shared->operator_id, shared->company_id, &error);
  if (!assigned)
    failures_.Failed("an operator's session from another host", error);
  else
    Assigned(*assigned, shared->company_id);
  return true;
}

bool SiteContext::StartOperatorSession(SiteExchange& ex, const OperatorInfo& op,
                                       const std::string& token, const std::string& replaced) {
  ex.session->SetLong(kOperatorId, op.id);
  ex.session->SetLong(kOperatorCompany, op.company_id);
  ex.session->SetText(kToken, token);
  std::string error;
  if (!shared_ ||
      shared_->Save(ex.session_id, SharedOperatorSession{op.id, op.company_id, token}, replaced,
                    &error))
    return true;
  sessions_.End(ex.session_id);
  DatabaseError(ex, error);
  return false;
}

void SiteContext::EndOperatorSession(SiteExchange& ex) {
  std::string error;
  if (shared_ && !shared_->Remove(ex.session_id, &error))
    failures_.Failed("a shared session's end", error);
  EndSessions({sessions_.End(ex.session_id)});
}

void SiteContext::SweepSharedSessions() {
  std::string error;
  if (shared_ && !shared_->Sweep(&error)) failures_.Failed("shared sessions' sweep", error);
}

bool SiteContext::RequireVisitor(SiteExchange& ex) {
  if (!ex.session || SessionText(*ex.session, kLabel).empty()) {
    ex.Error(http::status::forbidden, "no visitor session: open the company site first");
    return false;
  }
  // A listed site acts for its own company's visitors only.
  if (ex.cross_origin_company && ex.cross_origin_company != VisitorCompany(*ex.session)) {
    ex.Error(http::status::forbidden, "the visitor is another company's");
    return false;
  }
  return true;
}

bool SiteContext::RequireConversation(SiteExchange& ex, std::optional<LONG> cid,
                                      ConversationUse use) {
  std::string error;
  const LONG operator_id = static_cast<LONG>(SessionNumber(*ex.session, kOperatorId));
  const bool allowed =
      cid && (operator_id ? access_.OperatorMay(operator_id, *cid, use, &error)
                          : access_.VisitorMay(SessionText(*ex.session, kLabel), *cid, use, &error));
  if (allowed) return true;
  if (!error.empty()) {
    DatabaseError(ex, error);
  } else {
    ex.Error(http::status::forbidden, "not a conversation of yours");
  }
  return false;
}

bool SiteContext::RequireColleague(SiteExchange& ex, std::optional<LONG> serid) {
  std::string error;
  const LONG company = static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany));
  if (serid && access_.IsOperatorOf(*serid, company, &error)) return true;
  if (!error.empty()) {
    DatabaseError(ex, error);
  } else {
    ex.Error(http::status::forbidden, "no such operator in your company");
  }
  return false;
}

bool SiteContext::RequireSameSite(SiteExchange& ex) {
  if (!FromAnotherSite(ex.request, ex.host)) return true;
  // A foreign page cannot set this header on a request the browser sends
  // for it (that would need a CORS preflight, which the site never allows).
  const auto label = visitor_cookie_.Check(std::string(ex.request[kVisitorHeader]));
  if (label && ex.session && *label == SessionText(*ex.session, kLabel)) return true;
  ex.Error(http::status::forbidden, "cross-site request refused");
  return false;
}

bool SiteContext::RequireMessageAllowance(SiteExchange& ex) {
  const std::optional<Duration> wait = messages_.Take("v" + SessionText(*ex.session, kLabel));
  if (!wait) return true;
  TooMany(ex, *wait, "too many messages at once; wait a moment");
  return false;
}

void SiteContext::TooMany(SiteExchange& ex, Duration wait, std::string_view message) {
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
  ex.headers.emplace_back("Retry-After", std::to_string(std::max<long long>(seconds, 1)));
  ex.Error(http::status::too_many_requests, message);
}

bool SiteContext::TakeVisitorSession(const std::string& address) {
  std::lock_guard lock(visitor_sessions_mutex_);
  size_t& held = visitor_sessions_[address];
  if (held >= config_.limits.sessions_per_address) {
    failures_.Failed("sessions", "a client address holds as many visitor sessions as allowed; "
                                 "more are refused");
    return false;
  }
  ++held;
  return true;
}

void SiteContext::ReleaseVisitorSession(const std::string& address) {
  std::lock_guard lock(visitor_sessions_mutex_);
  auto it = visitor_sessions_.find(address);
  if (it == visitor_sessions_.end()) return;
  if (--it->second == 0) visitor_sessions_.erase(it);
}

void SiteContext::DatabaseError(SiteExchange& ex, const std::string& error) {
  if (ex.page_method) {
    failures_.Failed(ex.page_method, error);
    ex.headers.emplace_back("X-Zelto-HResult", "0x80004005");  // E_FAIL
    return ex.Reply(http::status::ok, "text/html; charset=utf-8", "");
  }
  failures_.Failed(std::string(ex.request.method_string()) + " " + ex.path, error);
  ex.Error(http::status::internal_server_error, "database error");
}

void SiteContext::Stored(LONG cid) {
  access_.Forget(cid);
  if (config_.stored) config_.stored(cid);
}

void SiteContext::MessagesRead(LONG cid) {
  if (config_.stored) config_.stored(cid);
}

void SiteContext::Typed(const TypingNote& note) {
  if (!typing_.Apply(note)) return;
  if (config_.long_poll) config_.long_poll->Wake(note.cid);
  if (config_.share_typing) config_.share_typing(note);
}

LONG SiteContext::VisitorCompany(const SessionValues& values) const {
  const LONG company = static_cast<LONG>(SessionNumber(values, kVisitorCompany));
  return company > 0 ? company : config_.company_id;
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
    if (const std::string place = SessionText(*values, kAddressPlace); !place.empty())
      ReleaseVisitorSession(place);
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
    CompanyChanged(VisitorCompany(*values));
  }
}

}  // namespace zelto::serve
