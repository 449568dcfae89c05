#include "tests/support/seeded_database.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <strings.h>

#include "platform/ado/connection_pool.h"
#include "platform/ado/engine.h"

namespace zelto::testing {
namespace {

std::string ReadSchema(const std::string& name) {
  std::ifstream in(std::string(ZELTO_SOURCE_DIR) + "/db/schema/sqlite/" + name);
  if (!in) ADD_FAILURE() << "cannot read db/schema/sqlite/" << name;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string ValueText(const ado::SqlValue& v) {
  switch (v.kind) {
    case ado::SqlValue::Kind::kInteger:
      return std::to_string(v.integer);
    case ado::SqlValue::Kind::kReal: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", v.real);
      return buf;
    }
    case ado::SqlValue::Kind::kNull:
      return "";
    default:
      return v.bytes;
  }
}

bool Run(const std::string& folder, std::string_view catalog, std::string_view sql,
         ado::ResultSet* result) {
  ado::ConnectionString target;
  target.provider = "SQLOLEDB.1";
  target.data_source = folder;
  target.initial_catalog = std::string(catalog);
  std::string error;
  auto connection = ado::GetDatabaseEngine()->Connect(target, &error);
  if (!connection || !connection->Execute(sql, result, &error)) {
    ADD_FAILURE() << "on " << catalog << ": " << error << "\nin: " << sql;
    return false;
  }
  return true;
}

}  // namespace

bool SeededColumnLess::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

SeededDatabase::SeededDatabase(bool demo) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zelto-db-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    ADD_FAILURE() << "cannot make a scratch folder from " << pattern;
    return;
  }
  folder_ = pattern;
  for (const char* catalog : {"chat", "count"}) {
    std::string script = ReadSchema(std::string(catalog) + ".sql");
    if (demo) script += "\n" + ReadSchema(std::string(catalog) + "_demo.sql");
    std::string error;
    if (!ado::CreateDatabase(folder_, catalog, script, false, &error)) ADD_FAILURE() << error;
  }
}

SeededDatabase::~SeededDatabase() {
  if (folder_.empty()) return;
  // Pooled sessions would keep the removed files open.
  ado::ConnectionPool::Instance().CloseIdle();
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string SeededDatabase::ConnectionString(std::string_view catalog) const {
  return "Provider=SQLOLEDB.1; Data Source=" + folder_ + "; Initial Catalog=" +
         std::string(catalog) + "; User ID=; PWD=";
}

void SeededDatabase::Execute(std::string_view catalog, std::string_view sql) {
  ado::ResultSet result;
  Run(folder_, catalog, sql, &result);
}

std::vector<SeededRow> SeededDatabase::Query(std::string_view catalog, std::string_view sql) {
  ado::ResultSet result;
  std::vector<SeededRow> rows;
  if (!Run(folder_, catalog, sql, &result)) return rows;
  for (size_t r = 0; r < result.RowCount(); ++r) {
    SeededRow row;
    // The first column of a name wins, as field lookup by name does.
    for (size_t c = 0; c < result.columns.size(); ++c) {
      row.emplace(result.columns[c].name, ValueText(result.At(r, c)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string SeededDatabase::Scalar(std::string_view catalog, std::string_view sql) {
  ado::ResultSet result;
  if (!Run(folder_, catalog, sql, &result) || result.RowCount() == 0) return "";
  return ValueText(result.At(0, 0));
}

}  // namespace zelto::testing
