#include "host/serve/site.h"

#include <algorithm>
#include <optional>

#include <boost/beast/http/field.hpp>

#include "db/sql_values.h"
#include "host/serve/component_pages.h"
#include "host/serve/content_encoding.h"
#include "host/serve/embedding.h"
#include "host/serve/forwarded.h"
#include "host/serve/http_text.h"
#include "host/serve/page_input.h"
#include "host/serve/site_exchange.h"
#include "host/serve/site_routes.h"
#include "host/serve/visitor_header.h"
#include "platform/asp/query_string.h"

namespace zelto::serve {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsHtmlPage(std::string_view path) {
  return path.empty() || path.back() == '/' || path.ends_with(".html") || path.ends_with(".htm");
}

// The chat's own pages, which a listed site may frame (LimitFraming).
bool IsChatDocument(std::string_view path) {
  return (StartsWith(path, "/visitor/") || StartsWith(path, "/frames/")) && IsHtmlPage(path);
}

// "/files/NAME", "/visitor/files/NAME", ...: the message lists link
// attachments relative to the page that shows them.
std::optional<std::string> AttachmentName(std::string_view path) {
  const size_t at = path.rfind("/files/");
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view before = path.substr(0, at);
  if (before.find('/', 1) != std::string_view::npos) return std::nullopt;
  const std::string_view name = path.substr(at + 7);
  if (name.empty() || name.find('/') != std::string_view::npos) return std::nullopt;
  return std::string(name);
}

bool IsImage(const std::string& content_type) {
  return StartsWith(content_type, "image/") && content_type != "image/svg+xml";
}

// The query's `key` ("cid", "serid") as the component reads it, when it is
// a number.
std::optional<LONG> QueryId(std::string_view query, std::u16string_view key) {
  const NamedValues values = ParseQueryString(query);
  const std::u16string* id = FindValue(values, key);
  return id ? ParseWellFormedInteger(WideToUtf8(*id)) : std::nullopt;
}
std::optional<LONG> QueryCid(std::string_view query) { return QueryId(query, u"cid"); }

// A comparison fetches each of its ";"-separated addresses.
constexpr size_t kMaxDomainItems = 10;
size_t DomainItems(std::string_view query) {
  const NamedValues values = ParseQueryString(query);
  const std::u16string* domains = FindValue(values, u"domains");
  if (!domains || domains->empty()) return 0;
  const size_t separators = std::count(domains->begin(), domains->end(), u';');
  return separators + (domains->back() == u';' ? 0 : 1);
}

ConversationUse UseOf(PageAccess access) {
  return access == PageAccess::kReads ? ConversationUse::kRead : ConversationUse::kAct;
}

// On a poll that asked to wait: the seconds it may be held (0: answered at
// once, the host holds no polls or no more now).
constexpr char kWaitHeader[] = "X-Zelto-Wait";
// On a poll of a conversation that ended: "WHO;SECONDS" (who ended it,
// when, in seconds since 1970; WHO empty when not known).
constexpr char kEndedHeader[] = "X-Zelto-Ended";

bool IsPost(const ComponentPage& page) {
  return std::string_view(page.method) == "DoClientMsg" ||
         std::string_view(page.method) == "DoUserMsg";
}

// Sends `body`, in gzip when the client accepts it and it is worth it.
void ReplyEncoded(SiteExchange& ex, http::status status, std::string content_type,
                  std::string body) {
  if (IsCompressible(content_type)) {
    auto vary = std::find_if(ex.headers.begin(), ex.headers.end(),
                             [](const auto& header) { return header.first == "Vary"; });
    if (vary == ex.headers.end())
      ex.headers.emplace_back("Vary", "Accept-Encoding");
    else
      vary->second += ", Accept-Encoding";
    if (body.size() >= kCompressFrom && AcceptsGzip(ex.request[http::field::accept_encoding])) {
      if (std::optional<std::string> packed = Gzip(body)) {
        ex.headers.emplace_back("Content-Encoding", "gzip");
        body = std::move(*packed);
      }
    }
  }
  ex.Reply(status, std::move(content_type), std::move(body));
}

}  // namespace

