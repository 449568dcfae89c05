// ChatRatings: the visitor's rating of a conversation at its end, a score
// of 1 to 5 and an optional comment, stored once per conversation in
// chatRating with the conversation's company. Only a visitor of the
// conversation may rate it, only once it ended and for a while after
// (kRatingWindowSeconds). Every call may block on the database: run it on
// a worker.
#pragma once

#include <optional>
#include <string>

#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr int kLowestScore = 1;
inline constexpr int kHighestScore = 5;
inline constexpr size_t kRatingCommentLimit = 1000;  // bytes of UTF-8
// How long after its end a chat may still be rated.
inline constexpr int64_t kRatingWindowSeconds = 24 * 60 * 60;

struct ChatRating {
  LONG cid = 0;
  LONG company_id = 0;
  int score = 0;
  std::string comment;
  int64_t rated_at = 0;
};

enum class RatingOutcome {
  kStored,
  kNotMember,      // the visitor was not in the conversation
  kNotEnded,       // still running or queued
  kTooLate,        // ended longer ago than the window
  kAlreadyRated,   // the first rating stays
  kFailed,         // the database failed (error says why)
};

class ChatRatings {
 public:
  ChatRatings(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // The visitor `label` rates `cid`. REQUIRES: kLowestScore <= score <=
  // kHighestScore, comment at most kRatingCommentLimit bytes. The checks
  // and the insert run in one write transaction; `stored` (may be null)
  // gets the stored rating. This is the one place a rating is stored.
  RatingOutcome RecordRating(const std::string& label, LONG cid, int score,
                             const std::string& comment, ChatRating* stored,
                             std::string* error) const;
  // The rating of `cid`, if any.
  std::optional<ChatRating> RatingOf(LONG cid, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
