#include "host/serve/chat_history.h"

#include <algorithm>
#include <map>
#include <set>

#include "host/serve/chat_state.h"
#include "host/serve/conversation_view.h"
#include "platform/ado/engine.h"

namespace zelto::serve {
namespace {

// How many of the newest chats a search reads through before the index.
constexpr size_t kScanWindow = 500;
// The shortest word the trigram index can find.
constexpr size_t kIndexedWordCharacters = 3;

bool OnPostgres() {
  const zelto::ado::Engine* engine = zelto::ado::GetDatabaseEngine();
  return engine && std::string_view(engine->Name()) == "postgresql";
}

size_t CharacterCount(std::string_view utf8) {
  return std::count_if(utf8.begin(), utf8.end(),
                       [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
}

// `word` as a LIKE pattern matching it anywhere, with \ escaping % _ and \.
std::string ContainsPattern(std::string_view word) {
  std::string pattern = "%";
  for (char c : word) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "%";
}

std::string StartsWithPattern(std::string_view text) {
  std::string pattern = ContainsPattern(text);
  return pattern.substr(1);
}

// The condition on chatState s that one of its messages contains `word`,
// read from the chat's own messages (by msg's index on conid).
std::string ScannedWord(const std::string& word) {
  return "exists (select 1 from msg m where m.conid=s.cid and m.msgContent " +
         std::string(OnPostgres() ? "ilike " : "like ") + SqlStringLiteral(ContainsPattern(word)) +
         " escape '\\')";
}

// The same through the engine's text index where it can find the word.
std::string IndexedWord(const std::string& word) {
  if (OnPostgres()) {
    return "s.cid in (select m.conid from msg m where m.msgContent ilike " +
           SqlStringLiteral(ContainsPattern(word)) + " escape '\\')";
  }
  if (CharacterCount(word) >= kIndexedWordCharacters) {
    std::string phrase = "\"";
    for (char c : word) phrase += c == '"' ? std::string("\"\"") : std::string(1, c);
    return "s.cid in (select m.conid from msg m where m.msgID in (select rowid from msgText "
           "where msgText match " +
           SqlStringLiteral(phrase + "\"") + "))";
  }
  return ScannedWord(word);
}

// Everything but the words.
std::string Conditions(LONG company_id, const HistoryFilter& f) {
  std::string where = "s.companyId=" + SqlId(company_id) + " and s.state=" +
                      SqlStringLiteral(kEnded);
  if (f.from > 0) where += " and s.endedAt>=" + std::to_string(f.from);
  if (f.to > 0) where += " and s.endedAt<" + std::to_string(f.to);
  if (f.before_cid > 0) {
    const std::string end = std::to_string(f.before_end);
    where += " and (s.endedAt<" + end + " or (s.endedAt=" + end +
             " and s.cid<" + SqlId(f.before_cid) + "))";
  }
  if (f.operator_id > 0)
    where += " and exists (select 1 from C_members o where o.cid=s.cid and o.serid=" +
             SqlId(f.operator_id) + ")";
  if (!f.visitor.empty())
    where += " and s.cstLabel like " + SqlStringLiteral(StartsWithPattern(f.visitor)) +
             " escape '\\'";
  return where;
}

// " and ..." for each word: scanned, or through the index.
std::string WordConditions(const std::vector<std::string>& words, bool scan) {
  std::string where;
  for (const std::string& word : words)
    where += " and " + (scan ? ScannedWord(word) : IndexedWord(word));
  return where;
}

int64_t Seconds(const std::string& field) { return std::strtoll(field.c_str(), nullptr, 10); }

std::string CidList(const std::vector<HistoryEntry>& entries) {
  std::string list;
  for (const HistoryEntry& e : entries) list += (list.empty() ? "" : ",") + SqlId(e.cid);
  return list;
}

}  // namespace

std::vector<std::string> SearchWords(const std::string& text) {
  std::vector<std::string> words;
  size_t at = 0;
  while (words.size() < kSearchWordLimit) {
    at = text.find_first_not_of(" \t\r\n", at);
    if (at == std::string::npos) break;
    const size_t end = std::min(text.find_first_of(" \t\r\n", at), text.size());
    std::string word = text.substr(at, end - at);
    if (std::find(words.begin(), words.end(), word) == words.end()) words.push_back(word);
    at = end;
  }
  return words;
}

std::vector<HistoryEntry> ChatHistory::List(LONG company_id, const HistoryFilter& filter,
                                            std::string* error) const {
  // A word most chats contain is found fastest in the newest chats' own
  // messages, a rare one through the index: the newest kScanWindow chats
  // are scanned first, and the index is asked only when they hold less
  // than a page (the page is the same either way).
  const std::vector<std::string> words = SearchWords(filter.text);
  const std::string columns =
      "select top " + std::to_string(kHistoryPageSize) +
      " s.cid as cid, s.cstLabel as cstLabel, s.queuedAt as queuedAt, s.assignedAt as "
      "assignedAt, s.endedAt as endedAt, s.endedBy as endedBy, r.score as score, r.comment as "
      "comment from ";
  const std::string order = " order by s.endedAt desc, s.cid desc";
  const std::vector<std::string> names = {"cid",     "cstLabel", "queuedAt", "assignedAt",
                                          "endedAt", "endedBy",  "score",    "comment"};
  const std::string base = Conditions(company_id, filter);
  std::vector<SiteDatabase::Row> rows;
  if (!words.empty() &&
      !db_.Query(kChatCatalog,
                 columns + "(select top " + std::to_string(kScanWindow) +
                     " * from chatState s where " + base + order +
                     ") s left join chatRating r on r.cid=s.cid where s.cid>0" +
                     WordConditions(words, true) + order,
                 names, &rows, error))
    return {};
  if (words.empty() || rows.size() < kHistoryPageSize) rows.clear();
  if (rows.empty() &&
      !db_.Query(kChatCatalog,
                 columns + "chatState s left join chatRating r on r.cid=s.cid where " + base +
                     WordConditions(words, false) + order,
                 names, &rows, error))
    return {};
  std::vector<HistoryEntry> entries;
  for (const auto& row : rows) {
    HistoryEntry e;
    e.cid = IdField(row[0]);
    e.label = row[1];
    const int64_t assigned = Seconds(row[3]);
    e.started_at = assigned > 0 ? assigned : Seconds(row[2]);
    e.ended_at = Seconds(row[4]);
    e.ended_by = row[5];
    e.score = static_cast<int>(IdField(row[6]));
    e.comment = row[7];
    entries.push_back(std::move(e));
  }
  if (!entries.empty() && !AddDetails(&entries, error)) return {};
  return entries;
}

// The operators, the first message and the visitor's nickname of each entry.
bool ChatHistory::AddDetails(std::vector<HistoryEntry>* entries, std::string* error) const {
  const std::string list = CidList(*entries);
  std::vector<SiteDatabase::Row> operators, firsts;
  if (!db_.Query(kChatCatalog,
                 "select m.cid as cid, u.name as name from C_members m inner join userinfo u on "
                 "u.ID=m.serid where m.cid in (" +
                     list + ") order by m.cid, m.addtime",
                 {"cid", "name"}, &operators, error) ||
      !db_.Query(kChatCatalog,
                 "select conid, msgContent, nickName, cstLabel from msg where msgID in (select "
                 "min(msgID) from msg where conid in (" +
                     list +
                     ") and issystem=0 group by conid) or msgID in (select min(msgID) from msg "
                     "where conid in (" +
                     list + ") and cstLabel<>'' group by conid) order by msgID",
                 {"conid", "msgContent", "nickName", "cstLabel"}, &firsts, error))
    return false;
  std::map<LONG, HistoryEntry*> by_cid;
  for (HistoryEntry& e : *entries) by_cid[e.cid] = &e;
  for (const auto& row : operators) {
    HistoryEntry* e = by_cid[IdField(row[0])];
    if (e && std::find(e->operators.begin(), e->operators.end(), row[1]) == e->operators.end())
      e->operators.push_back(row[1]);
  }
  std::set<LONG> named;
  for (const auto& row : firsts) {
    HistoryEntry* e = by_cid[IdField(row[0])];
    if (!e) continue;
    if (e->first_message.empty()) e->first_message = row[1];
    if (!row[3].empty() && named.insert(e->cid).second) e->visitor_name = row[2];
  }
  return true;
}

bool ChatHistory::IsOfCompany(LONG cid, LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  return db_.Query(kChatCatalog,
                   "select cid from chatState where cid=" + SqlId(cid) +
                       " and companyId=" + SqlId(company_id) +
                       " union select m.cid as cid from C_members m inner join userinfo u on "
                       "u.ID=m.serid where m.cid=" +
                       SqlId(cid) + " and u.CompanyID=" + SqlId(company_id),
                   {"cid"}, &rows, error) &&
         !rows.empty();
}

std::vector<TranscriptLine> ChatHistory::Transcript(LONG cid, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!ReadMessageRows(db_, cid, &rows, error)) return {};
  std::vector<TranscriptLine> lines;
  for (const auto& row : rows) {
    TranscriptLine line;
    if (!row[4].empty()) {
      line.kind = TranscriptLine::Kind::kVisitor;
      line.sender = row[5];
      line.label = row[4];
    } else if (IdField(row[0]) == 0) {
      line.kind = TranscriptLine::Kind::kOperator;
      line.sender = row[6];
    }
    line.time = MessageTime(row[1]);
    line.text = row[2];
    line.attachment = row[3];
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace zelto::serve
