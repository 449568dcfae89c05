// The routes of past chats: the history of the operator's company with its
// filters and search, a conversation's transcript (to read or download,
// plain text or HTML) for the company's operators and for the visitor who
// was in it, the visitor's rating at the end, and the statistics page's
// figures for supervisors (operators who may monitor).
#include <charconv>
#include <limits>

#include "host/serve/chat_history.h"
#include "host/serve/chat_ratings.h"
#include "host/serve/chat_statistics.h"
#include "host/serve/conversation_rows.h"
#include "host/serve/site_routes.h"
#include "host/serve/transcript.h"

namespace zelto::serve {
namespace {

namespace json = boost::json;

// The longest period the statistics cover at once.
constexpr int64_t kLongestPeriod = 400LL * 24 * 60 * 60;

// `text` as a 64-bit integer: an optional '-' and digits, nothing else
// (times in seconds pass 2038).
std::optional<int64_t> ParseWideInteger(std::string_view text) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || at != end) return std::nullopt;
  return value;
}

// The form's `key` as a number at least `lowest` (absent: `fallback`);
// nullopt after answering 400.
std::optional<int64_t> FormNumber(SiteExchange& ex, const std::string& key, int64_t lowest,
                                  int64_t fallback = 0) {
  const std::string text = ex.Form(key);
  if (text.empty()) return fallback;
  const auto number = ParseWideInteger(text);
  if (!number || *number < lowest) {
    ex.Error(http::status::bad_request, key + " must be a number");
    return std::nullopt;
  }
  return *number;
}

// "END:CID" of the paging cursor; false after answering 400.
bool ReadCursor(SiteExchange& ex, HistoryFilter* filter) {
  const std::string text = ex.Form("before");
  if (text.empty()) return true;
  const size_t colon = text.find(':');
  const auto end = ParseWideInteger(std::string_view(text).substr(0, colon));
  const auto cid = colon == std::string::npos ? std::nullopt
                                              : ParseWellFormedInteger(text.substr(colon + 1));
  if (!end || !cid || *end < 0 || *cid <= 0) {
    ex.Error(http::status::bad_request, "before must be END:CID");
    return false;
  }
  filter->before_end = *end;
  filter->before_cid = static_cast<LONG>(*cid);
  return true;
}

json::object EntryJson(const HistoryEntry& e) {
  json::array operators;
  for (const std::string& name : e.operators) operators.emplace_back(name);
  return json::object{{"cid", e.cid},
                      {"label", e.label},
                      {"visitorName", e.visitor_name},
                      {"startedAt", e.started_at},
                      {"endedAt", e.ended_at},
                      {"endedBy", e.ended_by},
                      {"operators", std::move(operators)},
                      {"firstMessage", e.first_message},
                      {"score", e.score},
                      {"comment", e.comment}};
}

// GET /api/operator/history?from&to&operator&visitor&q&before
void History(SiteContext& site, SiteExchange& ex) {
  HistoryFilter filter;
  const auto from = FormNumber(ex, "from", 0);
  if (!from) return;
  const auto to = FormNumber(ex, "to", 0);
  if (!to) return;
  const auto op = FormNumber(ex, "operator", 0);
  if (!op || !ReadCursor(ex, &filter)) return;
  if (*op > std::numeric_limits<LONG>::max())
    return ex.Error(http::status::bad_request, "operator must be an operator's id");
  filter.from = *from;
  filter.to = *to;
  filter.operator_id = static_cast<LONG>(*op);
  filter.visitor = ex.Form("visitor");
  filter.text = ex.Form("q");
  if (filter.text.size() > kSearchTextLimit || filter.visitor.size() > 50)
    return ex.Error(http::status::bad_request, "the search is too long");
  std::string error;
  const auto entries = ChatHistory(site.database()).List(SessionCompany(ex), filter, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  json::array rows;
  for (const HistoryEntry& e : entries) rows.push_back(EntryJson(e));
  const std::string next =
      entries.size() < kHistoryPageSize
          ? ""
          : std::to_string(entries.back().ended_at) + ":" + std::to_string(entries.back().cid);
  ex.Json(http::status::ok,
          JsonAnswer(json::object{{"conversations", std::move(rows)}, {"next", next}}));
}

// The transcript of `cid` as the form's format asks ("text" or "html"),
// shown or, with download=1, offered as a file.
void AnswerTranscript(SiteContext& site, SiteExchange& ex, LONG cid) {
  const std::string format = ex.Form("format").empty() ? "text" : ex.Form("format");
  if (format != "text" && format != "html")
    return ex.Error(http::status::bad_request, "format must be text or html");
  std::string error;
  const auto lines = ChatHistory(site.database()).Transcript(cid, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  const TranscriptHeading heading{cid, site.RequestLanguage(ex)};
  const bool html = format == "html";
  const std::string name = "conversation-" + std::to_string(cid) + (html ? ".html" : ".txt");
  ex.headers.emplace_back("Content-Disposition",
                          std::string(ex.Form("download") == "1" ? "attachment" : "inline") +
                              "; filename=\"" + name + "\"");
  // The document is data: no script of it may run, whatever it contains.
  ex.headers.emplace_back("Content-Security-Policy", "default-src 'none'; style-src 'unsafe-inline'");
  if (html)
    return ex.Reply(http::status::ok, "text/html; charset=utf-8", TranscriptHtml(heading, lines));
  ex.Reply(http::status::ok, "text/plain; charset=utf-8", TranscriptText(heading, lines));
}

// GET /api/operator/transcript?cid=N&format=text|html&download=1
void OperatorTranscript(SiteContext& site, SiteExchange& ex) {
  const auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  const bool ours = ChatHistory(site.database()).IsOfCompany(*cid, SessionCompany(ex), &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!ours) return ex.Error(http::status::forbidden, "not a conversation of your company");
  AnswerTranscript(site, ex, *cid);
}

// GET /api/visitor/transcript?cid=N&format=...: the visitor's own only.
void VisitorTranscript(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::get)) return;
  const auto cid = FormId(ex, "cid");
  if (!cid) return;
  std::string error;
  const bool mine = site.app().chats.VisitorInConversation(label, *cid, &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!mine) return ex.Error(http::status::forbidden, "not the visitor's conversation");
  AnswerTranscript(site, ex, *cid);
}

