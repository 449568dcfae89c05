// The schema and demo data scripts of db/schema, built into the program that
// creates databases (`zelto init-db`, `zelto serve`). Names are
// "<engine>/<catalog>.sql" for the schema of each engine ("sqlite/chat.sql",
// "postgresql/count.sql") and "demo/<catalog>.sql" for the demo rows, which
// are written once for every engine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelto {

struct SchemaScript {
  const char* name;
  const char* text;
  size_t size;
};

// Null when no script has that name.
const SchemaScript* FindSchemaScript(const char* name);

// The script that creates `catalog` ("chat" or "count") on `engine`, followed
// by the demo rows when `demo` is set. False, with `error` saying which script
// is missing, when the program has none for that engine.
bool DatabaseScript(std::string_view engine, std::string_view catalog, bool demo,
                    std::string* script, std::string* error);

}  // namespace zelto
