// ChatHistory: a company's past conversations as the history page lists
// them (newest end first, a page at a time) and what one conversation's
// transcript is made of. Ending a chat removes its conversation row, but
// its chatState row (company, visitor, times, who ended it), its members
// and its messages stay, and that is what the history reads.
// Search finds conversations having, for every word of the query, a
// message containing it (substring, case-insensitive for Latin letters):
// on SQLite through the trigram index msgText (words of three or more
// characters) and a scan of the company's messages for shorter ones (a
// Chinese word of two characters); on PostgreSQL through the pg_trgm index
// on msg. Every call may block on the database: run it on a worker.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr size_t kHistoryPageSize = 50;
inline constexpr size_t kSearchTextLimit = 200;  // bytes of the query
inline constexpr size_t kSearchWordLimit = 8;

struct HistoryFilter {
  int64_t from = 0, to = 0;  // ended at from <= t < to (seconds; 0: unbounded)
  LONG operator_id = 0;      // 0: any; else the operator was a member
  std::string visitor;       // start of the visitor's label; empty: any
  std::string text;          // words every listed conversation contains
  // Paging: conversations listed after the one that ended at `before_end`
  // with id `before_cid` (0: from the newest).
  int64_t before_end = 0;
  LONG before_cid = 0;
};

struct HistoryEntry {
  LONG cid = 0;
  std::string label, visitor_name;
  int64_t started_at = 0, ended_at = 0;
  std::string ended_by;
  std::vector<std::string> operators;  // names, in the order they joined
  std::string first_message;
  int score = 0;  // 0: not rated
  std::string comment;
};

// One message of a transcript.
struct TranscriptLine {
  enum class Kind { kSystem, kOperator, kVisitor } kind = Kind::kSystem;
  std::string sender;  // the operator's name or the visitor's nickname (may be empty)
  std::string label;   // the visitor's label on a visitor's line
  std::string time;    // as stored ("2026-12-08 17:35:08")
  std::string text, attachment;
};

class ChatHistory {
 public:
  explicit ChatHistory(const SiteDatabase& db) : db_(db) {}

  // At most kHistoryPageSize ended conversations of `company_id` matching
  // `filter`, newest end first. Empty with `error` on a failed read.
  std::vector<HistoryEntry> List(LONG company_id, const HistoryFilter& filter,
                                 std::string* error) const;
  // Whether `cid` belongs to `company_id`: its record says so, or one of its
  // operators is of that company.
  bool IsOfCompany(LONG cid, LONG company_id, std::string* error) const;
  // Every message of `cid` in order.
  std::vector<TranscriptLine> Transcript(LONG cid, std::string* error) const;

 private:
  bool AddDetails(std::vector<HistoryEntry>* entries, std::string* error) const;

  const SiteDatabase& db_;
};

// The words of a search text: split at white space, at most
// kSearchWordLimit, duplicates dropped.
std::vector<std::string> SearchWords(const std::string& text);

}  // namespace zelto::serve
