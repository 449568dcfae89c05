#include "console/query_rows.h"

#include "db/db_statement.h"

bool NextRow(CDbRecordset& rows) { return rows.MoveNext() && HasRow(rows); }