Site::Site(SiteConfig config, WorkerPool& workers, SessionStore& sessions)
    : context_(std::move(config), sessions),
      config_(context_.config()),
      workers_(workers),
      www_(config_.www_root),
      files_(config_.files_dir) {
  AddVisitorRoutes(routes_, context_);
  AddOperatorRoutes(routes_, context_);
  AddConversationRoutes(routes_, context_);
  AddUploadRoutes(routes_, context_);
  AddAdminRoutes(routes_, context_);
  AddLifecycleRoutes(routes_, context_);
  AddRecordsRoutes(routes_, context_);
  AddEmbedRoutes(routes_, context_);
  AddToolkitRoutes(routes_, context_);
  AddApiRoutes(routes_, context_);
  AddIntegrationRoutes(routes_, context_);
  context_.SetWorkers(&workers_);
}

size_t Site::BodyLimit(const HttpRequest& header) const {
  const std::string_view target = header.target();
  return StartsWith(target, "/api/upload") ? config_.upload_limit : config_.form_limit;
}

void Site::Handle(HttpRequest request, const std::string& remote, Respond respond) {
  HandleWatched(std::move(request), remote, std::move(respond), nullptr);
}

void Site::HandleWatched(HttpRequest request, const std::string& remote, Respond respond,
                         std::shared_ptr<ClientWatch> watch) {
  auto ex = std::make_shared<Exchange>();
  ex->request = std::move(request);
  ClientView client = SeeClient(ex->request, remote, config_.trusted_proxies);
  if (!config_.public_url.empty()) ApplyPublicUrl(config_.public_url, &client);
  ex->remote = std::move(client.address);
  ex->https = client.https;
  ex->host = std::move(client.host);
  ex->respond = std::move(respond);
  ex->watch = std::move(watch);
  const std::string_view target = ex->request.target();
  const size_t question = target.find('?');
  ex->path = std::string(target.substr(0, question));
  if (question != std::string_view::npos) ex->query = std::string(target.substr(question + 1));
  ex->session_id = CookieValue(ex->request[http::field::cookie], kCookie);
  if (!ex->session_id.empty()) ex->session = context_.sessions().Find(ex->session_id);

  const std::string& path = ex->path;
  const bool on_worker = FindComponentPage(path) || StartsWith(path, "/api/") ||
                         StartsWith(path, "/site/") || path == "/site" || routes_.Find(path) ||
                         IsChatDocument(path);
  if (!on_worker) return Dispatch(*ex);
  if (!workers_.Submit([this, ex] { Dispatch(*ex); })) {
    ex->headers.emplace_back("Retry-After", "1");
    ex->Error(http::status::service_unavailable, "the server is busy; try again");
  }
}

void Site::Dispatch(Exchange& ex) {
  const std::string& path = ex.path;
  if (!AdmitCrossOrigin(context_, ex)) return;
  // Only requests already on a worker: restoring may touch the database.
  if (FindComponentPage(path) || StartsWith(path, "/api/") || StartsWith(path, "/site/"))
    UseVisitorHeader(context_, ex);
  if (!ex.session &&
      (FindComponentPage(path) || StartsWith(path, "/api/visitor/") || StartsWith(path, "/site/")))
    RestoreVisitor(ex);
  if (path == "/healthz") return ex.Reply(http::status::ok, "text/plain; charset=utf-8", "ok\n");
  if (FindComponentPage(path)) return RunPage(ex);
  if (const RouteTable::Handler* route = routes_.Find(path)) return RunRoute(ex, *route);
  if (StartsWith(path, "/api/")) return ex.Error(http::status::not_found, "no such route");
  if (!ex.Is(http::verb::get) && !ex.Is(http::verb::head)) {
    ex.headers.emplace_back("Allow", "GET, HEAD");
    return ex.Error(http::status::method_not_allowed, "method not allowed");
  }
  if (StartsWith(path, "/site/") || path == "/site") return ServeCompanySite(ex);
  if (path == kPageLanguageScript) {
    ex.headers.emplace_back("Cache-Control", "no-cache");
    ex.headers.emplace_back("Vary", "Cookie, Accept-Language");
    return ReplyEncoded(ex, http::status::ok, "text/javascript; charset=utf-8",
                        context_.languages().Script(context_.RequestLanguage(ex), config_.charset));
  }
  if (auto name = AttachmentName(path)) {
    ex.path = "/" + *name;
    return ServeFile(ex, files_, true);
  }
  ServeFile(ex, www_, false);
}

