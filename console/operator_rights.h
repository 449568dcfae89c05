// Rights to the console lists: an operator sees a list when the Popedom of
// his userinfo row is 1 or 2, or when the list's own flag is not 0.
#pragma once

#include <string>

#include "db/db_connection.h"

// Runs `rights_sql` (a select of the operator's userinfo row) on `connection`
// and reads `list_flag` ("Invite" for the visitor list, "conview" for the
// monitor), then Popedom; an unreadable field counts as 0. False when the
// select fails or finds no row.
bool HasConsoleRights(CDbConnection& connection, const std::string& rights_sql,
                      const char* list_flag);
