#include "host/serve/site_secret.h"

#include <vector>

#include "host/serve/random_bytes.h"

namespace zelto::serve {
namespace {

constexpr size_t kSecretBytes = 32;

std::optional<std::string> ReadSecret(const SiteDatabase& db, std::string* error) {
  std::vector<SiteDatabase::Row> rows;
  if (!db.Query(kChatCatalog, "select secret from siteSecret where id=1", {"secret"}, &rows,
                error) ||
      rows.empty() || rows[0][0].size() != 2 * kSecretBytes)
    return std::nullopt;
  return rows[0][0];
}

}  // namespace

std::optional<std::string> LoadSiteSecret(const SiteDatabase& db, std::string* error) {
  // A second round covers a host that lost the race to create the table.
  for (int round = 0; round < 3; ++round) {
    std::string ignored;
    if (auto secret = ReadSecret(db, &ignored)) return secret;
    db.Execute(
        kChatCatalog,
        "create table if not exists siteSecret (id int primary key, secret varchar(64) not null)",
        nullptr, &ignored);
    auto fresh = RandomHex(kSecretBytes);
    if (!fresh) {
      *error = "no random bytes for the site secret";
      return std::nullopt;
    }
    // Fails on the key when another host was first: its secret is read next.
    db.Execute(kChatCatalog,
               "insert into siteSecret (id, secret) values (1, " + SqlStringLiteral(*fresh) + ")",
               nullptr, &ignored);
    if (auto secret = ReadSecret(db, error)) return secret;
  }
  if (error->empty()) *error = "the site secret cannot be read or made";
  return std::nullopt;
}

}  // namespace zelto::serve
