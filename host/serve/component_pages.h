// The component's pages: which path runs which method of ZeltoCom.CZeltoCom,
// for whom, and where its argument comes from. The operator's id is always
// the logged-in session's, never a value of the request. Each page is one
// request of the host's CallComponent (create by ProgID, OnStartPage, the
// method by name through IDispatch, OnEndPage, release), run to its end on
// the calling thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/asp/query_string.h"
#include "platform/asp/session_values.h"

namespace zelto::serve {

enum class PageCaller { kVisitor, kOperator };
enum class PageArgument {
  kNone,
  kOperatorId,  // the session's operator id
  kDomains,     // the query value "domains" (CheckDomain)
};

// What a page does to a conversation ("cid"): a poll may be held until
// something is stored there (long polling); a page that stores something
// wakes the polls held on it.
enum class PageEffect { kNone, kPoll, kStores };

// Which conversation the page touches (its "cid"), and how: the caller must
// be allowed that use of it (host/serve/access_rules.h) before the page runs.
enum class PageAccess {
  kNoConversation,
  kReads,   // polls the conversation
  kActs,    // stores into it
  kBrings,  // stores into it, naming an operator ("serid") of the caller's company
};

struct ComponentPage {
  const char* path;  // "/visitor/GetClientMsg.asp"
  const char* method;
  PageCaller caller;
  PageArgument argument;
  bool needs_token;  // the query's "token" must be the session's
  bool json_result;  // the body is {"result":N} from the method's result
  PageEffect effect = PageEffect::kNone;
  PageAccess access = PageAccess::kNoConversation;
};

// The page at `path` (compared without regard to ASCII case, as IIS does),
// or null.
const ComponentPage* FindComponentPage(std::string_view path);

struct PageOutput {
  HRESULT hr = E_FAIL;
  std::string body;  // in the page's charset
  std::string content_type;
  std::string error;  // set when the method could not be called
};

// Runs `page` with the raw query string, the client's address and the
// session. `operator_id` is used for kOperatorId pages.
PageOutput RunComponentPage(const ComponentPage& page, std::string_view query,
                            const std::string& remote_address,
                            const std::shared_ptr<SessionValues>& session, LONG operator_id,
                            PageCharset charset);

}  // namespace zelto::serve
