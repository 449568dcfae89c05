#include "db/schema/schema_scripts.h"

namespace zelto {

bool DatabaseScript(std::string_view engine, std::string_view catalog, bool demo,
                    std::string* script, std::string* error) {
  script->clear();
  std::string names[] = {std::string(engine) + "/" + std::string(catalog) + ".sql",
                         "demo/" + std::string(catalog) + ".sql"};
  for (const std::string& name : names) {
    if (&name != &names[0] && !demo) break;
    const SchemaScript* found = FindSchemaScript(name.c_str());
    if (!found) {
      *error = "the program has no script " + name;
      return false;
    }
    script->append(found->text, found->size).append("\n");
  }
  return true;
}

}  // namespace zelto
