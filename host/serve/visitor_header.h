// The visitor known by the X-Zelto-Visitor header (their signed label, what
// the ZVISITOR cookie holds) where cookies do not reach: the chat's snippet
// on another site and the chat frame it opens, whose cookies the browser
// blocks as third-party. The header is accepted exactly as the cookie is: a
// genuine value names the visitor, anything else (a changed label or MAC,
// another site's secret) is ignored and the request is a stranger's.
// Such a visitor's session lives under an id made from the label with the
// site secret, so every request of theirs finds the same session without
// any cookie; no ZSESSIONID is set for it.
#pragma once

#include <string>

#include "host/serve/session_store.h"

namespace zelto::serve {

class SiteContext;
struct SiteExchange;

// The company the chat pages opened by a snippet name with the label (the
// snippet's data-company), taken when the visitor's session is made again.
inline constexpr char kVisitorCompanyHeader[] = "X-Zelto-Company";

// When the request carries a genuine header for a visitor other than its
// cookie session's: the request's session becomes that visitor's (made
// when gone, with their onlineCst row again when it is gone too). Their
// company is that of the row, else of the listed site's call, else the one
// X-Zelto-Company names when that company lists sites, else the site's.
// Touches the database: on a worker.
void UseVisitorHeader(SiteContext& site, SiteExchange& ex);

// The session of `label` under its header id, made when missing (then
// `*made`, a visitor of `company_id`); null when the store or the client
// address has no room.
SessionStore::Values HeaderVisitorSession(SiteContext& site, SiteExchange& ex,
                                          const std::string& label, LONG company_id, bool* made);

}  // namespace zelto::serve
