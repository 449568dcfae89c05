// ChatStatistics: what the statistics page shows a supervisor about the
// chats of their company that arrived in a period: chats per day and per
// hour of the day (in the supervisor's time zone), missed chats (ended
// without an operator's message), chats that waited in the queue and the
// wait, the first response (from the visitor's first message to the
// operators' first message after it began) and the duration (assigned to
// ended), each as median and 90th percentile, the ratings, and the same
// per operator. Two reads: the period's chats by the index on
// (companyId, queuedAt) and their messages' first times by msg's index on
// conid. May block on the database: run it on a worker.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

// Median and 90th percentile (nearest rank) of some durations in seconds.
struct Spread {
  size_t count = 0;
  int64_t median = 0, p90 = 0;
};
Spread SpreadOf(std::vector<int64_t> seconds);

struct RatingCounts {
  std::array<int64_t, 6> by_score{};  // [1] .. [5]
  int64_t rated() const;
  double average() const;  // 0 when none
};

struct OperatorFigures {
  LONG id = 0;
  std::string name;
  int64_t chats = 0, missed = 0;
  Spread first_response, duration;
  RatingCounts ratings;
};

struct ChatFigures {
  int64_t chats = 0, missed = 0, queued = 0, waiting_now = 0;
  std::map<std::string, int64_t> per_day;  // "2026-12-08" -> chats
  std::array<int64_t, 24> per_hour{};
  Spread first_response, duration, queue_wait;
  RatingCounts ratings;
  std::vector<OperatorFigures> operators;  // by id
};

struct StatisticsPeriod {
  int64_t from = 0, to = 0;    // arrived at from <= t < to (seconds since 1970)
  int64_t utc_offset = 0;      // seconds east of UTC, for days and hours
};

// `field` ("2026-12-08 17:35:08", fractions ignored) as seconds since 1970
// counted as if it were UTC; nullopt when it is not such a time.
std::optional<int64_t> StoredTimeSeconds(const std::string& field);

class ChatStatistics {
 public:
  explicit ChatStatistics(const SiteDatabase& db) : db_(db) {}

  std::optional<ChatFigures> Compute(LONG company_id, const StatisticsPeriod& period,
                                     std::string* error) const;

 private:
  const SiteDatabase& db_;
};

}  // namespace zelto::serve
