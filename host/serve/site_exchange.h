// One request on its way through the Site: the request, the session found
// or made for it, and the ways to answer (once).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/serve/http_server.h"
#include "host/serve/http_text.h"
#include "host/serve/json_answer.h"
#include "host/serve/request_origin.h"
#include "host/serve/session_store.h"
#include "host/serve/visitor_cookie.h"
#include "platform/win/codepage.h"

namespace zelto::serve {

// Session keys of the host (the component reads only its own).
inline constexpr char kCookie[] = "ZSESSIONID";
inline constexpr char kOperatorId[] = "operator_id";
inline constexpr char kOperatorCompany[] = "operator_company";
inline constexpr char kToken[] = "csrf";
inline constexpr char kLabel[] = "timelabel";
inline constexpr char kVisitorAddress[] = "visitor_ip";
// The company whose visitor the session's is (the snippet's, else the site's).
inline constexpr char kVisitorCompany[] = "visitor_company";

struct SiteExchange : std::enable_shared_from_this<SiteExchange> {
  HttpRequest request;
  std::string remote;  // the client's address (host/serve/forwarded.h)
  bool https = false;  // the client reached the site over TLS (at its proxy)
  std::string host;    // the host the client asked for
  Respond respond;
  std::shared_ptr<ClientWatch> watch;  // may be null
  std::string path, query;
  std::string session_id;
  SessionStore::Values session;
  bool new_cookie = false;
  bool clear_cookie = false;
  std::string visitor_cookie;  // a ZVISITOR value to set, when not empty
  std::vector<std::pair<std::string, std::string>> headers;
  std::map<std::string, std::string> form;
  // The component page's method when the request is one: a database that
  // fails it answers as the page does when its database fails.
  const char* page_method = nullptr;
  // A listed site's script called (host/serve/embedding.h): its company.
  LONG cross_origin_company = 0;

  void Reply(http::status status, std::string content_type, std::string body) {
    HttpResponse response{status, request.version()};
    response.set(http::field::content_type, content_type);
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    // Tokens travel in operator pages' addresses: never to another site.
    response.set("Referrer-Policy", "same-origin");
    if (!Embeddable()) {
      response.set("Content-Security-Policy", "frame-ancestors 'none'");
      response.set("X-Frame-Options", "DENY");
    }
    const std::string attributes =
        https ? "; HttpOnly; SameSite=Lax; Secure" : "; HttpOnly; SameSite=Lax";
    if (new_cookie) {
      response.set(http::field::set_cookie,
                   std::string(kCookie) + "=" + session_id + "; Path=/" + attributes);
    } else if (clear_cookie) {
      response.set(http::field::set_cookie,
                   std::string(kCookie) + "=; Path=/" + attributes + "; Max-Age=0");
    }
    if (!visitor_cookie.empty()) {
      response.insert(http::field::set_cookie,
                      std::string(kVisitorCookie) + "=" + visitor_cookie + "; Path=/; Max-Age=" +
                          std::to_string(kVisitorCookieSeconds) + attributes);
    }
    for (const auto& [name, value] : headers) response.set(name, value);
    if (request.method() != http::verb::head) response.body() = std::move(body);
    response.keep_alive(request.keep_alive());
    respond(std::move(response));
  }
  void Json(http::status status, std::string body) {
    Reply(status, "application/json", std::move(body));
  }
  void Error(http::status status, std::string_view message) { Json(status, JsonError(message)); }
  bool Is(http::verb verb) { return request.method() == verb; }
  // The company's site, the visitor's pages (and the message frames they
  // hold) and shared files may be shown in another site's frame; operator
  // pages and the site's API never.
  bool Embeddable() const {
    for (std::string_view prefix :
         {"/site/", "/visitor/", "/frames/", "/files/", "/images/", "/css/", "/js/", "/i18n/"})
      if (path.starts_with(prefix)) return true;
    return path == "/site";
  }
  std::string Form(const std::string& key) const {
    auto it = form.find(key);
    return it == form.end() ? std::string() : it->second;
  }
};

}  // namespace zelto::serve
