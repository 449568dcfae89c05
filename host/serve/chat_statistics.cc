#include "host/serve/chat_statistics.h"

#include <algorithm>
#include <cstdio>

#include "host/serve/chat_state.h"
#include "host/serve/conversation_view.h"

namespace zelto::serve {
namespace {

constexpr int64_t kDay = 24 * 60 * 60;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string CivilDate(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp + (mp < 10 ? 3 : -9);
  const int64_t y = yoe + era * 400 + (m <= 2);
  char text[16];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(y),
                static_cast<long long>(m), static_cast<long long>(d));
  return text;
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

struct ChatRow {
  LONG cid = 0, operator_id = 0;
  std::string state;
  int64_t queued_at = 0, assigned_at = 0, ended_at = 0;
  int score = 0;
  std::optional<int64_t> first_visitor, first_operator;
};

int64_t Number(const std::string& field) { return std::strtoll(field.c_str(), nullptr, 10); }

// Whether the chat's start was recorded (a chat opened from the visitor
// list gets its record only at its end, with every time that end).
bool HasRecordedStart(const ChatRow& c) {
  return c.assigned_at > 0 && !(c.queued_at == c.ended_at && c.assigned_at == c.ended_at);
}

struct Durations {
  std::vector<int64_t> first_response, duration;
};

void Count(const ChatRow& c, int64_t* chats, int64_t* missed, RatingCounts* ratings,
           Durations* d) {
  ++*chats;
  const bool answered = c.first_operator.has_value();
  if (c.state == kEnded && !answered) ++*missed;
  if (c.score >= 1 && c.score <= 5) ++ratings->by_score[c.score];
  if (c.first_visitor && c.first_operator && *c.first_operator >= *c.first_visitor)
    d->first_response.push_back(*c.first_operator - *c.first_visitor);
  if (c.state == kEnded && HasRecordedStart(c) && c.ended_at >= c.assigned_at)
    d->duration.push_back(c.ended_at - c.assigned_at);
}

}  // namespace

Spread SpreadOf(std::vector<int64_t> seconds) {
  Spread spread;
  spread.count = seconds.size();
  if (seconds.empty()) return spread;
  std::sort(seconds.begin(), seconds.end());
  auto rank = [&](size_t percent) {
    const size_t at = (percent * seconds.size() + 99) / 100;  // nearest rank, 1-based
    return seconds[std::max<size_t>(at, 1) - 1];
  };
  spread.median = rank(50);
  spread.p90 = rank(90);
  return spread;
}

int64_t RatingCounts::rated() const {
  int64_t n = 0;
  for (int s = 1; s <= 5; ++s) n += by_score[s];
  return n;
}

double RatingCounts::average() const {
  int64_t sum = 0;
  for (int s = 1; s <= 5; ++s) sum += s * by_score[s];
  return rated() ? static_cast<double>(sum) / static_cast<double>(rated()) : 0.0;
}

std::optional<int64_t> StoredTimeSeconds(const std::string& field) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (std::sscanf(field.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 &&
      std::sscanf(field.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
    return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return std::nullopt;
  return DaysFromCivil(y, mo, d) * kDay + h * 3600 + mi * 60 + s;
}

std::optional<ChatFigures> ChatStatistics::Compute(LONG company_id, const StatisticsPeriod& p,
                                                   std::string* error) const {
  const std::string period = "companyId=" + SqlId(company_id) +
                             " and queuedAt>=" + std::to_string(p.from) +
                             " and queuedAt<" + std::to_string(p.to);
  std::vector<SiteDatabase::Row> chats, firsts, names;
  if (!db_.Query(kChatCatalog,
                 "select s.cid as cid, s.operatorId as operatorId, s.state as state, s.queuedAt "
                 "as queuedAt, s.assignedAt as assignedAt, s.endedAt as endedAt, r.score as score "
                 "from chatState s left join chatRating r on r.cid=s.cid where s." +
                     period + " order by s.cid",
                 {"cid", "operatorId", "state", "queuedAt", "assignedAt", "endedAt", "score"},
                 &chats, error) ||
      !db_.Query(kChatCatalog,
                 "select conid, min(case when cstLabel<>'' then msgTime end) as firstVisitor, "
                 "min(case when cstLabel='' and issystem=0 then msgTime end) as firstOperator "
                 "from msg where conid in (select cid from chatState where " +
                     period + ") group by conid",
                 {"conid", "firstVisitor", "firstOperator"}, &firsts, error) ||
      !db_.Query(kChatCatalog,
                 "select ID, name from userinfo where CompanyID=" + SqlId(company_id) +
                     " order by ID",
                 {"ID", "name"}, &names, error))
    return std::nullopt;

  std::map<LONG, ChatRow> rows;
  for (const auto& r : chats) {
    ChatRow c{IdField(r[0]), IdField(r[1]), r[2], Number(r[3]), Number(r[4]), Number(r[5]),
              static_cast<int>(IdField(r[6]))};
    rows[c.cid] = c;
  }
  for (const auto& r : firsts) {
    auto it = rows.find(IdField(r[0]));
    if (it == rows.end()) continue;
    // Each engine gives a time in its own text; read as the pages show it.
    it->second.first_visitor = StoredTimeSeconds(MessageTime(r[1]));
    it->second.first_operator = StoredTimeSeconds(MessageTime(r[2]));
  }

  ChatFigures figures;
  Durations all;
  std::vector<int64_t> waits;
  std::map<LONG, OperatorFigures> by_operator;
  std::map<LONG, Durations> operator_durations;
  for (const auto& r : names) by_operator[IdField(r[0])] = {IdField(r[0]), r[1]};
  for (const auto& [cid, c] : rows) {
    Count(c, &figures.chats, &figures.missed, &figures.ratings, &all);
    const int64_t local = c.queued_at + p.utc_offset;
    ++figures.per_day[CivilDate(FloorDiv(local, kDay))];
    ++figures.per_hour[(local - FloorDiv(local, kDay) * kDay) / 3600];
    if (c.state == kQueued) ++figures.waiting_now;
    const bool waited = c.state == kQueued || (c.assigned_at == 0) ||
                        (c.assigned_at > c.queued_at && HasRecordedStart(c));
    if (waited) ++figures.queued;
    if (waited && c.assigned_at > c.queued_at) waits.push_back(c.assigned_at - c.queued_at);
    if (c.operator_id == 0) continue;
    OperatorFigures& op = by_operator[c.operator_id];
    op.id = c.operator_id;
    Count(c, &op.chats, &op.missed, &op.ratings, &operator_durations[c.operator_id]);
  }
  figures.first_response = SpreadOf(std::move(all.first_response));
  figures.duration = SpreadOf(std::move(all.duration));
  figures.queue_wait = SpreadOf(std::move(waits));
  for (auto& [id, op] : by_operator) {
    Durations& d = operator_durations[id];
    op.first_response = SpreadOf(std::move(d.first_response));
    op.duration = SpreadOf(std::move(d.duration));
    figures.operators.push_back(std::move(op));
  }
  return figures;
}

}  // namespace zelto::serve
