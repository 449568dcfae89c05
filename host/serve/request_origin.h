// Where a request came from, as the browser tells it. A browser marks a
// request a page of another site made it send (a form, a link, a script)
// with `Sec-Fetch-Site: cross-site`, and a POST or a script's request with
// an `Origin` naming that site; a state-changing route refuses both. An
// old browser that sends neither is taken as same-site: its SameSite=Lax
// cookies already keep cross-site POSTs out.
#pragma once

#include "host/serve/http_server.h"

namespace zelto::serve {

// The header a page of the site itself, or the chat's snippet on a site the
// company lists, sets with the visitor's signed ZVISITOR value: the
// visitor's identity where cookies do not reach (host/serve/visitor_header.h).
inline constexpr char kVisitorHeader[] = "X-Zelto-Visitor";

// Whether the browser says another site made this request: Sec-Fetch-Site
// "cross-site", or an Origin ("null" included) whose host and port are not
// the request's Host.
bool FromAnotherSite(const HttpRequest& request);
// The same against `host`, the host the client asked for (behind a trusted
// proxy, the one it forwarded: host/serve/forwarded.h).
bool FromAnotherSite(const HttpRequest& request, std::string_view host);

}  // namespace zelto::serve
