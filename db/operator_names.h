// The display name of an operator, as every sender line and list shows it.
// It sits with the database session because the chat methods (sender lines,
// the transfer's message) and the console lists (conversation members) both
// show operator names and neither layer may include the other; it needs
// nothing but a connection, no page.
#pragma once

#include <string>

#include "db/db_connection.h"
#include "platform/com/hresult.h"

// Column `name` of the `userinfo` row with ID `id`, read as page text; empty
// text when there is no such row or the query fails. One select per call, no
// cache.
std::string LookupOperatorName(CDbConnection& connection, LONG id);
