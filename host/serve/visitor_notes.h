// VisitorNotes: what a company's operators write down about a visitor (by
// label): shown in the console and the chat window of that visitor, to the
// company's operators only. Notes are removed by their author or a
// supervisor (the caller's check). Every call may block on the database:
// run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr size_t kVisitorNoteLimit = 2000;  // bytes of UTF-8

struct VisitorNote {
  LONG id = 0;
  LONG operator_id = 0;
  std::string operator_name, text;
  int64_t created_at = 0;
};

class VisitorNotes {
 public:
  VisitorNotes(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // The company's notes on the visitor, oldest first.
  std::vector<VisitorNote> Of(LONG company_id, const std::string& label, std::string* error) const;
  std::optional<LONG> Add(LONG company_id, const std::string& label, LONG operator_id,
                          const std::string& text, std::string* error) const;
  // The note's author; nullopt (error empty) when the company has no such note.
  std::optional<LONG> AuthorOf(LONG company_id, LONG id, std::string* error) const;
  bool Remove(LONG company_id, LONG id, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
