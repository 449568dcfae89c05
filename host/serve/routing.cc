#include "host/serve/routing.h"

#include <algorithm>
#include <map>

#include "db/sql_values.h"
#include "host/serve/conversation_ids.h"
#include "host/serve/conversation_rows.h"

namespace zelto::serve {
namespace {

// What a chat takes when the company has no ended chat to learn from.
constexpr int64_t kDefaultChatSeconds = 180;
// How many recent chats the estimate averages.
constexpr int kEstimateSample = 20;

struct Candidate {
  LONG id = 0;
  int64_t last_assigned = 0;
  LONG running = 0;
};

bool ChatLimit(SqlSession& chat, LONG company_id, LONG* limit) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select maxChats from chatSetting where companyId=" + SqlId(company_id),
                  {"maxChats"}, &rows))
    return false;
  *limit = rows.empty() ? kDefaultChatLimit : IdField(rows[0][0]);
  return true;
}

// The company's online operators (never a removed one) with their running
// chats.
bool OnlineCandidates(SqlSession& chat, LONG company_id, std::vector<Candidate>* candidates) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select s.operatorId as operatorId, s.lastAssigned as lastAssigned "
                  "from operatorState s inner join userinfo u on u.ID=s.operatorId "
                  "left join operatorAccount a on a.id=s.operatorId "
                  "where u.CompanyID=" +
                      SqlId(company_id) + " and s.state=" + SqlStringLiteral("online") +
                      " and s.sessions>0 and (a.removed is null or a.removed=0) "
                      "order by s.operatorId",
                  {"operatorId", "lastAssigned"}, &rows))
    return false;
  candidates->clear();
  for (const auto& row : rows)
    candidates->push_back({IdField(row[0]), std::strtoll(row[1].c_str(), nullptr, 10), 0});
  if (candidates->empty()) return true;
  if (!chat.Query("select m.serid as serid, count(distinct m.cid) as running "
                  "from C_members m inner join conversation c on c.cid=m.cid "
                  "inner join userinfo u on u.ID=m.serid where m.IsChat=1 and u.CompanyID=" +
                      SqlId(company_id) + " group by m.serid",
                  {"serid", "running"}, &rows))
    return false;
  std::map<LONG, LONG> running;
  for (const auto& row : rows) running[IdField(row[0])] = IdField(row[1]);
  for (Candidate& candidate : *candidates) candidate.running = running[candidate.id];
  return true;
}

// The candidate with the fewest running chats under `limit`, ties to the
// one idle longest, then the lowest id; nullptr when all are full.
const Candidate* PickOperator(const std::vector<Candidate>& candidates, LONG limit) {
  const Candidate* best = nullptr;
  for (const Candidate& c : candidates) {
    if (c.running >= limit) continue;
    if (!best || std::tie(c.running, c.last_assigned, c.id) <
                     std::tie(best->running, best->last_assigned, best->id))
      best = &c;
  }
  return best;
}

// Gives chat `cid` (its id taken, its chatState row written) to `op`.
bool Assign(SqlSession& chat, LONG cid, const std::string& label, Candidate* op, int64_t now) {
  if (!OpenConversationRows(chat, cid, label, op->id) ||
      !UpdateVisitor(chat, label, "beChatting=1") || !MarkAssigned(chat, cid, op->id, now))
    return false;
  ++op->running;
  op->last_assigned = now;
  return true;
}

bool OldestQueued(SqlSession& chat, LONG company_id, std::optional<ChatState>* oldest) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select top 1 cid from chatState where companyId=" + SqlId(company_id) +
                      " and state=" + SqlStringLiteral(kQueued) + " order by cid",
                  {"cid"}, &rows))
    return false;
  if (rows.empty()) {
    oldest->reset();
    return true;
  }
  return ReadChatState(chat, IdField(rows[0][0]), oldest);
}

LONG CountQueued(SqlSession& chat, LONG company_id, const std::string& before, bool* ok) {
  std::vector<SqlSession::Row> rows;
  *ok = chat.Query("select count(*) as n from chatState where companyId=" + SqlId(company_id) +
                       " and state=" + SqlStringLiteral(kQueued) + before,
                   {"n"}, &rows);
  return *ok && !rows.empty() ? IdField(rows[0][0]) : 0;
}

