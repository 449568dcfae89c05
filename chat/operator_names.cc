#include "chat/operator_names.h"

#include "chat/db_statement.h"
#include "chat/format_text.h"
#include "db/db_recordset.h"

std::string LookupOperatorName(CDbConnection& connection, LONG id) {
  std::string name;
  CDbRecordset rs;
  if (OpenQuery(connection, rs, FormatText("select name from userinfo where ID=%d", id)) &&
      HasRow(rs)) {
    rs.GetFieldText("name", name);
  }
  rs.Close();
  return name;
}
