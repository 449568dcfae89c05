// The database login options every command that reaches a database shares:
// --engine, --server, --user, and the password as --password or
// --password-file (its first line, so that it never shows in the process
// list). One rule for the password: one of the two, once.
#pragma once

#include "host/command_line.h"
#include "host/serve/database_server.h"

namespace zelto {

// Adds the group, under its own heading, filling `login`. A command whose
// own --password means something else names the database's
// `password_option` ("--db-password", giving --db-password-file too).
void AddDatabaseLoginOptions(CommandLine& line, serve::DatabaseLogin* login,
                             const std::string& password_option = "--password");

}  // namespace zelto