// The company's average chat, from its latest ended chats.
bool AverageChatSeconds(SqlSession& chat, LONG company_id, int64_t* seconds) {
  std::vector<SqlSession::Row> rows;
  if (!chat.Query("select top " + std::to_string(kEstimateSample) +
                      " assignedAt, endedAt from chatState where companyId=" + SqlId(company_id) +
                      " and state=" + SqlStringLiteral(kEnded) +
                      " and assignedAt>0 order by endedAt desc",
                  {"assignedAt", "endedAt"}, &rows))
    return false;
  int64_t total = 0, counted = 0;
  for (const auto& row : rows) {
    const int64_t span =
        std::strtoll(row[1].c_str(), nullptr, 10) - std::strtoll(row[0].c_str(), nullptr, 10);
    if (span > 0) total += span, ++counted;
  }
  *seconds = counted ? total / counted : kDefaultChatSeconds;
  return true;
}

}  // namespace

bool AssignWaitingChats(SqlSession& chat, LONG company_id, int64_t now,
                        std::vector<LONG>* assigned) {
  LONG limit = 0;
  std::vector<Candidate> candidates;
  if (!ChatLimit(chat, company_id, &limit) || !OnlineCandidates(chat, company_id, &candidates))
    return false;
  while (true) {
    Candidate* op = const_cast<Candidate*>(PickOperator(candidates, limit));
    if (!op) return true;
    std::optional<ChatState> oldest;
    if (!OldestQueued(chat, company_id, &oldest)) return false;
    if (!oldest) return true;
    if (!Assign(chat, oldest->cid, oldest->label, op, now)) return false;
    assigned->push_back(oldest->cid);
  }
}

std::optional<RoutedChat> Routing::Open(const std::string& label, LONG company_id,
                                        std::string* error) const {
  RoutedChat routed;
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    routed = RoutedChat();
    std::optional<LONG> running, queued;
    if (!FindRunningConversation(chat, label, &running)) return false;
    if (running) {
      routed = {RoutedChat::Kind::kRunning, *running, {}};
      return UpdateVisitor(chat, label, "beChatting=1");
    }
    if (!FindQueuedChat(chat, label, &queued)) return false;
    if (queued) {
      routed = {RoutedChat::Kind::kQueued, *queued, {}};
      return true;
    }
    const int64_t now = now_();
    std::vector<Candidate> candidates;
    if (!OnlineCandidates(chat, company_id, &candidates)) return false;
    if (candidates.empty()) return true;  // nobody online: nothing opens
    // Behind everyone already waiting; assigned at once when the queue
    // then moves this far.
    if (!TakeConversationId(chat, &routed.cid) ||
        !InsertChatState(chat, {routed.cid, company_id, label, 0, kQueued, now, 0, 0, "", 0}) ||
        !AssignWaitingChats(chat, company_id, now, &routed.assigned))
      return false;
    const bool mine = std::find(routed.assigned.begin(), routed.assigned.end(), routed.cid) !=
                      routed.assigned.end();
    routed.kind = mine ? RoutedChat::Kind::kRunning : RoutedChat::Kind::kQueued;
    return true;
  });
  if (!done) return std::nullopt;
  return routed;
}

std::optional<QueuePlace> Routing::PlaceOf(LONG cid, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  QueuePlace place;
  std::optional<ChatState> state;
  std::vector<Candidate> candidates;
  int64_t average = 0;
  bool ok = ReadChatState(chat, cid, &state);
  if (ok && state && state->state == kQueued) {
    place.position = CountQueued(chat, state->company_id, " and cid<=" + SqlId(cid), &ok);
    ok = ok && OnlineCandidates(chat, state->company_id, &candidates) &&
         AverageChatSeconds(chat, state->company_id, &average);
    place.online_operators = static_cast<LONG>(candidates.size());
    const int64_t servers = std::max<int64_t>(1, place.online_operators);
    place.estimate_seconds = (place.position + servers - 1) / servers * average;
  }
  if (!ok) {
    *error = chat.unreported_error();
    return std::nullopt;
  }
  return place;
}

std::vector<LONG> Routing::AssignWaiting(LONG company_id, std::string* error) const {
  std::vector<LONG> assigned;
  if (!db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
        assigned.clear();
        return AssignWaitingChats(chat, company_id, now_(), &assigned);
      }))
    return {};
  return assigned;
}

bool Routing::IsQueuedFor(LONG cid, const std::string& label, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  std::optional<LONG> queued;
  if (!FindQueuedChat(chat, label, &queued)) *error = chat.unreported_error();
  return queued == cid;
}

LONG Routing::QueueLength(LONG company_id, std::string* error) const {
  SqlSession chat = db_.Open(kChatCatalog);
  bool ok = false;
  const LONG length = CountQueued(chat, company_id, "", &ok);
  if (!ok) *error = chat.unreported_error();
  return length;
}

}  // namespace zelto::serve
