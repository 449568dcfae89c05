// The OLE DB connection string: "key=value; key=value ...". Keys are
// case-insensitive and blanks around keys and values are trimmed; a value may
// be enclosed in single or double quotes (a doubled quote stands for one).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zelto::ado {

struct ConnectionString {
  std::string provider;
  std::string data_source;      // also "Server", "Address"
  std::string initial_catalog;  // also "Database"
  std::string user_id;          // also "UID", "User"
  std::string password;         // "PWD" or "Password"

  // One canonical text per distinct target, used to key connection pools.
  std::string PoolKey() const;
};

// nullopt when a segment has no '=' or a quoted value is not closed. Unknown
// keys are accepted and ignored, as providers ignore properties they lack.
std::optional<ConnectionString> ParseConnectionString(std::string_view text);

}  // namespace zelto::ado
