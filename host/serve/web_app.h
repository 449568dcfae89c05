// WebApp: the web application the component relies on, one part per
// concept: visitors arriving and leaving (visitor_tracking.h), chats
// opening, invitations, conversations ending (chats.h), operators (login,
// lists: operators.h), administration (administration.h), routing new chats
// and the queue (routing.h), the end of a chat (chat_lifecycle.h), operators'
// availability (availability.h), messages left while nobody answers
// (offline_messages.h), the operators' toolkit (canned_responses.h,
// visitor_notes.h, whispers.h, seen_receipts.h). The route modules (host/serve/*_routes.cc) call them;
// a new concept is a new part here and a new route module.
#pragma once

#include "host/serve/administration.h"
#include "host/serve/availability.h"
#include "host/serve/canned_responses.h"
#include "host/serve/chat_lifecycle.h"
#include "host/serve/chats.h"
#include "host/serve/offline_messages.h"
#include "host/serve/operators.h"
#include "host/serve/routing.h"
#include "host/serve/seen_receipts.h"
#include "host/serve/site_database.h"
#include "host/serve/visitor_notes.h"
#include "host/serve/visitor_tracking.h"
#include "host/serve/whispers.h"

namespace zelto::serve {

struct WebApp {
  explicit WebApp(const SiteDatabase& db, SecondsClock now = WallSecondsNow)
      : visitors(db),
        chats(db),
        operators(db),
        admin(db),
        routing(db, now),
        lifecycle(db, now),
        availability(db, now),
        offline_messages(db, now),
        canned(db, now),
        notes(db, now),
        whispers(db, now),
        seen(db) {}

  VisitorTracking visitors;
  Chats chats;
  Operators operators;
  Administration admin;
  Routing routing;
  ChatLifecycle lifecycle;
  Availability availability;
  OfflineMessages offline_messages;
  CannedResponses canned;
  VisitorNotes notes;
  Whispers whispers;
  SeenReceipts seen;
};

}  // namespace zelto::serve
