// The site's databases as the administration commands (operator, company,
// purge, visitor) name them: --data DIR on SQLite, or the database login
// of a PostgreSQL server, as `zelto call` takes them. Opening does what a
// start of the site does: new, empty databases when there are none (so that
// a new site's first command is `zelto company add`), else their schema
// brought to this program's version.
#pragma once

#include <memory>
#include <string>

#include "host/command_line.h"
#include "host/serve/database_server.h"
#include "host/serve/site_database.h"

namespace zelto {

struct SiteDatabaseOptions {
  std::string data_dir = "./data";
  serve::DatabaseLogin login;
};

// Adds --data and the database login group (its password options named
// after `password_option`, see AddDatabaseLoginOptions).
void AddSiteDatabaseOptions(CommandLine& line, SiteDatabaseOptions* options,
                            const std::string& password_option = "--password");

// Null with `error` (and `usage` true for an option's fault, such as an
// unknown engine) when the databases cannot be used.
std::unique_ptr<serve::SiteDatabase> OpenSiteDatabase(const SiteDatabaseOptions& options,
                                                      bool* usage, std::string* error);

// Reads a new password: from `file` when given (its first line), else from
// the terminal twice without echo, else standard input's first line.
// False with `error` when it cannot be read, the two differ, or it is too
// short.
bool ReadNewPassword(const std::optional<std::string>& file, std::string* password,
                     std::string* error);

}  // namespace zelto
