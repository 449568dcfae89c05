// The site's data folder: the databases (DBServer of the sessions) and the
// attachments (files/). A missing or empty folder gets new databases with
// the demo data; a folder that holds anything but the site's own files is
// refused, so `zelto serve` never writes into a folder meant for something
// else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

enum class DataFolderResult { kReady, kCreated, kRefused };

// `message` says what was done or why the folder is refused. Databases
// already there are brought to the latest schema version first.
DataFolderResult PrepareDataFolder(const std::string& dir, std::string* message);

// Databases already there: kReady after their schema upgrade, with `using`
// and a line per step applied in `message`; kRefused with the reason when
// the upgrade fails.
DataFolderResult UseExistingDatabases(const SiteDatabase& db, const std::string& using_text,
                                      std::string* message);

struct DemoLogin {
  LONG id;
  const char* name;
  const char* password;
};
// The demo operators whose demo password still works in `db`.
std::vector<DemoLogin> WorkingDemoLogins(const SiteDatabase& db);

}  // namespace zelto::serve
