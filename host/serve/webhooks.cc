#include "host/serve/webhooks.h"

#include <algorithm>
#include <cctype>

#include "host/serve/json_answer.h"
#include "host/serve/random_bytes.h"

namespace zelto::serve {
namespace {

constexpr size_t kMaxUrlBytes = 1000;
constexpr size_t kMaxErrorBytes = 255;
constexpr char kPending[] = "pending";
constexpr char kDone[] = "done";
constexpr char kGivenUp[] = "failed";

bool Known(const std::string& name) {
  return std::any_of(std::begin(kWebhookEvents), std::end(kWebhookEvents),
                     [&](const char* known) { return name == known; });
}

bool Wants(const std::string& events, const std::string& event) {
  if (events == "*") return true;
  size_t start = 0;
  while (start <= events.size()) {
    const size_t end = std::min(events.find(',', start), events.size());
    if (events.compare(start, end - start, event) == 0) return true;
    start = end + 1;
  }
  return false;
}

// An error as stored: at most 255 bytes, cut before a UTF-8 character.
std::string Shortened(std::string text) {
  if (text.size() <= kMaxErrorBytes) return text;
  size_t end = kMaxErrorBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

}  // namespace

std::string RefusedWebhookUrl(const std::string& url, bool allow_http) {
  if (url.size() > kMaxUrlBytes) return "the address is longer than 1000 bytes";
  for (unsigned char c : url) {
    if (c <= ' ' || c == 0x7F) return "the address holds a space or a control character";
  }
  std::string lower(url.substr(0, 8));
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  size_t host = 0;
  if (lower.rfind("https://", 0) == 0) {
    host = 8;
  } else if (lower.rfind("http://", 0) == 0) {
    if (!allow_http) return "the address must start with https:// (plain http is not allowed)";
    host = 7;
  } else {
    return "the address must start with https://";
  }
  const std::string authority = url.substr(host, url.find_first_of("/?#", host) - host);
  if (authority.empty() || authority[0] == ':') return "the address has no host";
  if (authority.find('@') != std::string::npos)
    return "the address must not hold a user name or password";
  return "";
}

std::optional<std::string> ParseWebhookEvents(const std::string& list, std::string* why) {
  if (list == "*") return list;
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    const size_t end = std::min(list.find(',', start), list.size());
    std::string name = list.substr(start, end - start);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    start = end + 1;
    if (name.empty()) continue;
    if (!Known(name)) {
      *why = "unknown event " + name + " (known: chat.started, message, chat.ended, "
             "offline_message, rating, or *)";
      return std::nullopt;
    }
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  }
  if (names.empty()) {
    *why = "no event named";
    return std::nullopt;
  }
  std::string stored;
  for (const auto& name : names) stored += (stored.empty() ? "" : ",") + name;
  return stored;
}

int64_t RetryDelay(const WebhookRetry& retry, int attempts) {
  int64_t delay = retry.first_delay;
  for (int i = 1; i < attempts && delay < retry.max_delay; ++i) delay *= 2;
  return std::min(delay, retry.max_delay);
}

AdminResult Webhooks::Add(LONG company_id, const std::string& url, const std::string& events,
                          bool allow_http, std::string* secret) const {
  return AdminChange(db_, [&](SqlSession& chat, AdminResult& result) {
    if (std::string why = RefusedWebhookUrl(url, allow_http); !why.empty())
      return RefuseChange(result, why);
    std::string why;
    const auto wanted = ParseWebhookEvents(events, &why);
    if (!wanted) return RefuseChange(result, why);
    bool found = false;
    if (!CompanyExists(chat, company_id, &found)) return false;
    if (!found) return RefuseChange(result, "no company " + SqlId(company_id));
    const auto key = RandomHex(32);
    if (!key) return chat.Fail("no random bytes for the secret");
    *secret = *key;
    return NextId(chat, "webhook", "id", result) &&
           chat.Execute("insert into webhook (id, companyId, url, secret, events, createdAt) "
                        "values (" +
                        SqlId(result.id) + ", " + SqlId(company_id) + ", " +
                        SqlStringLiteral(url) + ", " + SqlStringLiteral(*secret) + ", " +
                        SqlStringLiteral(*wanted) + ", " + std::to_string(now_()) + ")");
  });
}

std::vector<Webhook> Webhooks::List(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  const std::string where = company_id ? " where w.companyId=" + SqlId(company_id) : "";
  db_.Query(kChatCatalog,
            "select w.id as id, w.companyId as companyId, w.url as url, w.secret as secret, "
            "w.events as events, w.createdAt as createdAt, "
            "(select count(*) from webhookDelivery d where d.webhookId=w.id and "
            "d.state='pending') as pending, "
            "(select count(*) from webhookDelivery d where d.webhookId=w.id and "
            "d.state='failed') as failed from webhook w" +
                where + " order by w.id",
            {"id", "companyId", "url", "secret", "events", "createdAt", "pending", "failed"}, &rows,
            error);
  std::vector<Webhook> hooks;
  for (auto& row : rows) {
    hooks.push_back(Webhook{IdField(row[0]), IdField(row[1]), std::move(row[2]),
                            std::move(row[3]), std::move(row[4]),
                            std::strtoll(row[5].c_str(), nullptr, 10), IdField(row[6]),
                            IdField(row[7])});
  }
  return hooks;
}

AdminResult Webhooks::Remove(LONG id, LONG company_id) const {
  return AdminChange(db_, [&](SqlSession& chat, AdminResult& result) {
    std::string where = "id=" + SqlId(id);
    if (company_id) where += " and companyId=" + SqlId(company_id);
    LONG removed = 0;
    if (!chat.Execute("delete from webhook where " + where, &removed)) return false;
    if (removed == 0) return RefuseChange(result, "no webhook " + SqlId(id));
    result.id = id;
    return chat.Execute("delete from webhookDelivery where webhookId=" + SqlId(id));
  });
}

std::optional<int> Webhooks::Emit(LONG company_id, const std::string& event,
                                  const boost::json::object& data, std::string* error) const {
  std::vector<SiteDatabase::Row> hooks;
  if (!db_.Query(kChatCatalog,
                 "select id, events from webhook where companyId=" + SqlId(company_id),
                 {"id", "events"}, &hooks, error))
    return std::nullopt;
  std::erase_if(hooks, [&](const SiteDatabase::Row& row) { return !Wants(row[1], event); });
  if (hooks.empty()) return 0;
  const auto event_id = RandomHex(16);
  if (!event_id) {
    *error = "no random bytes for the event's id";
    return std::nullopt;
  }
  const int64_t now = now_();
  const std::string body = JsonAnswer(boost::json::object{{"id", *event_id},
                                                          {"event", event},
                                                          {"companyId", company_id},
                                                          {"createdAt", now},
                                                          {"data", data}});
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    // Read again under the write lock: a webhook removed meanwhile gets
    // nothing.
    if (!chat.Query("select id, events from webhook where companyId=" + SqlId(company_id),
                    {"id", "events"}, &hooks))
      return false;
    std::erase_if(hooks, [&](const SiteDatabase::Row& row) { return !Wants(row[1], event); });
    AdminResult next;
    for (const auto& hook : hooks) {
      if (!NextId(chat, "webhookDelivery", "id", next)) return chat.Fail(next.message);
      if (!chat.Execute("insert into webhookDelivery (id, webhookId, companyId, event, body, "
                        "state, attempts, nextAttemptAt, claimedUntil, createdAt, finishedAt, "
                        "lastStatus, lastError) values (" +
                        SqlId(next.id) + ", " + hook[0] + ", " + SqlId(company_id) + ", " +
                        SqlStringLiteral(event) + ", " + SqlStringLiteral(body) + ", '" + kPending +
                        "', 0, " + std::to_string(now) + ", 0, " + std::to_string(now) +
                        ", 0, 0, '')"))
        return false;
    }
    return true;
  });
  if (!done) return std::nullopt;
  return static_cast<int>(hooks.size());
}

