// WebApp: the web application the component relies on, one part per
// concept: visitors arriving and leaving (visitor_tracking.h), chats
// opening, invitations, conversations ending (chats.h), operators (login,
// lists: operators.h), administration (administration.h). The route modules (host/serve/*_routes.cc) call
// them; a new concept is a new part here and a new route module.
#pragma once

#include "host/serve/administration.h"
#include "host/serve/chats.h"
#include "host/serve/operators.h"
#include "host/serve/site_database.h"
#include "host/serve/visitor_tracking.h"

namespace zelto::serve {

struct WebApp {
  WebApp(const SiteDatabase& db, LONG site_company_id)
      : visitors(db, site_company_id), chats(db, site_company_id), operators(db), admin(db) {}

  VisitorTracking visitors;
  Chats chats;
  Operators operators;
  Administration admin;
};

}  // namespace zelto::serve
