#include "host/serve/api_keys.h"

#include "host/serve/digest.h"
#include "host/serve/random_bytes.h"

namespace zelto::serve {
namespace {

constexpr char kKeyStart[] = "zk_";
constexpr size_t kKeyBytes = 24;
constexpr size_t kPrefixLength = 10;  // "zk_" and 7 digits

bool WellFormedKey(const std::string& key) {
  if (key.size() != 3 + 2 * kKeyBytes || key.rfind(kKeyStart, 0) != 0) return false;
  return key.find_first_not_of("0123456789abcdef", 3) == std::string::npos;
}

}  // namespace

AdminResult ApiKeys::Create(LONG company_id, const std::string& name, std::string* key) const {
  return AdminChange(db_, [&](SqlSession& chat, AdminResult& result) {
    if (name.size() > kApiKeyNameLimit) return RefuseChange(result, "the name is too long");
    bool found = false;
    if (!CompanyExists(chat, company_id, &found)) return false;
    if (!found) return RefuseChange(result, "no company " + SqlId(company_id));
    const auto random = RandomHex(kKeyBytes);
    if (!random) return chat.Fail("no random bytes for the key");
    *key = kKeyStart + *random;
    return NextId(chat, "apiKey", "id", result) &&
           chat.Execute("insert into apiKey (id, companyId, name, prefix, keyHash, createdAt, "
                        "revokedAt) values (" +
                        SqlId(result.id) + ", " + SqlId(company_id) + ", " +
                        SqlStringLiteral(name) + ", " +
                        SqlStringLiteral(key->substr(0, kPrefixLength)) + ", " +
                        SqlStringLiteral(Sha256Hex(*key)) + ", " + std::to_string(now_()) + ", 0)");
  });
}

std::vector<ApiKey> ApiKeys::List(LONG company_id, std::string* error) const {
  std::vector<SiteDatabase::Row> rows;
  const std::string where = company_id ? " where companyId=" + SqlId(company_id) : "";
  db_.Query(kChatCatalog,
            "select id, companyId, name, prefix, createdAt, revokedAt from apiKey" + where +
                " order by id",
            {"id", "companyId", "name", "prefix", "createdAt", "revokedAt"}, &rows, error);
  std::vector<ApiKey> keys;
  for (auto& row : rows) {
    keys.push_back(ApiKey{IdField(row[0]), IdField(row[1]), std::move(row[2]), std::move(row[3]),
                          std::strtoll(row[4].c_str(), nullptr, 10),
                          std::strtoll(row[5].c_str(), nullptr, 10)});
  }
  return keys;
}

AdminResult ApiKeys::Revoke(LONG id, LONG company_id) const {
  return AdminChange(db_, [&](SqlSession& chat, AdminResult& result) {
    std::string where = "id=" + SqlId(id) + " and revokedAt=0";
    if (company_id) where += " and companyId=" + SqlId(company_id);
    LONG changed = 0;
    if (!chat.Execute("update apiKey set revokedAt=" + std::to_string(now_()) + " where " + where,
                      &changed))
      return false;
    if (changed == 0) return RefuseChange(result, "no API key " + SqlId(id) + " in use");
    result.id = id;
    return true;
  });
}

std::optional<LONG> ApiKeys::CompanyOfKey(const std::string& key, std::string* error) const {
  if (!WellFormedKey(key)) return std::nullopt;
  std::vector<SiteDatabase::Row> rows;
  if (!db_.Query(kChatCatalog,
                 "select companyId from apiKey where keyHash=" + SqlStringLiteral(Sha256Hex(key)) +
                     " and revokedAt=0",
                 {"companyId"}, &rows, error) ||
      rows.empty())
    return std::nullopt;
  return IdField(rows[0][0]);
}

}  // namespace zelto::serve