std::vector<WebhookDelivery> Webhooks::ClaimDue(size_t limit, std::string* error) const {
  std::vector<WebhookDelivery> claimed;
  const std::string now = std::to_string(now_());
  const bool done = db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    claimed.clear();
    std::vector<SqlSession::Row> rows;
    if (!chat.Query("select top " + std::to_string(limit) +
                        " d.id as id, d.webhookId as webhookId, d.event as event, d.body as body, "
                        "w.url as url, w.secret as secret, d.attempts as attempts from "
                        "webhookDelivery d inner join webhook w on w.id=d.webhookId where "
                        "d.state='pending' and d.nextAttemptAt<=" +
                        now + " and d.claimedUntil<=" + now + " order by d.nextAttemptAt, d.id",
                    {"id", "webhookId", "event", "body", "url", "secret", "attempts"}, &rows))
      return false;
    const std::string until = std::to_string(now_() + retry_.claim_seconds);
    for (auto& row : rows) {
      WebhookDelivery d{IdField(row[0]), IdField(row[1]), std::move(row[2]), std::move(row[3]),
                        std::move(row[4]), std::move(row[5]), static_cast<int>(IdField(row[6]))};
      if (!chat.Execute("update webhookDelivery set claimedUntil=" + until +
                        " where id=" + SqlId(d.id)))
        return false;
      claimed.push_back(std::move(d));
    }
    return true;
  });
  if (!done) claimed.clear();
  return claimed;
}

bool Webhooks::Delivered(const WebhookDelivery& d, long status, std::string* error) const {
  return db_.Execute(kChatCatalog,
                     std::string("update webhookDelivery set state='") + kDone +
                         "', attempts=" + std::to_string(d.attempts + 1) +
                         ", claimedUntil=0, finishedAt=" + std::to_string(now_()) +
                         ", lastStatus=" + std::to_string(status) +
                         ", lastError='' where id=" + SqlId(d.id),
                     nullptr, error);
}

bool Webhooks::Failed(const WebhookDelivery& d, long status, const std::string& why,
                      std::string* error) const {
  const int attempts = d.attempts + 1;
  const int64_t now = now_();
  const bool last = attempts >= retry_.max_attempts;
  const std::string state = last ? kGivenUp : kPending;
  return db_.Execute(
      kChatCatalog,
      "update webhookDelivery set state='" + state + "', attempts=" + std::to_string(attempts) +
          ", claimedUntil=0, nextAttemptAt=" +
          std::to_string(last ? now : now + RetryDelay(retry_, attempts)) +
          ", finishedAt=" + std::to_string(last ? now : 0) +
          ", lastStatus=" + std::to_string(status) +
          ", lastError=" + SqlStringLiteral(Shortened(why)) + " where id=" + SqlId(d.id),
      nullptr, error);
}

bool Webhooks::Release(const WebhookDelivery& d, std::string* error) const {
  return db_.Execute(kChatCatalog,
                     "update webhookDelivery set claimedUntil=0 where id=" + SqlId(d.id), nullptr,
                     error);
}

std::optional<int64_t> Webhooks::NextDue(std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 std::string("select min(case when claimedUntil>nextAttemptAt then claimedUntil "
                             "else nextAttemptAt end) as due from webhookDelivery where state='") +
                     kPending + "'",
                 {"due"}, &rows, error) ||
      rows.empty() || rows[0][0].empty())
    return std::nullopt;
  return std::strtoll(rows[0][0].c_str(), nullptr, 10);
}

}  // namespace zelto::serve
