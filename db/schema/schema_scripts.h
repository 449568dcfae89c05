// The schema and demo data scripts of db/schema, built into the program that
// creates databases (`zelto init-db`). Names are "<engine>/<file>.sql", e.g.
// "sqlite/chat.sql", "sqlite/chat_demo.sql", "sqlite/count.sql".
#pragma once

#include <cstddef>

namespace zelto {

struct SchemaScript {
  const char* name;
  const char* text;
  size_t size;
};

// Null when no script has that name.
const SchemaScript* FindSchemaScript(const char* name);

}  // namespace zelto
