// CannedResponses: prepared replies an operator inserts in the chat window
// by a short keyword ("/price"). A company's replies (operator 0) are for
// all its operators and kept by its supervisors; an operator's own are for
// that operator only. A keyword is one per owner: saving it again replaces
// the text. The texts may carry the placeholders {visitor} and {operator},
// which the chat window fills in. Every call may block on the database:
// run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr size_t kCannedKeywordLimit = 32;  // bytes
inline constexpr size_t kCannedTextLimit = 2000;   // bytes of UTF-8

struct CannedResponse {
  LONG id = 0;
  LONG operator_id = 0;  // 0: the company's
  std::string keyword, text;
};

class CannedResponses {
 public:
  CannedResponses(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // Why `keyword` cannot be one (empty when it can): letters, digits, '_'
  // and '-' of any script, no spaces, at most kCannedKeywordLimit bytes.
  static std::string KeywordProblem(const std::string& keyword);

  // The company's replies and the operator's own, by keyword; an
  // operator's own reply hides the company's of the same keyword.
  std::vector<CannedResponse> For(LONG company_id, LONG operator_id, std::string* error) const;
  // Saves (or replaces) `owner`'s reply under `keyword`; its id.
  std::optional<LONG> Save(LONG company_id, LONG owner, const std::string& keyword,
                           const std::string& text, std::string* error) const;
  // The reply `id` of the company; nullopt (error empty) when none.
  std::optional<CannedResponse> Find(LONG company_id, LONG id, std::string* error) const;
  bool Remove(LONG company_id, LONG id, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
