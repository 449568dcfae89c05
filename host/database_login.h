// The database login options every command that reaches a database shares:
// --engine, --server, --user, and the password as --password or
// --password-file (its first line, so that it never shows in the process
// list). One rule for the password: one of the two, once.
#pragma once

#include "host/command_line.h"
#include "host/serve/database_server.h"

namespace zelto {

// Adds the group, under its own heading, filling `login`.
void AddDatabaseLoginOptions(CommandLine& line, serve::DatabaseLogin* login);

}  // namespace zelto
