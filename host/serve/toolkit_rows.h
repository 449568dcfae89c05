// Rows of the operators' toolkit (canned replies, visitor notes, whispers):
// each table has an int id, one more than the largest so far, given out in
// the inserting transaction; and each row keeps its creation time in
// seconds since 1970.
#pragma once

#include <optional>
#include <string>

#include "host/serve/site_database.h"

namespace zelto::serve {

// Inserts a row into `table`: `columns` names the columns after "id",
// `values` their SQL values (already quoted). The new id; nullopt with
// `error` set when it failed or no id is left.
std::optional<LONG> InsertNumbered(const SiteDatabase& db, const char* table,
                                   const std::string& columns, const std::string& values,
                                   std::string* error);

// Whether `text` holds nothing but spaces and line ends.
bool IsBlank(const std::string& text);

}  // namespace zelto::serve
