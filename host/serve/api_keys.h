// ApiKeys: the keys of the read-only API, one company each. A key is
// "zk_" and 48 random hex digits, shown once when made; only its SHA-256
// is stored, with its first characters for telling keys apart in a list.
// A revoked key keeps its row and opens nothing. Every call may block on
// the database.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/serve/administration.h"
#include "host/serve/chat_state.h"
#include "host/serve/site_database.h"

namespace zelto::serve {

inline constexpr size_t kApiKeyNameLimit = 100;

struct ApiKey {
  LONG id = 0, company_id = 0;
  std::string name, prefix;
  int64_t created_at = 0, revoked_at = 0;  // revoked_at 0: in use
};

class ApiKeys {
 public:
  ApiKeys(const SiteDatabase& db, SecondsClock now) : db_(db), now_(std::move(now)) {}

  // Makes a key for the company; `key` gets its text (AdminResult::id its id).
  AdminResult Create(LONG company_id, const std::string& name, std::string* key) const;
  // The keys of `company_id` (0: of every company), by id.
  std::vector<ApiKey> List(LONG company_id, std::string* error) const;
  // Refused when there is no such key in use (of the company, when not 0).
  AdminResult Revoke(LONG id, LONG company_id) const;
  // The company of a key in use; nullopt when `key` is none (or, with
  // `error`, when the database failed).
  std::optional<LONG> CompanyOfKey(const std::string& key, std::string* error) const;

 private:
  const SiteDatabase& db_;
  const SecondsClock now_;
};

}  // namespace zelto::serve