// POST /api/visitor/rating (cid, score 1-5, comment)
void Rate(SiteContext& site, SiteExchange& ex, const std::string& label) {
  if (!Expect(ex, http::verb::post)) return;
  const auto cid = FormId(ex, "cid");
  if (!cid) return;
  const auto score = ParseWellFormedInteger(ex.Form("score"));
  if (!score || *score < kLowestScore || *score > kHighestScore)
    return ex.Error(http::status::bad_request, "score must be 1 to 5");
  const std::string comment = ex.Form("comment");
  if (comment.size() > kRatingCommentLimit)
    return ex.Error(http::status::bad_request, "the comment is too long");
  std::string error;
  ChatRating stored;
  const RatingOutcome outcome = ChatRatings(site.database(), WallSecondsNow)
                                    .RecordRating(label, *cid, static_cast<int>(*score), comment,
                                                  &stored, &error);
  switch (outcome) {
    case RatingOutcome::kStored:
      site.events().ChatRated(stored.cid, stored.company_id, stored.score, stored.comment,
                              stored.rated_at);
      return ex.Json(http::status::ok, OkJson());
    case RatingOutcome::kNotMember:
      return ex.Error(http::status::forbidden, "not the visitor's conversation");
    case RatingOutcome::kNotEnded:
      return ex.Error(http::status::conflict, "the chat has not ended");
    case RatingOutcome::kAlreadyRated:
      return ex.Error(http::status::conflict, "the chat was rated already");
    case RatingOutcome::kTooLate:
      return ex.Error(http::status::gone, "the chat ended too long ago to be rated");
    case RatingOutcome::kFailed: return site.DatabaseError(ex, error);
  }
}

json::object SpreadJson(const Spread& s) {
  return json::object{{"count", s.count}, {"median", s.median}, {"p90", s.p90}};
}

json::object RatingsJson(const RatingCounts& r) {
  json::array scores;
  for (int s = 1; s <= 5; ++s) scores.emplace_back(r.by_score[s]);
  return json::object{{"rated", r.rated()}, {"average", r.average()}, {"byScore", scores}};
}

json::object FiguresJson(const ChatFigures& f) {
  json::object days;
  for (const auto& [day, n] : f.per_day) days[day] = n;
  json::array hours, operators;
  for (int64_t n : f.per_hour) hours.emplace_back(n);
  for (const OperatorFigures& op : f.operators)
    operators.push_back(json::object{{"id", op.id},
                                     {"name", op.name},
                                     {"chats", op.chats},
                                     {"missed", op.missed},
                                     {"firstResponse", SpreadJson(op.first_response)},
                                     {"duration", SpreadJson(op.duration)},
                                     {"ratings", RatingsJson(op.ratings)}});
  return json::object{{"chats", f.chats},
                      {"missed", f.missed},
                      {"queued", f.queued},
                      {"waitingNow", f.waiting_now},
                      {"perDay", std::move(days)},
                      {"perHour", std::move(hours)},
                      {"firstResponse", SpreadJson(f.first_response)},
                      {"duration", SpreadJson(f.duration)},
                      {"queueWait", SpreadJson(f.queue_wait)},
                      {"ratings", RatingsJson(f.ratings)},
                      {"operators", std::move(operators)}};
}

// GET /api/operator/statistics?from&to&offset (seconds; offset east of UTC)
void Statistics(SiteContext& site, SiteExchange& ex) {
  std::string error;
  const auto op = site.app().operators.FindOperator(SessionOperator(ex), &error);
  if (!error.empty()) return site.DatabaseError(ex, error);
  if (!op || !op->can_monitor)
    return ex.Error(http::status::forbidden, "statistics are for supervisors");
  StatisticsPeriod period;
  const auto from = FormNumber(ex, "from", 0);
  if (!from) return;
  const auto to = FormNumber(ex, "to", 1);
  if (!to) return;
  const auto offset = FormNumber(ex, "offset", -14 * 3600);
  if (!offset) return;
  if (*offset > 14 * 3600 || *to <= *from || *to - *from > kLongestPeriod)
    return ex.Error(http::status::bad_request, "the period is not valid");
  period = {*from, *to, *offset};
  const auto figures = ChatStatistics(site.database()).Compute(op->company_id, period, &error);
  if (!figures) return site.DatabaseError(ex, error);
  ex.Json(http::status::ok, JsonAnswer(FiguresJson(*figures)));
}

}  // namespace

void AddRecordsRoutes(RouteTable& routes, SiteContext& site) {
  routes.Add("/api/operator/history", ForOperator(site, http::verb::get, History));
  routes.Add("/api/operator/transcript", ForOperator(site, http::verb::get, OperatorTranscript));
  routes.Add("/api/operator/statistics", ForOperator(site, http::verb::get, Statistics));
  routes.Add("/api/visitor/transcript", ForVisitor(site, VisitorTranscript));
  routes.Add("/api/visitor/rating", ForVisitor(site, Rate));
}

}  // namespace zelto::serve
