// SiteContext: what the Site and its route modules share: the site's
// configuration, sessions, database and web application, its failure log,
// and the checks every route makes before anything runs (an operator's
// login and cross-site token, a visitor's session).
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <set>
#include <string>
#include <vector>

#include "host/serve/abuse_limits.h"
#include "host/serve/access_rules.h"
#include "host/serve/clock.h"
#include "host/serve/failure_log.h"
#include "host/serve/forwarded.h"
#include "host/serve/login_throttle.h"
#include "host/serve/long_poll.h"
#include "host/serve/page_input.h"
#include "host/serve/page_language.h"
#include "host/serve/session_store.h"
#include "host/serve/shared_sessions.h"
#include "host/serve/site_database.h"
#include "host/serve/typing_board.h"
#include "host/serve/visitor_cookie.h"
#include "host/serve/web_app.h"
#include "host/serve/webhook_events.h"
#include "host/serve/webhooks.h"

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
  // The company of the host's own pages (the demo site) and of visitors
  // no snippet names another for.
  LONG company_id = 1;
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
  // Operator sessions kept in the database too (shared_sessions.h), for
  // the hosts of one database server.
  bool shared_sessions = false;
  // Whose forwarded headers are believed (host/serve/forwarded.h).
  TrustedProxies trusted_proxies = TrustedProxies::Loopback();
  // The address clients use ("https://chat.example.com"), when set: its
  // scheme and host are the request's, whatever the headers say.
  std::string public_url;
  // The memberships found (null: the context keeps its own, for
  // MembershipMemory::kDefaultRemember).
  MembershipMemory* memberships = nullptr;
  AbuseLimits limits;
  // Who types where (null: the context keeps its own), and how a change of
  // it reaches the other hosts (null: it stays on this one).
  TypingBoard* typing = nullptr;
  std::function<void(const TypingNote&)> share_typing;
  // Webhooks: how failed deliveries are tried again, and what wakes the
  // sender after deliveries were queued (may be empty).
  WebhookRetry webhook_retry;
  std::function<void()> webhook_queued;
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

  // Answers 401 without an operator's session (or when its operator was
  // removed, ending the session) and, when `token`, 403 without the
  // session's cross-site token; false then.
  bool RequireOperator(SiteExchange& ex, bool token);
  // Answers 403 without a visitor's session, or when a listed site calls
  // for another company's visitor; false then.
  bool RequireVisitor(SiteExchange& ex);
  // The company the session's visitor came for (kVisitorCompany), the
  // site's own when the session names none.
  LONG VisitorCompany(const SessionValues& values) const;
  // Answers 403 unless the session's visitor or operator may make `use` of
  // conversation `cid` (AccessRules); 500 when that cannot be read.
  bool RequireConversation(SiteExchange& ex, std::optional<LONG> cid, ConversationUse use);
  // Answers 403 unless `serid` is an operator of the session operator's
  // company.
  bool RequireColleague(SiteExchange& ex, std::optional<LONG> serid);
  // Answers 403 to a state-changing request a browser sent from another
  // site (host/serve/request_origin.h).
  bool RequireSameSite(SiteExchange& ex);
  // Answers 429 with Retry-After when the session's visitor has posted
  // faster than the message rate allows.
  bool RequireMessageAllowance(SiteExchange& ex);
  AccessRules& access() { return access_; }
  const Webhooks& webhooks() const { return webhooks_; }
  // What the companies' webhooks are told (webhook_events.h).
  const WebhookEvents& events() const { return events_; }
  LoginThrottle& logins() { return logins_; }
  UploadQuota& uploads() { return uploads_; }
  // Answers 429 with Retry-After `wait` (whole seconds, at least 1).
  void TooMany(SiteExchange& ex, Duration wait, std::string_view message);
  // The store's places only logins may take: a tenth, at most 1000.
  size_t LoginReserve() const;
  // The request's session, or a new one; null when the store is full.
  SessionStore::Values EnsureSession(SiteExchange& ex);
  // The same for a visitor: a new session counts against the client
  // address's visitor sessions and leaves the store's last places
  // (kLoginReserve) to operators' logins; null when refused.
  SessionStore::Values EnsureVisitorSession(SiteExchange& ex);
  // The visitor session known under `id` (host/serve/visitor_header.h),
  // made when missing (then `*made`), counted as EnsureVisitorSession
  // counts; no session cookie is set for it. Null when refused.
  SessionStore::Values AdoptVisitorSession(SiteExchange& ex, const std::string& id, bool* made);
  void SessionsFull(SiteExchange& ex);                             // 503
  // 500, logged; on a component page 200 with a failed X-Zelto-HResult and
  // no body, as the page answers when its own database fails.
  void DatabaseError(SiteExchange& ex, const std::string& error);
  // Something was stored in conversation `cid`: wakes its held polls.
  void Stored(LONG cid);
  // A poll received messages of conversation `cid` (their read marks are
  // written): wakes its held requests here and on the other hosts, without
  // forgetting its memberships.
  void MessagesRead(LONG cid);
  // Someone started or stopped typing in a conversation: the board takes
  // it (at most one update a second per typist); when it changed, wakes the
  // conversation's held polls here and tells the other hosts.
  void Typed(const TypingNote& note);
  TypingBoard& typing() { return typing_; }
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
  // A login: the session's operator values, kept for every host when
  // sessions are shared. `replaced` is the session's id before the login.
  // False after answering 500.
  bool StartOperatorSession(SiteExchange& ex, const OperatorInfo& op, const std::string& token,
                            const std::string& replaced);
  // A logout: the session ends here and, when shared, on every host.
  void EndOperatorSession(SiteExchange& ex);
  // Shared sessions unused for the timeout are deleted (on a worker).
  void SweepSharedSessions();

 private:
  SiteConfig config_;
  FailureLog own_failures_;
  SessionStore::Values NewSession(SiteExchange& ex, size_t keep_free);
  bool TakeVisitorSession(const std::string& address);
  void ReleaseVisitorSession(const std::string& address);

  FailureLog& failures_;
  SessionStore& sessions_;
  SiteDatabase db_;
  WebApp app_;
  MembershipMemory own_memberships_;
  TypingBoard own_typing_;
  TypingBoard& typing_;
  AccessRules access_;
  RateLimiter messages_;
  LoginThrottle logins_;
  UploadQuota uploads_;
  std::mutex visitor_sessions_mutex_;
  std::unordered_map<std::string, size_t> visitor_sessions_;  // per client address
  VisitorCookie visitor_cookie_;
  PageLanguages languages_;
  std::unique_ptr<SharedSessions> shared_;  // null: sessions live in this host only
  Webhooks webhooks_;
  WebhookEvents events_;

  // With shared sessions: the request's session brought from the database
  // (adopted when this host does not know it), or a local operator session
  // ended when its row is gone. False after answering (500, 503).
  bool SyncSharedSession(SiteExchange& ex);
  // Without: false after answering when the session's operator was removed.
  bool OperatorStillThere(SiteExchange& ex);
  WorkerPool* workers_ = nullptr;
};

}  // namespace zelto::serve
