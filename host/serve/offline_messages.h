// OfflineMessages: what visitors leave when no operator can answer (nobody
// online, or a long wait in the queue): name, contact and text, stored
// with the visit as it was then (address, entry page, search words, visit
// time), listed for every operator of the company with the unread count,
// and marked handled by one of them. Every call may block on the database:
// run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

// Longest accepted fields, in bytes of UTF-8.
inline constexpr size_t kOfflineNameLimit = 100;
inline constexpr size_t kOfflineContactLimit = 255;
inline constexpr size_t kOfflineTextLimit = 4000;

struct OfflineMessage {
  LONG id = 0;
  std::string label, name, contact, text;
  int64_t created_at = 0;
  bool handled = false;
  LONG handled_by = 0;
  std::string address, source_page, search_words, visit_time;
};

class OfflineMessages {
 public:
  OfflineMessages(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // Stores the visitor's message for company `company_id`; its id.
  std::optional<LONG> Leave(const std::string& label, LONG company_id, const std::string& name,
                            const std::string& contact, const std::string& text,
                            std::string* error) const;
  // The company's messages, newest first.
  std::vector<OfflineMessage> ListOf(LONG company_id, std::string* error) const;
  LONG UnreadCount(LONG company_id, std::string* error) const;
  // False with `error` empty when the company has no such message.
  bool MarkHandled(LONG company_id, LONG id, LONG operator_id, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
