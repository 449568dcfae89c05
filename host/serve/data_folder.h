// The site's data folder: the databases (DBServer of the sessions) and the
// attachments (files/). A folder without databases gets new ones (with the
// demo data when asked for). Other entries may be there (dot files, lost+found of a mounted
// volume, backups); only what would clash with the site's own is refused:
// a database or files/ of the wrong kind, one database without the other, a
// journal left without its database.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/serve/site_database.h"

namespace zelto::serve {

enum class DataFolderResult { kReady, kCreated, kRefused };

// Changes nothing: kReady when both databases are there, kCreated when
// PrepareDataFolder would make them, kRefused with the reason in `message`.
DataFolderResult CheckDataFolder(const std::string& dir, std::string* message);
// CheckDataFolder, then the databases made when missing, or those already
// there brought to the latest schema version; `message` says what was done
// or why the folder is refused.
// New databases are empty but for the schema, or hold the demo data set
// with `demo`.
DataFolderResult PrepareDataFolder(const std::string& dir, bool demo, std::string* message);

// One `zelto serve` (or restore) per SQLite data folder at a time: an
// exclusive advisory lock (flock) on the folder itself, let go with this
// object or when the process ends however it ends. Nothing is written into
// the folder for it.
class DataFolderLock {
 public:
  // Null, with the reason, when another process holds the folder or it
  // cannot be opened. The folder must exist.
  static std::unique_ptr<DataFolderLock> Take(const std::string& dir, std::string* error);
  ~DataFolderLock();
  DataFolderLock(const DataFolderLock&) = delete;
  DataFolderLock& operator=(const DataFolderLock&) = delete;

 private:
  explicit DataFolderLock(int fd) : fd_(fd) {}
  int fd_;
};

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
// "" when `db` may serve: with `demo`, or when no demo operator's published
// password opens it; else why the site is refused.
std::string RefusedDemoLogins(const SiteDatabase& db, bool demo);

}  // namespace zelto::serve