void Site::ServeFile(Exchange& ex, const StaticFiles& files, bool attachment) {
  auto file = files.Load(ex.path);
  if (!file) {
    return ex.Reply(http::status::not_found, "text/html; charset=utf-8",
                    "<!doctype html><title>Not found</title><h1>404 Not found</h1>\n");
  }
  if (attachment && !IsImage(file->content_type)) {
    ex.headers.emplace_back("Content-Disposition", "attachment");
    file->content_type = "application/octet-stream";
  }
  if (attachment) return ex.Reply(http::status::ok, file->content_type, std::move(file->body));
  if (IsChatDocument(ex.path) && !LimitFraming(context_, ex)) return;
  ReplyEncoded(ex, http::status::ok, file->content_type, std::move(file->body));
}

void Site::GiveVisitorLabel(Exchange& ex, const std::string& label) {
  ex.session->SetText(kLabel, label);
  ex.session->SetText(kVisitorAddress, ex.remote);
  ex.visitor_cookie = context_.visitor_cookie().Sign(label);
}

// The cookie names a visitor of the host's own pages.

void Site::RestoreVisitor(Exchange& ex) {
  const std::string cookie = CookieValue(ex.request[http::field::cookie], kVisitorCookie);
  if (cookie.empty()) return;
  const std::optional<std::string> label = context_.visitor_cookie().Check(cookie);
  if (!label || !context_.EnsureVisitorSession(ex)) return;
  GiveVisitorLabel(ex, *label);
  LONG company = config_.company_id;
  std::string error;
  if (!context_.app().visitors.VisitorReturned(*label, &company, ex.remote, &error))
    context_.failures().Failed("a returning visitor's row", error);
  ex.session->SetLong(kVisitorCompany, company);
}

