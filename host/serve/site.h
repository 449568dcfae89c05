// Site: the chat site as an HttpHandler. It finds the user's session by the
// ZSESSIONID cookie (HttpOnly, SameSite=Lax), or a visitor's label by the
// signed ZVISITOR cookie when the session is gone, routes component pages, the
// web application's JSON routes, the company site (recording visits),
// attachments and the static pages, and checks who may do what before
// anything runs: operator pages need a logged-in session (401) and, for
// actions, the session's cross-site token (403); visitor pages need the
// visitor's own session. Database work runs on the worker pool; a full pool
// answers 503.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#include "host/serve/component_pages.h"
#include "host/serve/failure_log.h"
#include "host/serve/http_server.h"
#include "host/serve/long_poll.h"
#include "host/serve/page_language.h"
#include "host/serve/session_store.h"
#include "host/serve/site_database.h"
#include "host/serve/static_files.h"
#include "host/serve/visitor_cookie.h"
#include "host/serve/web_app.h"
#include "host/serve/worker_pool.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {

struct SiteConfig {
  std::string data_dir;  // DBServer
  std::string db_user, db_password;
  PageCharset charset = PageCharset::kUtf8;
  std::filesystem::path www_root;
  std::filesystem::path files_dir;  // attachments
  size_t form_limit = 64 * 1024;
  size_t upload_limit = 2 * 1024 * 1024;
  LONG company_id = 1;      // the demo site's company
  std::string site_secret;  // key of the visitor cookie (LoadSiteSecret)
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

class Site : public HttpHandler {
 public:
  Site(SiteConfig config, WorkerPool& workers, SessionStore& sessions);

  size_t BodyLimit(const HttpRequest& header) const override;
  void Handle(HttpRequest request, const std::string& remote, Respond respond) override;
  void HandleWatched(HttpRequest request, const std::string& remote, Respond respond,
                     std::shared_ptr<ClientWatch> watch) override;

  // The web application's work for sessions that ended (a visitor leaves).
  // Runs on the calling thread.
  void EndSessions(const std::vector<SessionStore::Values>& ended);

  struct Exchange;

 private:
  void Dispatch(Exchange& ex);
  void RunPage(Exchange& ex);
  // One run of a poll page; a poll that finds nothing before `deadline` is
  // held (LongPoll) and run again when woken.
  void RunPoll(const std::shared_ptr<Exchange>& ex, const ComponentPage& page, LONG operator_id,
               LONG cid, TimePoint deadline);
  void AnswerPage(Exchange& ex, const ComponentPage& page, PageOutput output);
  void Stored(LONG cid);
  void RunApi(Exchange& ex);
  void ServeCompanySite(Exchange& ex);
  void ServeFile(Exchange& ex, const StaticFiles& files, bool attachment);
  void TakeVisitor(Exchange& ex);
  void Upload(Exchange& ex);
  void Login(Exchange& ex);
  void Logout(Exchange& ex);
  void VisitorApi(Exchange& ex);
  void OperatorApi(Exchange& ex);
  void EndConversation(Exchange& ex);

  bool RequireOperator(Exchange& ex, bool token);
  bool RequireVisitor(Exchange& ex);
  // The request's session, or a new one; null when the store is full.
  SessionStore::Values EnsureSession(Exchange& ex);
  void SessionsFull(Exchange& ex);                             // 503
  void DatabaseError(Exchange& ex, const std::string& error);  // 500, logged
  // A request without a session but with a genuine visitor cookie gets a new
  // session holding that visitor's label; the visitor's onlineCst row is
  // made again only when it is gone.
  void RestoreVisitor(Exchange& ex);
  void GiveVisitorLabel(Exchange& ex, const std::string& label);
  std::set<LONG> OnlineOperators();
  // The page language of the request (PageLanguages::Choose).
  std::string RequestLanguage(const Exchange& ex) const;

  SiteConfig config_;
  FailureLog own_failures_;
  FailureLog& failures_;
  std::atomic<size_t> fetches_{0};  // CheckDomain pages running
  WorkerPool& workers_;
  SessionStore& sessions_;
  SiteDatabase db_;
  WebApp app_;
  StaticFiles www_;
  PageLanguages languages_;
  StaticFiles files_;
  VisitorCookie visitor_cookie_;
};

}  // namespace zelto::serve
