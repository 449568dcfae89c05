// The site secret: 32 random bytes (RandomHex) kept as hex in the
// chat database's siteSecret table, so every host of one database signs and
// checks visitor cookies with the same key and a restarted host keeps it.
// The first host to start makes the table and the secret; hosts starting at
// once all end up reading the one row that won (the insert of the others
// fails on the key and is ignored).
#pragma once

#include <optional>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

// The site's secret, made when missing; nullopt (with `error`) when the
// database cannot be reached or the random source fails.
std::optional<std::string> LoadSiteSecret(const SiteDatabase& db, std::string* error);

}  // namespace zelto::serve
