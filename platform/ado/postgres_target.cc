#include "platform/ado/postgres_target.h"

#include <cctype>

#include "platform/com/ascii.h"

namespace zelto::ado {
namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

PostgresTarget PostgresTargetFrom(const ConnectionString& target) {
  PostgresTarget pg;
  const std::string& source = target.data_source;
  pg.host = source;
  size_t sep = source.find_last_of(":,");
  if (sep != std::string::npos && sep > 0 && AllDigits(source.substr(sep + 1))) {
    pg.host = source.substr(0, sep);
    pg.port = source.substr(sep + 1);
  }
  pg.database = LowerAscii(target.initial_catalog);
  pg.user = target.user_id;
  pg.password = target.password;
  return pg;
}

PostgresTarget WithDatabase(PostgresTarget target, const std::string& catalog) {
  target.database = LowerAscii(catalog);
  return target;
}

LibpqParamArrays::LibpqParamArrays(
    const std::vector<std::pair<std::string, std::string>>& params) {
  for (const auto& [k, v] : params) {
    keys.push_back(k.c_str());
    values.push_back(v.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
}

std::vector<std::pair<std::string, std::string>> PostgresTarget::Params() const {
  std::vector<std::pair<std::string, std::string>> params;
  auto add = [&](const char* key, const std::string& value) {
    if (!value.empty()) params.emplace_back(key, value);
  };
  add("host", host);
  add("port", port);
  add("dbname", database);
  add("user", user);
  add("password", password);
  params.emplace_back("connect_timeout", "5");
  params.emplace_back("client_encoding", "UTF8");
  params.emplace_back("application_name", "zelto");
  // ISO dates ("2024-05-20 09:15:02") and a fixed money format, whatever the
  // server's defaults.
  params.emplace_back("options", "-c DateStyle=ISO,YMD -c lc_monetary=C");
  return params;
}

std::string PostgresTarget::Location() const {
  std::string where = host.empty() ? "(default server)" : host;
  if (!port.empty()) where += ":" + port;
  return where + "/" + database;
}

}  // namespace zelto::ado
