#include "host/serve/visitor_tracking.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "db/sql_values.h"
#include "db/value_text.h"
#include "host/serve/conversation_rows.h"
#include "host/serve/http_text.h"
#include "host/serve/random_bytes.h"
#include "platform/win/local_time.h"

namespace zelto::serve {
namespace {

// At most `max` bytes of UTF-8 text, never cutting a character.
std::string Clip(std::string text, size_t max) {
  if (text.size() <= max) return text;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

std::string RandomHostTag() { return RandomHex128().substr(0, 8); }

}  // namespace

std::string SearchKeywords(const std::string& referrer) {
  const size_t question = referrer.find('?');
  if (question == std::string::npos) return {};
  std::string query = referrer.substr(question + 1);
  if (const size_t hash = query.find('#'); hash != std::string::npos) query.resize(hash);
  const auto form = ParseForm(query);
  for (const char* key : {"wd", "q", "query", "word", "keyword", "kw", "p", "text"}) {
    auto it = form.find(key);
    if (it != form.end() && !it->second.empty()) return Clip(it->second, 255);
  }
  return {};
}

VisitorTracking::VisitorTracking(const SiteDatabase& db)
    : db_(db), label_host_tag_(RandomHostTag()) {}

std::string VisitorTracking::NewVisitorLabel() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char digits[32];
  std::snprintf(digits, sizeof digits, "%04u%02u%02u%02u%02u%02u%03u", t.wYear, t.wMonth, t.wDay,
                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
  unsigned long long value = std::strtoull(digits, nullptr, 10);
  std::lock_guard lock(label_mutex_);
  if (value <= last_label_) value = last_label_ + 1;
  last_label_ = value;
  return "V" + label_host_tag_ + std::to_string(value);
}

bool VisitorTracking::AddOnlineVisitor(SqlSession& chat, const std::string& label,
                                       LONG company_id, const std::string& address,
                                       const std::string& referrer, bool chatting) const {
  const std::string nick = "访客" + label.substr(label.size() > 3 ? label.size() - 3 : 0);
  return chat.Execute(
      "insert into onlineCst (cstLabel, NickName, CompanyID, visittime, beChatting, Invited, "
      "searchkey, sourcepage, csarea, IP) values (" +
      SqlStringLiteral(label) + ", " + SqlStringLiteral(nick) + ", " + SqlId(company_id) + ", " +
      SqlStringLiteral(CurrentTimestampText()) + ", " + (chatting ? "1" : "0") + ", 0, " +
      SqlStringLiteral(SearchKeywords(referrer)) + ", " + SqlStringLiteral(Clip(referrer, 1000)) +
      ", " + SqlStringLiteral("未知地区") + ", " + SqlStringLiteral(Clip(address, 50)) + ")");
}

bool VisitorTracking::RecordVisit(const std::string& label, LONG company_id, bool first_view,
                                  const std::string& address, const std::string& referrer,
                                  const std::string& page, std::string* error) const {
  const std::string track = "insert into cstTrack (cstLabel, presentTime, presentPage) values (" +
                            SqlStringLiteral(label) + ", " +
                            SqlStringLiteral(CurrentTimestampText()) + ", " +
                            SqlStringLiteral(Clip(page, 1000)) + ")";
  if (!first_view) return db_.Execute(kChatCatalog, track, nullptr, error);
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    return AddOnlineVisitor(chat, label, company_id, address, referrer, false) && chat.Execute(track);
  });
}

bool VisitorTracking::VisitorReturned(const std::string& label, LONG* company_id,
                                      const std::string& address, std::string* error) const {
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    std::vector<SqlSession::Row> rows;
    std::optional<LONG> running;
    if (!chat.Query("select CompanyID from onlineCst where cstLabel=" + SqlStringLiteral(label),
                    {"CompanyID"}, &rows))
      return false;
    if (!rows.empty()) {
      *company_id = IdField(rows[0][0]);
      return true;
    }
    return FindRunningConversation(chat, label, &running) &&
           AddOnlineVisitor(chat, label, *company_id, address, "", running.has_value());
  });
}

bool VisitorTracking::VisitorLeft(const std::string& label, const std::string& address,
                                  std::string* error) const {
  if (!db_.Execute(kChatCatalog, "delete from onlineCst where cstLabel=" + SqlStringLiteral(label),
                   nullptr, error))
    return false;
  if (address.empty()) return true;
  const bool recorded = db_.Write(kCountCatalog, error, [&](SqlSession& count) {
    bool seen = false;
    if (!HasRow(count, "select IP from t_Iprecord where IP=" + SqlStringLiteral(address), &seen))
      return false;
    return seen || count.Execute("insert into t_Iprecord (IP, recordTime) values (" +
                                 SqlStringLiteral(address) + ", " +
                                 SqlStringLiteral(CurrentTimestampText()) + ")");
  });
  if (!recorded) *error = "the visitor left, but their address was not recorded as seen: " + *error;
  return recorded;
}

std::string VisitorTracking::VisitorListState(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  db_.Query(kChatCatalog,
            "select cstLabel, beChatting, Invited from onlineCst where CompanyID=" +
                SqlId(company_id) + " order by cstLabel",
            {"cstLabel", "beChatting", "Invited"}, &rows, error);
  std::string state;
  for (const auto& row : rows) state += row[0] + "," + row[1] + "," + row[2] + "\n";
  return state;
}

}  // namespace zelto::serve