void Site::RunPage(Exchange& ex) {
  const ComponentPage& page = *FindComponentPage(ex.path);
  if (!ex.Is(http::verb::get) && !ex.Is(http::verb::head)) {
    ex.headers.emplace_back("Allow", "GET, HEAD");
    return ex.Error(http::status::method_not_allowed, "component pages are GET requests");
  }
  const bool is_operator = page.caller == PageCaller::kOperator;
  if (is_operator ? !context_.RequireOperator(ex, page.needs_token) : !context_.RequireVisitor(ex))
    return;
  if (const std::string refused =
          RefusedPageInput(page, ex.query, config_.charset, config_.files_dir);
      !refused.empty())
    return ex.Error(http::status::bad_request, refused);
  // The host's own parameter: the component never sees it.
  const std::optional<int> wait =
      page.effect == PageEffect::kPoll ? TakeWaitParameter(&ex.query) : std::nullopt;
  // A refused poll was not held (a later header wins).
  if (wait) ex.headers.emplace_back(kWaitHeader, "0");
  ex.page_method = page.method;
  if (!AllowedPage(ex, page)) return;
  const LONG operator_id =
      is_operator ? static_cast<LONG>(SessionNumber(*ex.session, kOperatorId)) : 0;
  // Membership and rights first (AllowedPage), then a post into an ended
  // conversation is refused before the component runs.
  if (IsPost(page) && RefuseEnded(ex)) return;
  ex.session->SetText(kLanguageSessionKey, context_.RequestLanguage(ex));
  if (wait) {
    const std::optional<LONG> cid = QueryCid(ex.query);
    if (config_.long_poll && cid && *wait > 0) {
      ex.headers.emplace_back(kWaitHeader, std::to_string(*wait));
      // Refused holds say 0 again.
      const TimePoint deadline = config_.clock->Now() + std::chrono::seconds(*wait);
      return RunPoll(ex.shared_from_this(), page, operator_id, *cid, deadline);
    }
  }
  // A page fetch holds its worker as long as the pages take (up to the
  // fetch's time limit): never every worker at once.
  const bool fetches = page.argument == PageArgument::kDomains;
  if (fetches && fetches_.fetch_add(1) >= config_.fetch_limit) {
    fetches_.fetch_sub(1);
    context_.failures().Failed(page.method,
                               "as many page fetches as allowed at once are running; "
                               "more are refused");
    ex.headers.emplace_back("Retry-After", "5");
    return ex.Error(http::status::service_unavailable,
                    "another comparison is running; try again shortly");
  }
  PageOutput output =
      RunComponentPage(page, ex.query, ex.remote, ex.session, operator_id, config_.charset);
  if (fetches) fetches_.fetch_sub(1);
  if (page.effect == PageEffect::kPoll) {
    if (const std::optional<LONG> cid = QueryCid(ex.query)) SayIfEnded(ex, *cid);
  }
  if (page.effect == PageEffect::kStores && output.error.empty() && !IsPost(page))
    context_.CompanyChanged(static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany)));
  if (page.effect == PageEffect::kStores && output.error.empty()) {
    if (const std::optional<LONG> cid = QueryCid(ex.query)) {
      context_.Stored(*cid);
      // A post answers its echo only when it stored a message.
      if (IsPost(page) && output.hr == S_OK && !output.body.empty()) {
        const LONG company = is_operator
                                 ? static_cast<LONG>(SessionNumber(*ex.session, kOperatorCompany))
                                 : context_.VisitorCompany(*ex.session);
        context_.events().MessagePosted(*cid, operator_id, company);
      }
    }
  }
  AnswerPage(ex, page, std::move(output));
}

bool Site::AllowedPage(Exchange& ex, const ComponentPage& page) {
  if (page.effect == PageEffect::kStores && !context_.RequireSameSite(ex)) return false;
  if (page.argument == PageArgument::kDomains && DomainItems(ex.query) > kMaxDomainItems) {
    ex.Error(http::status::bad_request, "at most 10 addresses per comparison");
    return false;
  }
  if (page.access == PageAccess::kNoConversation) return true;
  if (!context_.RequireConversation(ex, QueryCid(ex.query), UseOf(page.access))) return false;
  if (page.access == PageAccess::kBrings && !context_.RequireColleague(ex, QueryId(ex.query, u"serid")))
    return false;
  if (page.caller == PageCaller::kVisitor && page.effect == PageEffect::kStores)
    return context_.RequireMessageAllowance(ex);
  return true;
}

void Site::RunPoll(const std::shared_ptr<Exchange>& ex, const ComponentPage& page, LONG operator_id,
                   LONG cid, TimePoint deadline) {
  LongPoll& long_poll = *config_.long_poll;
  // A held poll runs again when woken: its caller may have left meanwhile.
  if (!context_.RequireConversation(*ex, cid, ConversationUse::kRead)) return;
  const uint64_t since = long_poll.Sequence();
  PageOutput output =
      RunComponentPage(page, ex->query, ex->remote, ex->session, operator_id, config_.charset);
  const bool nothing = output.error.empty() && output.body.empty();
  // An ended conversation's windows learn it at once, never held.
  if (!nothing || SayIfEnded(*ex, cid) || config_.clock->Now() >= deadline)
    return AnswerPage(*ex, page, std::move(output));
  // Held: the answer if nothing comes is this run's.
  auto held = std::make_shared<PageOutput>(std::move(output));
  auto done = [this, ex, &page, operator_id, cid, deadline, held](LongPoll::Outcome outcome) {
    if (outcome == LongPoll::Outcome::kWoken &&
        workers_.Submit([this, ex, &page, operator_id, cid, deadline] {
          RunPoll(ex, page, operator_id, cid, deadline);
        }))
      return;
    AnswerPage(*ex, page, std::move(*held));
  };
  if (!long_poll.Hold(cid, since, deadline, done, ex->watch)) {
    ex->headers.emplace_back(kWaitHeader, "0");
    AnswerPage(*ex, page, std::move(*held));
  }
}

