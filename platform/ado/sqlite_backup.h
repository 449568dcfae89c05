// Copies of SQLite database files that are consistent while other
// connections (a running site) read and write them: SQLite's online
// backup, page by page, started again by SQLite when a writer changes the
// source meanwhile. Used by `zelto backup` and `zelto restore`.
#pragma once

#include <string>

namespace ado {

// Writes a copy of the database file `source` to `target`, which must not
// exist. False with the reason when the source cannot be read (missing,
// not a database, busy past the time limit) or the target written; a
// partial target is removed then.
bool BackupSqliteFile(const std::string& source, const std::string& target, std::string* error);

// Opens `path` read-only and runs SQLite's quick check on it. False with
// the reason for a missing, unreadable or damaged database.
bool CheckSqliteFile(const std::string& path, std::string* error);

}  // namespace ado
