// Site: the chat site as an HttpHandler. It finds the user's session by the
// ZSESSIONID cookie (HttpOnly, SameSite=Lax), or a visitor's label by the
// signed ZVISITOR cookie when the session is gone, and serves component
// pages, the routes its route modules register (host/serve/site_routes.h:
// the web application's JSON routes, taking a visitor), the company site
// (recording visits), attachments and the static pages. Who may do what is
// checked before anything runs: operator pages need a logged-in session
// (401) and, for actions, the session's cross-site token (403); visitor
// pages need the visitor's own session. Database work runs on the worker
// pool; a full pool answers 503.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "host/serve/component_pages.h"
#include "host/serve/http_server.h"
#include "host/serve/route_table.h"
#include "host/serve/session_store.h"
#include "host/serve/site_context.h"
#include "host/serve/static_files.h"
#include "host/serve/worker_pool.h"

namespace zelto::serve {

class Site : public HttpHandler {
 public:
  using Exchange = SiteExchange;

  Site(SiteConfig config, WorkerPool& workers, SessionStore& sessions);

  size_t BodyLimit(const HttpRequest& header) const override;
  void Handle(HttpRequest request, const std::string& remote, Respond respond) override;
  void HandleWatched(HttpRequest request, const std::string& remote, Respond respond,
                     std::shared_ptr<ClientWatch> watch) override;

  // The web application's work for sessions that ended (a visitor leaves).
  // Runs on the calling thread.
  void EndSessions(const std::vector<SessionStore::Values>& ended) { context_.EndSessions(ended); }
  const SiteDatabase& database() { return context_.database(); }
  void SweepSharedSessions() { context_.SweepSharedSessions(); }
  // Attachments a purge removed: room again under the folder's cap.
  void FilesRemoved(uint64_t bytes) { context_.uploads().Removed(bytes); }

 private:
  void Dispatch(Exchange& ex);
  void RunRoute(Exchange& ex, const RouteTable::Handler& route);
  void RunPage(Exchange& ex);
  // Answers 403 (or 429) unless the session may run `page` as asked: its
  // conversation, the operator it names, the site it came from, the
  // visitor's message rate.
  bool AllowedPage(Exchange& ex, const ComponentPage& page);
  // One run of a poll page; a poll that finds nothing before `deadline` is
  // held (LongPoll) and run again when woken.
  void RunPoll(const std::shared_ptr<Exchange>& ex, const ComponentPage& page, LONG operator_id,
               LONG cid, TimePoint deadline);
  void AnswerPage(Exchange& ex, const ComponentPage& page, PageOutput output);
  // On a poll of an ended conversation: the header saying who ended it and
  // when; true then.
  bool SayIfEnded(Exchange& ex, LONG cid);
  // Answers 403 to a post into an ended conversation; true then.
  bool RefuseEnded(Exchange& ex);
  void ServeCompanySite(Exchange& ex);
  void ServeFile(Exchange& ex, const StaticFiles& files, bool attachment);
  // A request without a session but with a genuine visitor cookie gets a new
  // session holding that visitor's label; the visitor's onlineCst row is
  // made again only when it is gone.
  void RestoreVisitor(Exchange& ex);
  void GiveVisitorLabel(Exchange& ex, const std::string& label);

  SiteContext context_;
  const SiteConfig& config_;  // context_'s
  RouteTable routes_;
  std::atomic<size_t> fetches_{0};  // CheckDomain pages running
  WorkerPool& workers_;
  StaticFiles www_;
  StaticFiles files_;
};

}  // namespace zelto::serve
