#include "host/serve/shared_sessions.h"

#include <openssl/evp.h>

#include "db/sql_values.h"

namespace zelto::serve {
namespace {

// The row's key: a session id read from the database opens nothing.
std::string KeyOf(const std::string& id) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(id.data(), id.size(), digest, &length, EVP_sha256(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string key;
  for (unsigned int i = 0; i < length; ++i) {
    key += kHex[digest[i] >> 4];
    key += kHex[digest[i] & 15];
  }
  return SqlStringLiteral(key);
}

// A used row is written again only this often: most requests only read.
constexpr long long kTouchSeconds = 30;

}  // namespace

long long SharedSessions::NowSeconds() const {
  return std::chrono::duration_cast<std::chrono::seconds>(now_().time_since_epoch()).count();
}

bool SharedSessions::Save(const std::string& id, const SharedOperatorSession& session,
                          const std::string& replaced, std::string* error) const {
  return db_.Write(kChatCatalog, error, [&](SqlSession& chat) {
    return (replaced.empty() ||
            chat.Execute("delete from operatorSession where id=" + KeyOf(replaced))) &&
           chat.Execute("delete from operatorSession where id=" + KeyOf(id)) &&
           chat.Execute(
               "insert into operatorSession (id, operatorId, companyId, token, lastUsed) values (" +
               KeyOf(id) + ", " + SqlId(session.operator_id) + ", " + SqlId(session.company_id) +
               ", " + SqlStringLiteral(session.token) + ", " + std::to_string(NowSeconds()) + ")");
  });
}

std::optional<SharedOperatorSession> SharedSessions::Check(const std::string& id,
                                                           std::string* error) const {
  error->clear();
  const long long now = NowSeconds();
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select s.operatorId as operatorId, s.companyId as companyId, s.token as token, "
                 "s.lastUsed as lastUsed from operatorSession s "
                 "inner join userinfo u on u.ID = s.operatorId "
                 "left join operatorAccount a on a.id = s.operatorId "
                 "where s.id=" +
                     KeyOf(id) + " and (a.removed is null or a.removed = 0)",
                 {"operatorId", "companyId", "token", "lastUsed"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  const long long last_used = std::stoll(rows[0][3].empty() ? "0" : rows[0][3]);
  if (now - last_used >= timeout_.count()) return std::nullopt;
  if (now - last_used >= kTouchSeconds) {
    LONG changed = 0;
    if (!db_.Execute(kChatCatalog,
                     "update operatorSession set lastUsed=" + std::to_string(now) +
                         " where id=" + KeyOf(id),
                     &changed, error))
      return std::nullopt;
  }
  return SharedOperatorSession{IdField(rows[0][0]), IdField(rows[0][1]), rows[0][2]};
}

bool SharedSessions::Remove(const std::string& id, std::string* error) const {
  LONG changed = 0;
  return db_.Execute(kChatCatalog, "delete from operatorSession where id=" + KeyOf(id), &changed,
                     error);
}

std::set<LONG> SharedSessions::Online(std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  std::set<LONG> online;
  db_.Query(kChatCatalog,
            "select distinct operatorId from operatorSession where lastUsed > " +
                std::to_string(NowSeconds() - timeout_.count()),
            {"operatorId"}, &rows, error);
  for (const auto& row : rows) online.insert(IdField(row[0]));
  return online;
}

bool SharedSessions::Sweep(std::string* error) const {
  LONG changed = 0;
  return db_.Execute(kChatCatalog,
                     "delete from operatorSession where lastUsed <= " +
                         std::to_string(NowSeconds() - timeout_.count()),
                     &changed, error);
}

}  // namespace zelto::serve
