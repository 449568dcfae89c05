// Stepping through the rows of a console list. A recordset whose select
// failed reads as neither BOF nor EOF and cannot move, so every reading loop
// steps with NextRow and ends on the first failed move.
#pragma once

#include "db/db_recordset.h"

// Moves to the next row; false when the rows are exhausted or the move
// failed.
bool NextRow(CDbRecordset& rows);
