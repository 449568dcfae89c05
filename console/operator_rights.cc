#include "console/operator_rights.h"

#include "db/db_recordset.h"
#include "db/db_statement.h"

bool HasConsoleRights(CDbConnection& connection, const std::string& rights_sql,
                      const char* list_flag) {
  CDbRecordset rights;
  if (!OpenQuery(connection, rights, rights_sql) || !HasRow(rights)) return false;
  LONG flag = 0;
  LONG popedom = 0;
  rights.GetFieldLong(list_flag, flag);
  rights.GetFieldLong("Popedom", popedom);
  rights.Close();
  return popedom == 1 || popedom == 2 || flag != 0;
}
