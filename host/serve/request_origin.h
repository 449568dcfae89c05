// Where a request came from, as the browser tells it. A browser marks a
// request a page of another site made it send (a form, a link, a script)
// with `Sec-Fetch-Site: cross-site`, and a POST or a script's request with
// an `Origin` naming that site; a state-changing route refuses both. An
// old browser that sends neither is taken as same-site: its SameSite=Lax
// cookies already keep cross-site POSTs out.
#pragma once

#include "host/serve/http_server.h"

namespace zelto::serve {

// The header a page of the site itself may set with the visitor's signed
// ZVISITOR value, to be accepted from any origin.
inline constexpr char kVisitorHeader[] = "X-Zelto-Visitor";

// Whether the browser says another site made this request: Sec-Fetch-Site
// "cross-site", or an Origin ("null" included) whose host and port are not
// the request's Host.
bool FromAnotherSite(const HttpRequest& request);

// Whether the request reached the site over https: directly (never, today)
// or through a proxy that says so (X-Forwarded-Proto or Forwarded proto).
// Trusting any sender is safe here: the answer only adds `Secure` to the
// sender's own cookies.
bool ArrivedOverHttps(const HttpRequest& request);

}  // namespace zelto::serve
