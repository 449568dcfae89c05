#include "host/serve/chat_ratings.h"

#include <vector>

#include "host/serve/conversation_rows.h"

namespace zelto::serve {
namespace {

constexpr char kColumns[] = "cid, companyId, score, comment, ratedAt";

bool ReadRating(SqlSession& chat, LONG cid, std::optional<ChatRating>* rating) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query(std::string("select ") + kColumns + " from chatRating where cid=" + SqlId(cid),
                  {"cid", "companyId", "score", "comment", "ratedAt"}, &rows))
    return false;
  if (rows.empty()) {
    rating->reset();
    return true;
  }
  const SqlSession::Row& row = rows[0];
  *rating = ChatRating{IdField(row[0]), IdField(row[1]), static_cast<int>(IdField(row[2])),
                       row[3], std::strtoll(row[4].c_str(), nullptr, 10)};
  return true;
}

}  // namespace

RatingOutcome ChatRatings::RecordRating(const std::string& label, LONG cid, int score,
                                        const std::string& comment, ChatRating* stored,
                                        std::string* error) const {
  RatingOutcome outcome = RatingOutcome::kFailed;
  ChatRating rating{cid, 0, score, comment, now_()};
  const bool written = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    bool member = false;
    std::optional<ChatState> state;
    std::optional<ChatRating> existing;
    if (!IsVisitorMember(chat, label, cid, &member) || !ReadChatState(chat, cid, &state) ||
        !ReadRating(chat, cid, &existing))
      return false;
    if (!member) outcome = RatingOutcome::kNotMember;
    else if (!state || state->state != kEnded) outcome = RatingOutcome::kNotEnded;
    else if (existing) outcome = RatingOutcome::kAlreadyRated;
    else if (rating.rated_at - state->ended_at > kRatingWindowSeconds)
      outcome = RatingOutcome::kTooLate;
    else outcome = RatingOutcome::kStored;
    if (outcome != RatingOutcome::kStored) return false;
    rating.company_id = state->company_id;
    return chat.Execute(std::string("insert into chatRating (") + kColumns + ") values (" +
                        SqlId(cid) + ", " + SqlId(rating.company_id) + ", " + SqlId(score) +
                        ", " + SqlStringLiteral(comment) + ", " +
                        std::to_string(rating.rated_at) + ")");
  });
  if (!written) return error->empty() ? outcome : RatingOutcome::kFailed;
  if (stored) *stored = rating;
  return RatingOutcome::kStored;
}

std::optional<ChatRating> ChatRatings::RatingOf(LONG cid, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  std::optional<ChatRating> rating;
  if (!chat.is_open() || !ReadRating(chat, cid, &rating)) *error = chat.unreported_error();
  return rating;
}

}  // namespace zelto::serve
