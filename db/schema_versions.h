// Schema versions: each database records the version of its schema in its
// table schemaVersion (one row, id 1). Version 1 is the schema of the first
// release, which had no such table; each later version is one upgrade step
// per engine, applied in order, each in one write transaction together with
// the new version number. A database made by today's scripts
// (db/schema/<engine>/<catalog>.sql) records the latest version itself.
//
// Upgrading is safe while other hosts start at once: each step re-reads the
// version inside its transaction, and write transactions of one database
// run one at a time on both engines, so a step runs once.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/sql_session.h"

struct SchemaStep {
  const char* catalog;     // "chat" or "count"
  int version;             // the version this step makes: the one before + 1
  const char* sqlite;      // the statements on each engine, ';' between them;
  const char* postgresql;  // no literal values (statements are parameterized)
  const char* what;        // for the log: "the conversation id counter"
};

// Every step, in order of version within each catalog.
std::span<const SchemaStep> SchemaSteps();
// The version the last step of `catalog` makes; 1 when it has none.
int LatestSchemaVersion(std::string_view catalog,
                        std::span<const SchemaStep> steps = SchemaSteps());

// Brings database `database` on `login`'s server, a `catalog` database
// ("chat" or "count", whose steps apply), to the latest version of `steps`,
// for the configured engine. `applied` (may be null) gets one line per step run
// ("chat: version 2, the conversation id counter"). False with `error` when
// the database cannot be reached, a step fails (that step leaves nothing;
// the steps before it stay), or the database is newer than this program.
bool UpgradeSchema(const SqlLogin& login, std::string_view catalog, std::string_view database,
                   std::vector<std::string>* applied, std::string* error,
                   std::span<const SchemaStep> steps = SchemaSteps(), SqlFault fault = {});
