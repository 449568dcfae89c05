// What the read-only API reads: a company's conversations (by their state
// rows, newest first, filtered and paged) and one conversation's
// transcript. Every read is limited to the company given: a conversation
// of another company is not found. May block on the database.
#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr LONG kApiPageDefault = 50;
inline constexpr LONG kApiPageLimit = 200;

struct ConversationFilter {
  int64_t from = 0, to = 0;  // started within [from, to] (seconds since 1970; 0: open)
  LONG operator_id = 0;      // 0: any
  std::string label;         // the visitor; empty: any
  std::string state;         // queued, running, ended; empty: any
  LONG limit = kApiPageDefault, offset = 0;
};

// {"conversations": [...], "total": N, "limit": L, "offset": O}; nullopt
// with `error` when the read failed.
std::optional<boost::json::object> ConversationPage(const SiteDatabase& db, LONG company_id,
                                                    const ConversationFilter& filter,
                                                    std::string* error);
// {"cid": N, "companyId": C, "messages": [...]}; nullopt with `error` empty
// when the company has no such conversation.
std::optional<boost::json::object> Transcript(const SiteDatabase& db, LONG company_id, LONG cid,
                                              std::string* error);

}  // namespace zelto::serve
