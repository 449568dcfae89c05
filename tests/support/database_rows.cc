#include "tests/support/database_rows.h"

#include <gtest/gtest.h>

namespace zelto::testing {

std::vector<std::vector<std::string>> DatabaseRows(ado::Engine* engine,
                                                   const ado::ConnectionString& target,
                                                   const std::string& sql) {
  std::string error;
  ado::ResultSet rs;
  auto connection = engine->Connect(target, &error);
  std::vector<std::vector<std::string>> rows;
  if (!connection || !connection->Execute(sql, &rs, &error)) {
    ADD_FAILURE() << sql << ": " << error;
    return rows;
  }
  for (size_t r = 0; r < rs.RowCount(); ++r) {
    rows.emplace_back();
    for (size_t c = 0; c < rs.columns.size(); ++c) {
      const ado::SqlValue& v = rs.At(r, c);
      rows.back().push_back(v.kind == ado::SqlValue::Kind::kInteger ? std::to_string(v.integer)
                                                                    : v.bytes);
    }
  }
  return rows;
}

}  // namespace zelto::testing
