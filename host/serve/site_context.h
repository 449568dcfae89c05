// SiteContext: what the Site and its route modules share: the site's
// configuration, sessions, database and web application, its failure log,
// and the checks every route makes before anything runs (an operator's
// login and cross-site token, a visitor's session).
#pragma once

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "host/serve/clock.h"
#include "host/serve/failure_log.h"
#include "host/serve/long_poll.h"
#include "host/serve/page_input.h"
#include "host/serve/page_language.h"
#include "host/serve/session_store.h"
#include "host/serve/site_database.h"
#include "host/serve/visitor_cookie.h"
#include "host/serve/web_app.h"

namespace zelto::serve {

struct SiteExchange;
class WorkerPool;

// What wakes a company's consoles (their lists changed: a chat assigned,
// ended or queued, an operator's availability, an offline message, a
// visitor arriving or leaving): the key of the held polls and of the
// notifications between hosts, below every conversation id.
inline LONG CompanyChannel(LONG company_id) { return -company_id; }

struct SiteConfig {
  std::string data_dir;  // DBServer
  std::string db_user, db_password;
  PageCharset charset = PageCharset::kUtf8;
  std::filesystem::path www_root;
  std::filesystem::path files_dir;  // attachments
  size_t form_limit = 64 * 1024;
  size_t upload_limit = 2 * 1024 * 1024;
  LONG company_id = 1;                // the demo site's company
  std::string site_secret;            // key of the visitor cookie (LoadSiteSecret)
  FailureLog* failure_log = nullptr;  // where failures go (stderr, rate-limited, when null)
  // Page fetches (CheckDomain) at once; more are answered 503.
  size_t fetch_limit = 1;
  // Long polling: a poll page's "wait=SECONDS" (at most kMaxPollWait) holds a
  // poll that finds nothing until something is stored in its conversation.
  // Null: "wait" is still taken out of the query, and the poll answers at once.
  LongPoll* long_poll = nullptr;
  // Called after something was stored in conversation cid (a post, an
  // invitation, a transfer, the chat opened or ended); wakes the held polls.
  std::function<void(LONG cid)> stored;
  // What a poll's wait is measured by (the long poll's clock).
  const Clock* clock = &SystemClock();
};

class SiteContext {
 public:
  SiteContext(SiteConfig config, SessionStore& sessions);
  SiteContext(const SiteContext&) = delete;
  SiteContext& operator=(const SiteContext&) = delete;

  const SiteConfig& config() const { return config_; }
  SessionStore& sessions() { return sessions_; }
  SiteDatabase& database() { return db_; }
  WebApp& app() { return app_; }
  FailureLog& failures() { return failures_; }
  const VisitorCookie& visitor_cookie() const { return visitor_cookie_; }
  const PageLanguages& languages() const { return languages_; }
  // The page language of the request (PageLanguages::Choose).
  std::string RequestLanguage(const SiteExchange& ex) const;

  // Answers 401 without an operator's session and, when `token`, 403
  // without the session's cross-site token; false then.
  bool RequireOperator(SiteExchange& ex, bool token);
  // Answers 403 without a visitor's session; false then.
  bool RequireVisitor(SiteExchange& ex);
  // The request's session, or a new one; null when the store is full.
  SessionStore::Values EnsureSession(SiteExchange& ex);
  void SessionsFull(SiteExchange& ex);                             // 503
  void DatabaseError(SiteExchange& ex, const std::string& error);  // 500, logged
  // Something was stored in conversation `cid`: wakes its held polls.
  void Stored(LONG cid);
  // The company's consoles' lists changed: wakes their held polls.
  void CompanyChanged(LONG company_id);
  // Chats of the queue were assigned: wakes their windows and the consoles.
  void Assigned(const std::vector<LONG>& cids, LONG company_id);
  // Where long-held routes run their work again when woken (set by the Site).
  void SetWorkers(WorkerPool* workers) { workers_ = workers; }
  WorkerPool* workers() const { return workers_; }
  // The web application's work for sessions that ended (a visitor leaves).
  // Runs on the calling thread.
  void EndSessions(const std::vector<SessionStore::Values>& ended);

 private:
  SiteConfig config_;
  FailureLog own_failures_;
  FailureLog& failures_;
  SessionStore& sessions_;
  SiteDatabase db_;
  WebApp app_;
  VisitorCookie visitor_cookie_;
  PageLanguages languages_;
  WorkerPool* workers_ = nullptr;
};

}  // namespace zelto::serve
