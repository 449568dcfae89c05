// The site's databases on a database server (PostgreSQL): the chat and count
// databases the sessions name (DBName, DBCount) at DBServer. Both present:
// used as they are. Neither: created (with the demo data when asked for),
// as `zelto init-db` makes them. Only one, or a server that cannot be reached or refuses
// the credentials: refused, with the reason, and nothing is changed.
#pragma once

#include <optional>
#include <string>

#include "host/serve/data_folder.h"

namespace zelto::serve {

// A database login as a command line gives it; each part only when given.
struct DatabaseLogin {
  std::optional<std::string> engine;  // "sqlite", "postgresql"
  std::optional<std::string> server;  // HOST[:PORT] or a socket directory
  std::optional<std::string> user, password;
};

struct DatabaseServer {
  std::string address;  // HOST[:PORT] or a socket directory: DBServer
  std::string user, password;
};

// On the configured database engine. `message` says what was done or why
// the server is refused.
DataFolderResult PrepareDatabaseServer(const DatabaseServer& server, bool demo,
                                       std::string* message);

}  // namespace zelto::serve
