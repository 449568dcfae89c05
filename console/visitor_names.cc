#include "console/visitor_names.h"

#include "db/db_recordset.h"
#include "db/db_statement.h"
#include "db/sql_values.h"

std::string LookupVisitorNickName(CDbConnection& connection, const std::string& label,
                                  TextLanguage language) {
  CDbRecordset visitor;
  if (!OpenQuery(connection, visitor,
                 "select NickName from onlineCst where cstlabel='" + SqlQuoted(label) + "'")) {
    return {};
  }
  std::string name;
  if (HasRow(visitor)) {
    visitor.GetFieldText("nickname", name);
  } else {
    name = CatalogText(language, ComponentText::kVisitorPrefix) + label;
  }
  visitor.Close();
  return name;
}
