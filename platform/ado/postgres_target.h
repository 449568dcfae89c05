// Where a connection string points on PostgreSQL: Data Source is host[:port]
// (also "host,port", SQL Server's way of giving a port) or, when it starts
// with "/", the directory of the server's Unix socket (with ":port" when the
// server does not use the default one); Initial Catalog is the
// database, folded to lower case as the server folds unquoted names, so that
// "ZeltoChat" and "zeltochat" name one database; User ID and PWD are the
// credentials. Empty parts are left to libpq's defaults (PGHOST and so on).
#pragma once

#include <string>
#include <vector>

#include "platform/ado/connection_string.h"

namespace zelto::ado {

struct PostgresTarget {
  std::string host;  // name, address or socket directory; empty for the default
  std::string port;  // empty for the default
  std::string database;
  std::string user;
  std::string password;

  // libpq keywords and values, for PQconnectdbParams (never a conninfo text,
  // so nothing in a value can add a keyword of its own).
  std::vector<std::pair<std::string, std::string>> Params() const;
  // "host:port/database" for messages.
  std::string Location() const;
};

// Keyword and value arrays for PQconnectdbParams / PQconnectStartParams, each
// ending in a null; they point into `params`, which must outlive them.
struct LibpqParamArrays {
  explicit LibpqParamArrays(const std::vector<std::pair<std::string, std::string>>& params);
  std::vector<const char*> keys, values;
};

PostgresTarget PostgresTargetFrom(const ConnectionString& target);
// The same server and credentials, another database.
PostgresTarget WithDatabase(PostgresTarget target, const std::string& catalog);

}  // namespace zelto::ado
