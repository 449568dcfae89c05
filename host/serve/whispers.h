// Whispers: what an operator of a conversation (a member, or a supervisor
// watching it) says to the other operators only. Kept in table whisper,
// apart from msg, so that no visitor poll can ever return one; the
// operators' windows read them through the host. Who may whisper is the
// caller's check. Every call may block on the database: run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

// Longest whisper, in bytes of UTF-8.
inline constexpr size_t kWhisperLimit = 4000;

struct Whisper {
  LONG id = 0;
  LONG operator_id = 0;
  std::string operator_name;
  std::string text;
  int64_t created_at = 0;
};

class Whispers {
 public:
  Whispers(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // Stores `text` from `operator_id` in conversation `cid`; its id.
  std::optional<LONG> Say(LONG cid, LONG operator_id, const std::string& text,
                          std::string* error) const;
  // The conversation's whispers, oldest first, with their senders' names.
  std::vector<Whisper> Of(LONG cid, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
