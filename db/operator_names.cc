#include "db/operator_names.h"

#include "db/db_recordset.h"
#include "db/db_statement.h"

std::string LookupOperatorName(CDbConnection& connection, LONG id) {
  std::string name;
  CDbRecordset rs;
  if (OpenQuery(connection, rs, "select name from userinfo where ID=" + std::to_string(id)) &&
      HasRow(rs)) {
    rs.GetFieldText("name", name);
  }
  rs.Close();
  return name;
}