bool Site::SayIfEnded(Exchange& ex, LONG cid) {
  std::string error;
  const auto end = context_.app().lifecycle.EndOf(cid, &error);
  if (!error.empty()) context_.failures().Failed("reading whether a chat ended", error);
  if (!end) return false;
  ex.headers.emplace_back(kEndedHeader, end->by + ";" + std::to_string(end->at));
  return true;
}

bool Site::RefuseEnded(Exchange& ex) {
  const std::optional<LONG> cid = QueryCid(ex.query);
  std::string error;
  if (!cid || !context_.app().lifecycle.IsConversationEnded(*cid, &error)) {
    // Unknown: the post goes on, and fails the component's own way if the
    // database is gone.
    if (!error.empty()) context_.failures().Failed("reading whether a chat ended", error);
    return false;
  }
  SayIfEnded(ex, *cid);
  ex.Error(http::status::forbidden, "this conversation has ended");
  return true;
}

void Site::AnswerPage(Exchange& ex, const ComponentPage& page, PageOutput output) {
  if (!output.error.empty()) {
    context_.failures().Failed(page.method, output.error);
    return ex.Error(http::status::internal_server_error, output.error);
  }
  // A poll that returned messages wrote read marks: the other side's seen
  // receipt changed.
  if (page.effect == PageEffect::kPoll && !output.body.empty()) {
    if (const std::optional<LONG> cid = QueryCid(ex.query)) context_.MessagesRead(*cid);
  }
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(output.hr));
  ex.headers.emplace_back("X-Zelto-HResult", code);
  // A page that refreshes a list sends the tag it has: the same list is
  // answered "not modified", without the body.
  std::string tag = EntityTag(output.body);
  const bool same = MatchesEntityTag(ex.request[http::field::if_none_match], tag);
  ex.headers.emplace_back("ETag", std::move(tag));
  if (same) return ex.Reply(http::status::not_modified, output.content_type, "");
  ReplyEncoded(ex, http::status::ok, output.content_type, std::move(output.body));
}

void Site::ServeCompanySite(Exchange& ex) {
  if (IsHtmlPage(ex.path) && ex.Is(http::verb::get) && www_.Load(ex.path)) {
    // Refused when the store is full but for the logins' places, or this
    // client address holds its share of visitor sessions.
    auto session = context_.EnsureVisitorSession(ex);
    if (!session) return context_.SessionsFull(ex);
    std::string label = SessionText(*session, kLabel);
    const bool first_view = label.empty();
    if (first_view) {
      label = context_.app().visitors.NewVisitorLabel();
      GiveVisitorLabel(ex, label);
    }
    const std::string page = (ex.https ? "https://" : "http://") + ex.host +
                             std::string(ex.request.target());
    std::string error;
    const LONG company = context_.VisitorCompany(*session);
    if (!context_.app().visitors.RecordVisit(label, company, first_view, ex.remote,
                                             std::string(ex.request[http::field::referer]), page,
                                             &error))
      context_.failures().Failed("recording a visit", error);
    else if (first_view)
      context_.CompanyChanged(company);  // a new visitor on the consoles' list
  }
  ServeFile(ex, www_, false);
}

void Site::RunRoute(Exchange& ex, const RouteTable::Handler& route) {
  // Upload bodies are the file itself; its name comes in the query.
  const bool form_body = ex.Is(http::verb::post) && ex.path != "/api/upload";
  ex.form = ParseForm(form_body ? std::string_view(ex.request.body()) : std::string_view(ex.query));
  route(ex);
}

}  // namespace zelto::serve
